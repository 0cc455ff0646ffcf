# bench_effects: rain and clouds with their default presets on a 12-megapixel photo, cold and warm.
add_executable(bench_effects ${CMAKE_CURRENT_LIST_DIR}/effects_bench.cpp)
target_link_libraries(bench_effects PRIVATE elemorama_render Qt5::Gui)
target_compile_definitions(bench_effects PRIVATE ELEMORAMA_SAMPLES_DIR="${PROJECT_SOURCE_DIR}/samples")
