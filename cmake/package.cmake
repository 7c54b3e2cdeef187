# `cpack -G DEB` in a build folder makes varik_<version>_<arch>.deb out of the
# install rules (scripts/package.sh does the whole thing). dpkg-shlibdeps
# works out Depends from the libraries the programs link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Varik maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reads power-quality meters over serial lines")
set(CPACK_PACKAGE_DESCRIPTION
    "Varik checks the connection to an electrical power-quality meter, unlocks an
access level with a password, reads the per-second, per-minute and day
statistics into three lists of named values, saves any list to a text file,
and can poll the per-second values on a timer while recording them to a file.

The package holds the window (varik), the same commands for scripts
(varik-cli), a system service that reads many meters on several lines
unattended into daily CSV files (varikd; installed, not enabled) and a
simulated meter on a pseudo-terminal for trying them without hardware
(varik-meter).")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Varik maintainers <maintainers@users.noreply.c-seed-876abfdf.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside the libraries dpkg-shlibdeps finds: Qt loads its display backends as
# plugins at run time, where dpkg-shlibdeps cannot see them. Debian 12 has the
# X11 one in libqt6gui6 (in Depends already) and the others in
# qt6-qpa-plugins, which libqt6gui6 only recommends. The printed report
# sets its Cyrillic in DejaVu Sans, a font no library links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core")
# Qt's own texts (standard buttons, file dialogs) in Russian.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
# The service's configuration is a conffile, so an upgrade keeps the
# administrator's changes. The maintainer scripts are what dh_installsystemd
# writes for a unit that is installed and not enabled (res/debian/postinst
# says which). Strict permissions: 0644 for conffiles, 0755 for the scripts.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/res/debian/conffiles
    ${PROJECT_SOURCE_DIR}/res/debian/postinst
    ${PROJECT_SOURCE_DIR}/res/debian/prerm
    ${PROJECT_SOURCE_DIR}/res/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The package's changelog. Its latest entry takes the project's version and
# the maintainer above, so neither can disagree with the package. A new
# release puts its own entry on top (with these two placeholders), and the
# entry below it gets its version and maintainer written out. The package is
# native (its version has no Debian revision), so the file is changelog.gz.
configure_file(${PROJECT_SOURCE_DIR}/res/changelog.in ${PROJECT_BINARY_DIR}/package-doc/changelog @ONLY)
add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/package-doc/changelog.gz
    COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/package-doc/changelog
    DEPENDS ${PROJECT_BINARY_DIR}/package-doc/changelog
    COMMENT "Compressing the package's changelog"
    VERBATIM)
add_custom_target(varik-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/package-doc/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/package-doc/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varik)
install(FILES ${PROJECT_SOURCE_DIR}/res/lintian/varik DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)

include(CPack)
