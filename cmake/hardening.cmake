# The hardening Debian builds its packages with (dpkg-buildflags with
# hardening=+all), in every build: the package is built no differently from
# what the tests run, and lintian and hardening-check find nothing to report.

# Position-independent executables. Qt's targets ask for -fPIC on whatever
# links them (Qt is built with reduce-relocations), which wins over -fPIE and
# still makes a position-independent executable once it is linked with -pie.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)

add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)

# _FORTIFY_SOURCE checks buffer sizes the optimiser works out, so it does
# nothing (and glibc warns) without optimisation. The sanitizers check the
# same calls better, and the fortified variants would hide the calls from them.
if(NOT VARIK_SANITIZE AND NOT VARIK_FUZZ)
    add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
endif()

# Full RELRO: the relocations are resolved at start and their table made
# read-only, so a stray write cannot redirect a library call.
add_link_options(LINKER:-z,relro LINKER:-z,now)
