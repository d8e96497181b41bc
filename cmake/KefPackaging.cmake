# The Debian package (`make package`, or `cpack -G DEB` in a build tree):
# one package holding everything `make install` installs (libraries,
# headers, CMake and pkg-config files, tools, the host, the AUTODELETE
# plug-in, the examples and the systemd unit), under /usr as a package's
# files belong, where `make install` uses /usr/local.
set(CPACK_PACKAGE_NAME kef)
set(CPACK_PACKAGE_VENDOR "KEF developers")
set(CPACK_PACKAGE_CONTACT "KEF developers <kef@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "KEF service framework: libraries, service host and tools")
set(CPACK_PACKAGE_DESCRIPTION
  "Framework for services that a host process loads as plug-ins: the core and\n"
  "utility libraries with their headers, the request database, the kefhost host\n"
  "program with its systemd unit, the AUTODELETE plug-in and the command-line\n"
  "tools.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})

# The files name the prefix they are installed into (the systemd unit,
# kef.pc), and those are written at install time: installing through DESTDIR
# makes that prefix /usr rather than CPack's staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The run-time libraries the programs and libraries link (ACE, SQLite, the
# C++ run-time, and whatever else they come to link) are read off the
# binaries by dpkg-shlibdeps (package dpkg-dev, with `file`).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Building a plug-in against the package needs these headers and tools too.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cmake, g++, pkg-config, libace-dev, libboost-dev")
# Debug information stays in the build tree; gzip is quick to make.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)

# `cpack --config CPackSourceConfig.cmake` (make package_source): the sources
# without the build trees and the repository.
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/\\\\.cache/")

include(CPack)
