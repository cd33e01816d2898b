# The command line as a Debian package: `cpack -G DEB` in the build folder makes
# sectorsieve_<version>_<architecture>.deb with the program, its manual page and its bash
# completion (the install rules in cli/), and what Debian asks of every package beside them.
include(GNUInstallDirs)
set(SECTORSIEVE_DEB_MAINTAINER "Orlep <orlep.sectorsieve@example.org>"
  CACHE STRING "Maintainer of the Debian package, as \"Name <address>\"")
# The changelog's date: the build's, or SOURCE_DATE_EPOCH's for a reproducible one.
string(TIMESTAMP SECTORSIEVE_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
# What the package does, said once for its description and its changelog: every command.
set(SECTORSIEVE_DEB_SUMMARY
  "list, check, extract, pack, add, remove, rename and compact IMG archives")
set(deb_doc ${CMAKE_BINARY_DIR}/debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${deb_doc}/changelog @ONLY)
# Compressed as Debian wants it: at most, without a name or time inside.
execute_process(COMMAND gzip -9nc ${deb_doc}/changelog OUTPUT_FILE ${deb_doc}/changelog.gz
  COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${deb_doc}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sectorsieve)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sectorsieve)
set(CPACK_PACKAGE_VENDOR Orlep)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${SECTORSIEVE_DEB_SUMMARY}")
# The long description, below the summary.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "An IMG archive is a .img file of 2048-byte sectors with a .dir file of
32-byte records beside it. sectorsieve lists its entries (also as JSON),
checks what extraction would refuse, extracts them into a folder, each
file whole or not at all, packs a folder's files into a new archive, and
adds, removes, renames and compacts entries in place, every change whole
or not at all. Entry names are read in the Windows code page the archive
was made in.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SECTORSIEVE_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies as the program file links them (dpkg-shlibdeps, from dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
