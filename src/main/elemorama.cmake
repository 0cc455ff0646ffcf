# elemorama: our own master and stand-alone host (elemorama edit IN -o OUT ...).
add_executable(elemorama ${CMAKE_CURRENT_LIST_DIR}/elemorama_host.cpp ${CMAKE_CURRENT_LIST_DIR}/host/HostCommandLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/host/HostCommandLine.h)
target_link_libraries(elemorama PRIVATE elemorama_oxf elemorama_imageio)
add_dependencies(elemorama elemorama-fx)
