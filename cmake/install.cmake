# Installing the host program and packaging it for Debian:
#   cmake --install build/host [--prefix DIR]     bin/, share/man/man1/, share/doc/
#   cpack --preset deb                             build/packages/regswitch_*.deb
include(GNUInstallDirs)

set(REGSWITCH_PACKAGE_CONTACT "Varnholt developers <regswitch@varnholt.invalid>"
    CACHE STRING "The package's maintainer, as Debian writes it: name <address>")

install(TARGETS regswitch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page and the changelog carry the version set in project(), and
# are compressed as Debian wants them: gzip -9, no name or time stamp, so
# that every build makes the same bytes.
set(man ${PROJECT_BINARY_DIR}/regswitch.1)
set(changelog ${PROJECT_BINARY_DIR}/changelog)
configure_file(docs/regswitch.1.in ${man} @ONLY)
configure_file(docs/changelog.in ${changelog} @ONLY)
find_program(REGSWITCH_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${man}.gz ${changelog}.gz
  COMMAND ${REGSWITCH_GZIP} -9nkf ${man} ${changelog}
  DEPENDS ${man} ${changelog}
  COMMENT "Compressing the manual page and the changelog"
  VERBATIM)
add_custom_target(regswitch_docs ALL DEPENDS ${man}.gz ${changelog}.gz)
install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/copyright ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME regswitch)
set(CPACK_PACKAGE_VENDOR "Varnholt Software")
# MIT. The package carries the licence in share/doc/regswitch/copyright
# (Debian's format, License: Expat); generators that show a licence take
# LICENSE.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CONTACT "${REGSWITCH_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "switch Windows 95 machine settings in a registry file")
set(CPACK_PACKAGE_DESCRIPTION
    "regswitch applies six Windows 95 machine settings (APM suspend on the\n"
    "Start menu, display DDC, CD-ROM auto-insert notification, IDE DMA, the\n"
    "DeskMgmt component's marker, AC drive spin-down) to a registry file\n"
    "offline: a REGEDIT4 or Version 5.00 export, or the SYSTEM.DAT of a\n"
    "Windows 95, 98 or Me machine, for example from an emulator's disk image.\n"
    "It shows the settings a file holds, previews changes as a .reg fragment\n"
    "and saves a file only by replacing it whole, with every byte it did not\n"
    "change kept.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# --image runs mtools' commands on the disk image, and QEMU's qemu-nbd on
# images in other formats than raw.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mtools, qemu-utils")
include(CPack)
