# Install step of tavolink2.pc: fills the install prefix of this very install
# into the template the build wrote, and installs the result. Run from
# cmake_install.cmake, where CMAKE_INSTALL_PREFIX is the prefix being
# installed to (`cmake --install --prefix DIR`, or /usr when CPack builds the
# Debian package under DESTDIR); TAVOLINK_PC_TEMPLATE and TAVOLINK_PC_LIBDIR
# are set just before.
#
# Each prefix (and DESTDIR) gets its own copy in the build tree, so that two
# installs of the same build at once never hand each other their file.
set(PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
string(MD5 key "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
get_filename_component(build_dir ${TAVOLINK_PC_TEMPLATE} DIRECTORY)
set(pc_file ${build_dir}/pkgconfig/${key}/tavolink2.pc)
configure_file(${TAVOLINK_PC_TEMPLATE} ${pc_file} @ONLY)
if(IS_ABSOLUTE "${TAVOLINK_PC_LIBDIR}")
  set(destination "${TAVOLINK_PC_LIBDIR}/pkgconfig")
else()
  set(destination "${CMAKE_INSTALL_PREFIX}/${TAVOLINK_PC_LIBDIR}/pkgconfig")
endif()
file(INSTALL DESTINATION ${destination} TYPE FILE FILES ${pc_file})
