# Install rules. Components:
#   runtime  the shared library (libpinpad.so.4 and its real file)
#   dev      headers, development link, libpinpad.a, pinpad.pc, CMake package, pinpad(3)
#   tools    the programs and their man pages (rules beside each program), an
#            example of udev rules for a USB pinpad
# The stand-in EMV library, the test host and the benchmarks are not installed.
include(CMakePackageConfigHelpers)

set(PINPAD_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/pinpad)

install(TARGETS pinpad EXPORT pinpadTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(TARGETS pinpad_static EXPORT pinpadTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES
    ${PROJECT_SOURCE_DIR}/include/pinpad/pinpad.h
    ${PROJECT_SOURCE_DIR}/include/pinpad/ppcomp.h
    ${PROJECT_SOURCE_DIR}/include/pinpad/sc5000.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pinpad COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/pinpad/pinpad.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT dev)

# CMake package: imported targets pinpad::pinpad and pinpad::pinpad_static,
# relocatable (paths are relative to the package's own folder).
install(EXPORT pinpadTargets NAMESPACE pinpad:: DESTINATION ${PINPAD_CMAKEDIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/pinpadConfig.cmake.in
  ${PROJECT_BINARY_DIR}/pinpadConfig.cmake INSTALL_DESTINATION ${PINPAD_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/pinpadConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/pinpadConfig.cmake ${PROJECT_BINARY_DIR}/pinpadConfigVersion.cmake
  DESTINATION ${PINPAD_CMAKEDIR} COMPONENT dev)

# pinpad.pc names the prefix the tree is installed under, which is known only
# at install time (cmake --install --prefix, or the packages' /usr): the file is
# written then, from a template whose other paths are fixed now.
foreach(_dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${_dir}}")
    set(PC_${_dir} "${CMAKE_INSTALL_${_dir}}")
  else()
    set(PC_${_dir} "\${prefix}/${CMAKE_INSTALL_${_dir}}")
  endif()
endforeach()
# What libpinpad.a needs besides itself: the loader (EMV library), threads
# (trace lock); nothing from the C++ runtime.
set(PC_LIBS_PRIVATE "-ldl -lpthread")
set(PC_PREFIXO "@PC_PREFIXO@")
configure_file(${PROJECT_SOURCE_DIR}/cmake/pinpad.pc.in ${PROJECT_BINARY_DIR}/pinpad.pc.in @ONLY)
install(CODE "
  set(PC_PREFIXO \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/pinpad.pc.in\" \"${PROJECT_BINARY_DIR}/pinpad.pc\" @ONLY)
" COMPONENT dev)
install(FILES ${PROJECT_BINARY_DIR}/pinpad.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# The udev rules a user with a USB pinpad starts from (kept out of the modem
# manager's probe, port for the dialout group): an example beside the tools'
# documentation, not active rules.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/70-pinpad.rules
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pinpad-tools/examples COMPONENT tools)
