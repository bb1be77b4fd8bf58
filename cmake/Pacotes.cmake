# Debian packages, three from one build (cpack -G DEB in the build folder):
#   libpinpad4     component runtime  the shared library
#   libpinpad-dev  component dev      headers, development link, libpinpad.a,
#                                     pinpad.pc, CMake package, pinpad(3)
#   pinpad-tools   component tools    the programs and their man pages
# Configure with -DCMAKE_INSTALL_PREFIX=/usr so that the library lands in the
# multiarch folder (lib/<triplet>) and pinpad.pc names /usr.
set(PINPAD_DEB_REVISAO 1 CACHE STRING "Debian revision of the packages")
set(PINPAD_MANTENEDOR "Pinpad maintainers <pinpad@example.org>" CACHE STRING "Maintainer field of the packages")
set(_versao_deb ${PROJECT_VERSION}-${PINPAD_DEB_REVISAO})

# Each package carries its copyright file and the Debian changelog.
set(_changelog_gz ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${_changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
          ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
  COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog VERBATIM)
add_custom_target(changelog_debian ALL DEPENDS ${_changelog_gz})
foreach(_par IN ITEMS runtime:libpinpad4 dev:libpinpad-dev tools:pinpad-tools)
  string(REPLACE ":" ";" _par ${_par})
  list(GET _par 0 _componente)
  list(GET _par 1 _pacote)
  string(TOUPPER ${_componente} _C)
  set(CPACK_DEBIAN_${_C}_PACKAGE_NAME ${_pacote})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${_changelog_gz}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_pacote} COMPONENT ${_componente}
    EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pinpad)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${PINPAD_MANTENEDOR}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/pacotes)
# pinpad.pc is written with the prefix seen at install time: install straight
# under /usr in the staging folder rather than under a staging prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
# Debian ships man pages gzip-compressed; the install rules put plain ones.
# Binaries lose the .comment and .note sections, as Debian's strip does.
set(CPACK_PINPAD_OBJCOPY ${CMAKE_OBJCOPY})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/ComprimeManuais.cmake
    ${PROJECT_SOURCE_DIR}/cmake/LimpaBinarios.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${PINPAD_DEB_REVISAO})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Programs of pinpad-tools link libpinpad.so.4 from this build, not yet installed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# shlibs: programs built against libpinpad.so.4 depend on libpinpad4 of this
# version or later. The ldconfig trigger refreshes the loader cache.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "pinpad client library
libpinpad drives payment pinpads from an application: the PP_* function set
(open, display, keys, PIN entry, encryption, card reading, EMV chip steps),
a framed CRC-checked serial protocol, a host link mode with a triple-DES
message envelope, SC5000 pinpad commands and a binary trace.

This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libpinpad4 (= ${_versao_deb})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "pinpad client library - development files
libpinpad drives payment pinpads from an application through the PP_*
function set, over a serial line or a host link.

This package holds the C headers, the development link, the static library,
the pkg-config file, the CMake package (pinpad::pinpad, pinpad::pinpad_static)
and the pinpad(3) manual page.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
# dpkg-shlibdeps cannot see the shlibs of a package not installed yet: the
# dependency on the library is stated here, the rest is computed.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libpinpad4 (>= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "pinpad check, simulator and trace tools
Kolvar checks whether the pinpad on a serial port meets the M4120 pinpad
requirements; simpinpad simulates a pinpad on a pseudo-terminal; letrace
prints the library's binary trace files; geractl writes and reads the key
control file of host link mode; pinpadctl diagnoses and drives one pinpad
from the shell; kolvar-lote runs Kolvar on many pinpads at once.")

include(CPack)
