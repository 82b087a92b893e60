# Installation: `cmake --install <build> [--prefix DIR]` lays out
#
#   <libdir>/libtavolink2.so.3.5.3, .so.3, .so   the library and its links
#   <libdir>/libTavoVault.so                     the stand-in vault, beside the library:
#                                                the library's run path $ORIGIN finds it
#   <includedir>/tavolink2.h                     the public header
#   <libdir>/pkgconfig/tavolink2.pc              for pkg-config
#   <libdir>/cmake/TavoLink2/                    for find_package(TavoLink2)
#   <bindir>/tavosim, <bindir>/tavolink          the programs (tavolink when it is built)
#   <mandir>/man1/tavosim.1.gz, tavolink.1.gz    their man pages
#
# Test programs, benchmarks and fuzz targets have no install rule: they are
# never installed.
include(CMakePackageConfigHelpers)

option(TAVOLINK_MAN_PAGES "Generate the programs' man pages with help2man" ON)

set(TAVOLINK_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TavoLink2)

# --- The library, the header and the vault ---------------------------------------
# The exported target takes its header directory from the target's own
# INSTALL_INTERFACE include directory.
install(TARGETS tavolink2 EXPORT TavoLink2Targets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/tavolink2.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The vault is loaded by name at run time, never linked: it goes beside the
# library and is not part of the exported package.
install(TARGETS TavoVault LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# --- The programs ---------------------------------------------------------------
# A program finds the library through its run path relative to itself, so an
# installed tree works wherever it is put (a temporary prefix, /opt, /usr).
set(TAVOLINK_INSTALLED_PROGRAMS tavosim)
if(TARGET tavolink)
  list(APPEND TAVOLINK_INSTALLED_PROGRAMS tavolink)
endif()
foreach(program IN LISTS TAVOLINK_INSTALLED_PROGRAMS)
  set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# --- Man pages --------------------------------------------------------------------
# help2man writes each page from the program's own --help and --version, so
# the page never falls behind the options. Debian keeps man pages gzipped.
set(TAVOLINK_MAN_NAME_tavosim "serve a simulated TAVO GSM module on a pseudo-terminal")
set(TAVOLINK_MAN_NAME_tavolink "drive TAVO GSM modules on serial ports from the command line")
if(TAVOLINK_MAN_PAGES)
  find_program(HELP2MAN_EXECUTABLE help2man)
  if(NOT HELP2MAN_EXECUTABLE)
    message(FATAL_ERROR "help2man not found: the man pages of the programs are generated with it. "
                        "Install the Debian package help2man (or configure with "
                        "-DTAVOLINK_MAN_PAGES=OFF to build without man pages).")
  endif()
  set(man_pages)
  foreach(program IN LISTS TAVOLINK_INSTALLED_PROGRAMS)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND}
        -DHELP2MAN=${HELP2MAN_EXECUTABLE}
        -DPROGRAM=$<TARGET_FILE:${program}>
        "-DNAME=${TAVOLINK_MAN_NAME_${program}}"
        -DVERSION=${PROJECT_VERSION}
        -DOUTPUT=${page}
        -P ${CMAKE_CURRENT_LIST_DIR}/ManPage.cmake
      DEPENDS ${program} ${CMAKE_CURRENT_LIST_DIR}/ManPage.cmake
      COMMENT "Generating the man page of ${program}"
      VERBATIM)
    list(APPEND man_pages ${page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# --- pkg-config -------------------------------------------------------------------
# The prefix is only known when installing (`--prefix`, or /usr inside the
# Debian package), so the file is completed then: the build writes a template
# with everything else filled in, and the install step fills in the prefix.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  set(PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
set(PC_PREFIX "@PC_PREFIX@")  # kept for the install step
configure_file(${CMAKE_CURRENT_LIST_DIR}/tavolink2.pc.in ${CMAKE_BINARY_DIR}/tavolink2.pc.in @ONLY)
install(CODE "set(TAVOLINK_PC_TEMPLATE [[${CMAKE_BINARY_DIR}/tavolink2.pc.in]])
set(TAVOLINK_PC_LIBDIR [[${CMAKE_INSTALL_LIBDIR}]])")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallPkgConfig.cmake)

# --- find_package(TavoLink2) ------------------------------------------------------
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TavoLink2Config.cmake.in
  ${CMAKE_BINARY_DIR}/TavoLink2Config.cmake
  INSTALL_DESTINATION ${TAVOLINK_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/TavoLink2ConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(EXPORT TavoLink2Targets
  NAMESPACE TavoLink2::
  DESTINATION ${TAVOLINK_CMAKE_PACKAGE_DIR})
install(FILES
  ${CMAKE_BINARY_DIR}/TavoLink2Config.cmake
  ${CMAKE_BINARY_DIR}/TavoLink2ConfigVersion.cmake
  DESTINATION ${TAVOLINK_CMAKE_PACKAGE_DIR})
