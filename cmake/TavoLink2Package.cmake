# The Debian package: `cpack -G DEB` in the build directory writes
# tavolink2_3.5.3.2_<arch>.deb holding everything `cmake --install` installs,
# under /usr. Its dependencies are computed from the ELF files by
# dpkg-shlibdeps (Debian package dpkg-dev).
set(CPACK_PACKAGE_NAME tavolink2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TavoLink2")
set(CPACK_PACKAGE_CONTACT "TavoLink2 maintainers <tavolink2@example.org>"
  CACHE STRING "Maintainer of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "host-side driver library for TAVO GSM modules on serial ports")
# Debian shows the long description as it stands: lines kept below 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "TavoLink2 is a C library (with a C++ core) that production, test and\n"
  "service stations use to drive TAVO GSM radio modules on up to 16 serial\n"
  "ports at once: identify a module, read and write its parameter sections,\n"
  "IMEI and production records, back them up and restore them, and flash\n"
  "new module software through its boot loader.\n"
  "This package holds the shared library with its C header, pkg-config and\n"
  "CMake package files, a stand-in IMEI vault library and the module\n")
if(TARGET tavolink)
  string(APPEND CPACK_PACKAGE_DESCRIPTION
    "simulator tavosim, and the command-line tool tavolink, with their man\npages.")
else()
  string(APPEND CPACK_PACKAGE_DESCRIPTION "simulator tavosim with its man page.")
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from the ELF files, and a shlibs file with ldconfig triggers for
# the library that the package itself provides.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

include(CPack)
