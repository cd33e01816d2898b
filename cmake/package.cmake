# The release package for Windows users: both programs, the read-me and the licence, in one ZIP
# file named after the version and the processor, e.g. SectorSieve-1.0-win64.zip, whose files
# lie in one folder of the same name, as people expect to unzip one.
install(TARGETS SectorSieve sectorsieve_cli RUNTIME DESTINATION .)
# Text for Notepad and the like: Windows line ends, and the version the read-me is for.
set(package_text ${CMAKE_BINARY_DIR}/package)
configure_file(${PROJECT_SOURCE_DIR}/app/ReadMe.txt ${package_text}/ReadMe.txt @ONLY
  NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${package_text}/License.txt COPYONLY)
file(READ ${package_text}/License.txt license_text)
string(REGEX REPLACE "\r?\n" "\r\n" license_text "${license_text}")
file(WRITE ${package_text}/License.txt "${license_text}")
install(FILES ${package_text}/ReadMe.txt ${package_text}/License.txt DESTINATION .)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(SECTORSIEVE_PACKAGE_SYSTEM win64)
else()
  set(SECTORSIEVE_PACKAGE_SYSTEM win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME SectorSieve)
set(CPACK_PACKAGE_VENDOR Orlep)
set(CPACK_PACKAGE_FILE_NAME "SectorSieve-${PROJECT_VERSION}-${SECTORSIEVE_PACKAGE_SYSTEM}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# The programs as users get them carry no debugging sections (the static runtime's would make
# the console program four times its size); the build tree keeps them for the tests.
set(CPACK_STRIP_FILES ON)
include(CPack)
