# The Debian package: `make package` (cpack -G DEB in build/release) writes
# pigeonpost_<version>_<arch>.deb. Dependencies come from dpkg-shlibdeps; the maintainer
# scripts only reload the udev rules (the icon cache and menus follow through triggers).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pigeonpost)
set(CPACK_PACKAGE_VENDOR Koravel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tray mail checker: tells you when new mail arrives")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Postwatch lives in the notification area of the desktop and checks POP3 and IMAP4 mail "
    "accounts on their own schedules. It keeps the headers of new messages, applies filter "
    "rules and tells the user about new mail with a sound, a flashing tray icon, a popup or "
    "the notebook's mail light.")
set(CPACK_PACKAGE_CONTACT "Koravel <support@koravel.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Program PackageFiles)
set(CPACK_DEBIAN_PACKAGE_NAME pigeonpost)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the package's own plug-in libraries through the program's RUNPATH.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
                                       ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
