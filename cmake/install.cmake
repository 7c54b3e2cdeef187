# What `cmake --install` puts where: the three programs, and the menu entry of
# the window with its AppStream data and icons. The id names the menu entry,
# the AppStream component and the icon alike, as the desktop specs ask.
include(GNUInstallDirs)

set(VARIK_APP_ID io.github.varik.Varik)

install(TARGETS varik varik-cli varik-meter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripping install (the package's, CPACK_STRIP_FILES) also drops what
# dh_strip drops: the compilers' names and versions in .comment and the
# empty .note section, which nothing reads at run time.
string(CONFIGURE [[
    if(CMAKE_INSTALL_DO_STRIP)
        foreach(program varik varik-cli varik-meter)
            execute_process(
                COMMAND "@CMAKE_STRIP@" --remove-section=.comment --remove-section=.note
                        "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@/${program}"
                COMMAND_ERROR_IS_FATAL ANY)
        endforeach()
    endif()
]] _varik_strip_sections @ONLY)
install(CODE "${_varik_strip_sections}")

install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/${VARIK_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/${VARIK_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/varik-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME ${VARIK_APP_ID}.png)
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/varik.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${VARIK_APP_ID}.svg)

install(FILES ${PROJECT_SOURCE_DIR}/res/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varik)
