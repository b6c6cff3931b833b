# `make package`: a Debian package of the installed files. Its dependencies are what the
# binary links (found by dpkg-shlibdeps) and what it loads at run time: the GStreamer
# elements of the camera pipeline and Qt's desktop platforms. The face models it carries.
include(GNUInstallDirs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME verticora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Verticora contributors")
set(CPACK_PACKAGE_CONTACT "Verticora contributors <maintainers@verticora.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "silent posture reminders from your webcam")
set(CPACK_PACKAGE_DESCRIPTION [[Verticora lives in the system tray and watches you through your webcam while
you sit at your desk. You choose a comfortable sitting height once; from then on
a glow at the edges of your screens tells you when you sink below it.
Everything is analysed on your computer.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Every build gets a later package version, so that a newer build upgrades an older one.
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VERTICORA_BUILD})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, qt6-qpa-plugins, tzdata")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")

set(VERTICORA_LIBEXEC ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/verticora)
configure_file(${PROJECT_SOURCE_DIR}/data/debian/postinst.in ${PROJECT_BINARY_DIR}/debian/postinst @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
