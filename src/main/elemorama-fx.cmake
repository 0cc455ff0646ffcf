# elemorama-fx: the effect process, started by a master with --master-link=<pad>.
add_executable(elemorama-fx ${CMAKE_CURRENT_LIST_DIR}/elemorama_fx.cpp ${CMAKE_CURRENT_LIST_DIR}/fxbatch/EffectBatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fxbatch/EffectBatch.h ${CMAKE_CURRENT_LIST_DIR}/fxwindow/WindowRun.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fxwindow/WindowRun.h)
# The effect engine serves the window-less (batch) runs, the effect window the interactive ones.
target_link_libraries(elemorama-fx PRIVATE elemorama_oxf elemorama_render elemorama_ui)
