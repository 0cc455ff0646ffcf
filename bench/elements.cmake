# bench_elements: the fire, frost, water, lightning and rainbow renderers on a 12-megapixel photo, cold and warm.
add_executable(bench_elements ${CMAKE_CURRENT_LIST_DIR}/ElementsBench.cpp)
target_link_libraries(bench_elements PRIVATE elemorama_effects Qt5::Gui)
target_compile_definitions(bench_elements PRIVATE
  ELEMORAMA_SHARED_SAMPLES_DIR="${PROJECT_SOURCE_DIR}/../shared/samples")
