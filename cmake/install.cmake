# What `cmake --install` puts where: the three programs, and the menu entry of
# the window with its AppStream data and icons. The id names the menu entry,
# the AppStream component and the icon alike, as the desktop specs ask.
include(GNUInstallDirs)

set(VARIK_APP_ID io.github.varik.Varik)

install(TARGETS varik varik-cli varik-meter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/${VARIK_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/${VARIK_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/varik-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME ${VARIK_APP_ID}.png)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/varik.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${VARIK_APP_ID}.svg)

install(FILES ${PROJECT_SOURCE_DIR}/res/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varik)
