# bench_hostlink: a 12 MP RGBA 16-bit image pulled and written back through the data pad by a real
# master (this program) and the effect process, against memcpy of the same bytes; and interactive
# runs through the effect window (start, load and show; write-back on Apply).
add_executable(bench_hostlink ${CMAKE_CURRENT_LIST_DIR}/hostlink.cpp)
target_link_libraries(bench_hostlink PRIVATE elemorama_oxf elemorama_imageio)
add_dependencies(bench_hostlink elemorama-fx)
