# bench_datastorage: data movement of the tiled image data and the jobs pool's overhead.
add_executable(bench_datastorage ${CMAKE_CURRENT_LIST_DIR}/bench_datastorage.cpp)
target_link_libraries(bench_datastorage PRIVATE elemorama_datastorage elemorama_mt)
