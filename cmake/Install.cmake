# Installation: on Windows a zip of the programs, the driver helper and the README; elsewhere the Debian package
# with the programs, the driver helper and the simulator in bin, a man page for each in
# share/man/man1, the README and the licences in share/doc/belvane.
if(WIN32)
  # On Windows a zip (cpack -G ZIP): the two programs, the helper that runs drivers for
  # Belvane (found beside it) and the README in one folder. They are linked statically and
  # need nothing else.
  install(TARGETS Belvane LumbraPorts belvane-devhost RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  set(CPACK_PACKAGE_NAME belvane)
  set(CPACK_PACKAGE_VENDOR "${BELVANE_PUBLISHER}")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_SYSTEM_NAME windows-x86_64)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_STRIP_FILES ON)
  include(CPack)
  return()
endif()

include(GNUInstallDirs)
set(BELVANE_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/belvane)

install(TARGETS Belvane LumbraPorts belvane-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The helper that runs driver libraries for the device manager: Belvane looks for it beside
# itself. Installed without write permission for group and others, as the device manager
# demands of what it runs.
install(TARGETS belvane-devhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                    WORLD_EXECUTE)
# The simulator's default bench and the captures it replays, where the installed
# belvane-sim looks for them (../share/belvane/ from its own folder).
install(FILES tools/simulator/default.bench DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/belvane)
install(FILES tools/simulator/captures/tn200.log tools/simulator/captures/neo-m8n.log
              tools/simulator/captures/blumax-gps009.log
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/belvane/captures)
install(FILES man/Belvane.1 man/LumbraPorts.1 man/belvane-sim.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md tools/simulator/captures/COPYING.gpsd DESTINATION ${BELVANE_DOCDIR})
# Morvex.dll stays out: it is a sample of the virtual port driver that the "Virtual:" line
# names, built for the demonstration and the tests. A real driver comes from its vendor and
# belongs beside the user's own copy of Belvane, not in bin/.

set(CPACK_PACKAGE_NAME belvane)
set(CPACK_PACKAGE_VENDOR "${BELVANE_PUBLISHER}")
set(CPACK_PACKAGE_CONTACT "${BELVANE_PUBLISHER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${BELVANE_WEBSITE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serial-port utilities: GPS and radar detector finder, port lister")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY belvane)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The run-time libraries (libc, libstdc++, ncursesw) as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
