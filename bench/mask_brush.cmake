# bench_mask_brush: the mask tools' stamp on a 12-megapixel mask (one dab, a stroke) and the
# strokes file's encode and decode.
add_executable(bench_mask_brush ${CMAKE_CURRENT_LIST_DIR}/MaskBrushBench.cpp)
target_link_libraries(bench_mask_brush PRIVATE elemorama_framework Qt5::Gui)
