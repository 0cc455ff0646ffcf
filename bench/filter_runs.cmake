# bench_filter_runs: the effect object's runs as the window drives them (rain on 12 MP): from a
# finished slider change to the result in the document, and the interface thread's longest stall.
add_executable(bench_filter_runs ${CMAKE_CURRENT_LIST_DIR}/FilterRunsBench.cpp)
target_link_libraries(bench_filter_runs PRIVATE elemorama_framework Qt5::Widgets)
target_compile_definitions(bench_filter_runs PRIVATE
  ELEMORAMA_SHARED_SAMPLES_DIR="${PROJECT_SOURCE_DIR}/../shared/samples")
