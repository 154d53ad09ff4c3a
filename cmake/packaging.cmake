# Installation under the application identifier, and the Debian package (make install,
# make package).
include(GNUInstallDirs)

install(TARGETS Tovrin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/local.tovrin.mac.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/local.tovrin.mac.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The program's own resource folder (a bundled ffmpeg may be placed here).
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_DATADIR}/tovrin)
install(FILES ${PROJECT_SOURCE_DIR}/src/ui/icons/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tovrin RENAME ICONS-LICENSE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tovrin developers <dev@tovrin.local>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Downloads Yandex Disk public links and videos from video platforms")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6dbus6 (>= 6.4), libqt6svg6 (>= 6.4), qt6-qpa-plugins, libcurl4, libssl3, libarchive13, libicu72, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "yt-dlp, ffmpeg, qt6-translations-l10n")
include(CPack)
