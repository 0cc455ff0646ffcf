# bench_sky: the night-sky and sun renderers on a 12-megapixel photo, cold and warm, with the peers when installed.
add_executable(bench_sky ${CMAKE_CURRENT_LIST_DIR}/SkyBench.cpp)
target_link_libraries(bench_sky PRIVATE elemorama_effects Qt5::Gui)
target_compile_definitions(bench_sky PRIVATE
  ELEMORAMA_SHARED_SAMPLES_DIR="${PROJECT_SOURCE_DIR}/../shared/samples")
