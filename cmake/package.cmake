# The release package for Windows users: both programs and a read-me, in one ZIP file named
# after the version and the processor, e.g. SectorSieve-1.0-win64.zip.
install(TARGETS SectorSieve sectorsieve_cli RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/app/ReadMe.txt DESTINATION .)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(SECTORSIEVE_PACKAGE_SYSTEM win64)
else()
  set(SECTORSIEVE_PACKAGE_SYSTEM win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME SectorSieve)
set(CPACK_PACKAGE_VENDOR Orlep)
set(CPACK_PACKAGE_FILE_NAME "SectorSieve-${PROJECT_VERSION}-${SECTORSIEVE_PACKAGE_SYSTEM}")
# The files at the top of the ZIP file, where Windows shows them when it is opened.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
