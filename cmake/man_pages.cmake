# The man pages varik(1), varik-cli(1), varik-meter(1) and varikd(8): help2man
# turns each program's --help and --version into a page, and
# res/man/<program>.h2m adds what --help does not say (exit status, files,
# examples). The service is a system administration command, hence section 8. Pages are made at
# build time from the programs just built, so they never fall behind.
#
# Sanitized and fuzz builds leave them out: nobody installs those, and running
# their programs at build time would put leak reports in the way.
if(VARIK_SANITIZE OR VARIK_FUZZ)
    set(_varik_man_default OFF)
else()
    set(_varik_man_default ON)
endif()
option(VARIK_MAN_PAGES "Make the man pages with help2man and install them" ${_varik_man_default})
if(NOT VARIK_MAN_PAGES)
    return()
endif()

include(GNUInstallDirs)
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
    message(FATAL_ERROR "help2man makes the man pages: install it (scripts/install-deps.sh) "
                        "or configure with -DVARIK_MAN_PAGES=OFF")
endif()

set(_varik_pages)
foreach(entry varik:1 varik-cli:1 varik-meter:1 varikd:8)
    string(REPLACE ":" ";" entry ${entry})
    list(GET entry 0 program)
    list(GET entry 1 section)
    set(include ${PROJECT_SOURCE_DIR}/res/man/${program}.h2m)
    set(page ${PROJECT_BINARY_DIR}/man/${program}.${section})
    # The help texts hold Russian words: help2man reads them in a UTF-8
    # locale, or they come out as question marks. gzip -n keeps no time stamp.
    add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${HELP2MAN} --locale=C.UTF-8 --no-info --no-discard-stderr --section=${section}
                --include=${include} --output=${page} $<TARGET_FILE:${program}>
        COMMAND gzip -9nf ${page}
        DEPENDS ${program} ${include}
        COMMENT "Making the man page ${program}.${section}"
        VERBATIM)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    list(APPEND _varik_pages ${page}.gz)
endforeach()
add_custom_target(varik-man-pages ALL DEPENDS ${_varik_pages})
