# bench_compositing: blend members, resampling and the effects' blurs on 12-megapixel data.
add_executable(bench_compositing ${CMAKE_CURRENT_LIST_DIR}/CompositingBench.cpp)
target_link_libraries(bench_compositing PRIVATE elemorama_datastorage elemorama_filters_common)
