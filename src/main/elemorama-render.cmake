# elemorama-render: the headless batch renderer. Its work (files in, effect, file out) is the
# library elemorama_render, which the tests link too.
file(GLOB render_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/render/*.cpp ${CMAKE_CURRENT_LIST_DIR}/render/*.h)
add_library(elemorama_render STATIC ${render_sources})
target_include_directories(elemorama_render PUBLIC ${ELEMORAMA_SRC})
target_link_libraries(elemorama_render PUBLIC elemorama_effects elemorama_imageio elemorama_cmm elemorama_datastorage
  elemorama_settings Qt5::Gui)
add_executable(elemorama-render ${CMAKE_CURRENT_LIST_DIR}/elemorama_render.cpp)
target_link_libraries(elemorama-render PRIVATE elemorama_render)
