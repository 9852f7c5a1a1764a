# What `cmake --install` puts where, and the packages CPack makes of it (the `package`
# target): a Debian package on Linux, a zip of the three programs on Windows.
# scripts/package.sh builds either, optimised and without tests, and checks it. Both take
# their version from project(VERSION ...), as the programs' About boxes and version
# resources do.

set(CPACK_PACKAGE_NAME "zuvobox")
set(CPACK_PACKAGE_VENDOR "Zuvo Box")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Two-radio contest station box: WinKeyer and OTRSP ports for contest loggers")
set(CPACK_PACKAGE_CONTACT "Zuvo Box <zuvobox@localhost>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # Everything at the top of the zip: the programs are linked statically and need nothing
  # beside them.
  install(TARGETS ZuvoBox ZuvoBoxUtility zuvobox-rtty RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_FILE_NAME "ZuvoBox-${PROJECT_VERSION}-win64")
else()
  include(GNUInstallDirs)
  install(TARGETS ZuvoBox ZuvoBoxUtility zuvobox-rtty RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Under the /usr prefix: /usr/lib/udev/rules.d, where udev reads packaged rules.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/70-zuvobox.rules
          DESTINATION lib/udev/rules.d)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/desktop/zuvobox.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/desktop/zuvobox.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zuvobox)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The udev rule takes effect for a box plugged in after installing; reload the rules so
  # that it does without a restart.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
