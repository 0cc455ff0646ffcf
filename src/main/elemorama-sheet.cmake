# elemorama-sheet: lays rendered images out on one downscaled, labelled contact sheet
# (scripts/contact-sheet drives it).
add_executable(elemorama-sheet ${CMAKE_CURRENT_LIST_DIR}/elemorama_sheet.cpp)
target_link_libraries(elemorama-sheet PRIVATE Qt5::Gui)
