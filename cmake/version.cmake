# The version is set once, in project(VERSION): this header carries it to the window's version
# record (app/SectorSieve.rc) and to the command line's --version.
if(PROJECT_VERSION_MINOR LESS 10)
  set(SECTORSIEVE_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(SECTORSIEVE_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/sectorsieve_version.h.in
  ${CMAKE_BINARY_DIR}/generated/version/sectorsieve_version.h @ONLY)
add_library(sectorsieve_version INTERFACE)
target_include_directories(sectorsieve_version INTERFACE ${CMAKE_BINARY_DIR}/generated/version)
