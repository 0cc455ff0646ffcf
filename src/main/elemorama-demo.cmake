# elemorama-demo: the quick-start demo (scripts/demo) on a shipped sample photo.
add_executable(elemorama-demo ${CMAKE_CURRENT_LIST_DIR}/elemorama_demo.cpp)
target_link_libraries(elemorama-demo PRIVATE elemorama_datastorage elemorama_mt Qt5::Gui)
