# The Debian package of Kestrel Loader: `make package` (or the target
# `package`, or `cpack -G DEB` in the build directory) turns the install
# rules of Install.cmake into kestrel-loader_<version>_<arch>.deb.
set(KESTREL_PACKAGE_MAINTAINER "Kestrel Loader maintainers <kestrel-loader@example.org>" CACHE STRING
  "Maintainer field of the Debian package")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "kestrel-loader")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Kestrel Loader")
set(CPACK_PACKAGE_CONTACT "${KESTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write firmware into the flash of the Kestrel programming box")
set(CPACK_PACKAGE_DESCRIPTION
  "Kestrel Loader sends a firmware image, Motorola S-records (.mot) or a raw
binary image (.bin), to the Kestrel programming box over a serial port or the
box's FTDI USB serial chip, and reads it back for verification when the box
asks for it.
This package holds the dialog kestrel-loader, the command-line tool
kestrel-flash, the box emulator kestrel-box for trying both without the
hardware, and a udev rule that lets the user at the seat reach the box.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The library packages (Qt, libftdi1, the C++ run time) come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# No source package from a tree full of build directories.
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/build-[^/]*/")

include(CPack)
