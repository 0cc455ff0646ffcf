# image_view_frames: the image window's frame times, OpenGL against raster, on a 12-megapixel image.
# It needs an X server, so bench/image_view.sh runs it under Xvfb (hence no bench_ prefix).
add_executable(image_view_frames ${CMAKE_CURRENT_LIST_DIR}/ImageViewBench.cpp)
target_link_libraries(image_view_frames PRIVATE elemorama_ui Qt5::Test)
