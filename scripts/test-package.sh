#!/usr/bin/env bash
# Builds the .deb with scripts/package.sh and checks it as installed.
#   scripts/test-package.sh [BUILD-DIR]      (default build-test-package/)
# The package is unpacked into a throwaway root, the same files dpkg would put
# in place (it has no maintainer scripts), so the check needs neither root nor
# a network and leaves the machine as it was; apt-get --simulate then shows
# that this machine would take it with its computed dependencies.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-test-package}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

version=$(sed -n 's/^project(Varik VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
id=io.github.varik.Varik

deb=$(cd "$work" && "$root/scripts/package.sh" "$dir" | tail -n 1)
expected=varik_${version}_$(dpkg --print-architecture).deb
[ "$(basename "$deb")" = "$expected" ] || fail "package file is $(basename "$deb"), not $expected"

# The control fields.
[ "$(dpkg-deb -f "$deb" Package)" = varik ] || fail "package name is not varik"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libqt6core6 libqt6widgets6 libqt6serialport6; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib (dpkg-shlibdeps did not run?)"
done
grep -q qt6-translations-l10n <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "qt6-translations-l10n is not recommended"
apt-get install --simulate -q "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get would not install $deb"; }

# Exactly the three programs, and nothing of the tests.
programs=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed -n 's|^\./usr/bin/||p' | grep . | sort | tr '\n' ' ')
[ "$programs" = "varik varik-cli varik-meter " ] || fail "usr/bin holds: $programs"
if dpkg-deb -c "$deb" | grep -Ei 'test|bench|fuzz'; then fail "the package holds test files"; fi

dest=$work/root
dpkg-deb -x "$deb" "$dest"

# The programs start from where they are installed; help and version need no
# display (DISPLAY and WAYLAND_DISPLAY unset, no offscreen platform).
for program in varik varik-cli varik-meter; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$dest/usr/bin/$program" --help 2>&1) \
        || fail "$program --help failed: $out"
    grep -q '^Usage:' <<<"$out" || fail "$program --help printed no usage: $out"
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$dest/usr/bin/$program" --version 2>&1) \
        || fail "$program --version failed: $out"
    [ "$out" = "$program $version" ] || fail "$program --version printed: $out"
done

# The menu entry and the AppStream data.
desktop=$dest/usr/share/applications/$id.desktop
metainfo=$dest/usr/share/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
appstreamcli validate --no-net "$metainfo" >"$work/as.log" 2>&1 || { cat "$work/as.log" >&2; fail "appstreamcli validate $metainfo"; }
for line in 'Name=Varik' 'Exec=varik' "Icon=$id"; do
    grep -qx "$line" "$desktop" || fail "$desktop has no line $line"
done
grep -q "<release version=\"$version\"" "$metainfo" || fail "$metainfo names no release $version"

# The icons the entry names.
png=$dest/usr/share/icons/hicolor/48x48/apps/$id.png
svg=$dest/usr/share/icons/hicolor/scalable/apps/$id.svg
file "$png" | grep -q 'PNG image data, 48 x 48,' || fail "$png is not a 48x48 PNG: $(file "$png")"
file "$svg" | grep -q 'SVG' || fail "$svg is not an SVG: $(file "$svg")"

# The man pages render without a warning, with the sections --help lacks.
for program in varik varik-cli varik-meter; do
    page=$dest/usr/share/man/man1/$program.1.gz
    if ! text=$(LANG=C.UTF-8 MANWIDTH=80 man -l "$page" 2>"$work/man.err"); then
        fail "man -l $page failed"
        continue
    fi
    [ ! -s "$work/man.err" ] || fail "man -l $page warned: $(cat "$work/man.err")"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS'; do
        grep -q "^$section\$" <<<"$text" || fail "man page $program(1) has no $section section"
    done
    grep -Eq "^ *$program +- " <<<"$text" || fail "man page $program(1) names no $program"
    grep -q "$program $version" <<<"$text" || fail "man page $program(1) shows no version $version"
done
grep -q '^FILES$' <<<"$(LANG=C.UTF-8 man -l "$dest/usr/share/man/man1/varik.1.gz")" || fail "varik(1) has no FILES section"

if [ $failures -gt 0 ]; then
    echo "package test: $failures failures" >&2
    exit 1
fi
echo "package test: $(basename "$deb") builds, installs and checks out"
