# What `cmake --install` puts where: the four programs and varik-report, the
# menu entry of the window with its AppStream data and icons, and the
# service's unit and example configuration. The id names the menu entry,
# the AppStream component and the icon alike, as the desktop specs ask.
include(GNUInstallDirs)

set(VARIK_APP_ID io.github.varik.Varik)

install(TARGETS varik varik-cli varik-meter varikd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Not a command of its own: varik-cli runs it for a report's PDF.
install(TARGETS varik-report RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/varik)
# A stripping install (the package's, CPACK_STRIP_FILES) also drops what
# dh_strip drops: the compilers' names and versions in .comment and the
# empty .note section, which nothing reads at run time.
string(CONFIGURE [[
    if(CMAKE_INSTALL_DO_STRIP)
        foreach(program @CMAKE_INSTALL_BINDIR@/varik @CMAKE_INSTALL_BINDIR@/varik-cli @CMAKE_INSTALL_BINDIR@/varik-meter
                        @CMAKE_INSTALL_BINDIR@/varikd @CMAKE_INSTALL_LIBEXECDIR@/varik/varik-report)
            execute_process(
                COMMAND "@CMAKE_STRIP@" --remove-section=.comment --remove-section=.note
                        "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${program}"
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

# Debian keeps a package's configuration in /etc and its systemd units in
# /lib/systemd/system, outside the /usr prefix (cpack installs with that
# one); any other prefix gets both under itself, so that an install into a
# folder stays in that folder. The example configuration is a conffile of
# the package (cmake/package.cmake).
string(CONFIGURE [[
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
        set(root "")
    else()
        set(root "${CMAKE_INSTALL_PREFIX}")
    endif()
    file(INSTALL "@PROJECT_SOURCE_DIR@/res/varikd.toml" DESTINATION "${root}/etc/varik")
    file(INSTALL "@PROJECT_SOURCE_DIR@/res/systemd/varikd.service" DESTINATION "${root}/lib/systemd/system")
]] _varik_service_files @ONLY)
install(CODE "${_varik_service_files}")
