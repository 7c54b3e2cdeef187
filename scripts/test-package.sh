#!/usr/bin/env bash
# Builds the .deb with scripts/package.sh and checks it as installed.
#   scripts/test-package.sh [BUILD-DIR]      (default build-test-package/)
# The package is unpacked into a throwaway root, the same files dpkg would put
# in place (its maintainer scripts only tell systemd about the service's unit,
# and lintian checks them), so the check needs neither root nor a network and
# leaves the machine as it was; apt-get --simulate then shows that this
# machine would take it with its computed dependencies.
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
# Qt's display plugins are not libraries anything links, so dpkg-shlibdeps
# cannot find them: the package holding the X11 one, which the window starts
# with, must be in Depends itself, as must qt6-qpa-plugins with the others.
xcb=$(dpkg -S '*/qt6/plugins/platforms/libqxcb.so' | head -n 1 | cut -d: -f1) || fail "no package here holds Qt's xcb plugin"
for package in ${xcb:-} qt6-qpa-plugins; do
    grep -q "\b$package\b" <<<"$depends" || fail "Depends lacks $package (Qt's display plugins)"
done
grep -q qt6-translations-l10n <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "qt6-translations-l10n is not recommended"
apt-get install --simulate -q "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get would not install $deb"; }

# Exactly the four programs, and nothing of the tests.
programs=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed -n 's|^\./usr/bin/||p' | grep . | sort | tr '\n' ' ')
[ "$programs" = "varik varik-cli varik-meter varikd " ] || fail "usr/bin holds: $programs"
# varik-report, which varik-cli runs for a report's PDF, is no command of its own.
helpers=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed -n 's|^\./usr/libexec/||p' | grep -v '/$' | grep . | sort | tr '\n' ' ')
[ "$helpers" = "varik/varik-report " ] || fail "usr/libexec holds: $helpers"
grep -q '\bfonts-dejavu-core\b' <<<"$depends" || fail "Depends lacks fonts-dejavu-core (the report's font)"
if dpkg-deb -c "$deb" | grep -Ei 'test|bench|fuzz'; then fail "the package holds test files"; fi

# Lintian finds no error and no warning; its notes are shown for a reader.
lintian --fail-on none --display-info --no-tag-display-limit "$deb" >"$work/lintian.log" 2>"$work/lintian.err" \
    || { cat "$work/lintian.err" >&2; fail "lintian did not run"; }
cat "$work/lintian.log"
if grep -E '^[EW]: ' "$work/lintian.log" >/dev/null; then fail "lintian: $(grep -cE '^[EW]: ' "$work/lintian.log") errors and warnings"; fi

dest=$work/root
dpkg-deb -x "$deb" "$dest"

# Every library a program links comes with Depends: its package is there
# (varikd's libsystemd0 and libtomlplusplus3 beside Qt's, varik-report's
# libqcustomplot2.1 and Qt's print support).
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for program in bin/varik bin/varik-cli bin/varik-meter bin/varikd libexec/varik/varik-report; do
    for lib in $(readelf -d "$dest/usr/$program" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
        package=$(dpkg -S "*/$multiarch/$lib" 2>/dev/null | head -n 1 | cut -d: -f1)
        grep -q "\b${package:-?}\b" <<<"$depends" || fail "$program links $lib, but Depends lacks its package ${package:-(none found)}"
    done
done

# The programs are built hardened: PIE, stack protector, fortified libc calls,
# full RELRO with immediate binding. Control-flow protection (IBT, SHSTK) is
# left out of the check: Debian 12's C start files are built without it, so
# no program linked here carries the mark.
# varik-report is built with the same flags, but calls no libc function that
# fortification guards (its only candidates, memcpy, memmove and memset, get
# sizes the compiler knows), so hardening-check cannot see the mark there.
for program in bin/varik bin/varik-cli bin/varik-meter bin/varikd libexec/varik/varik-report; do
    skip=()
    [ "$program" != libexec/varik/varik-report ] || skip=(--nofortify)
    hardening-check --nocfprotection "${skip[@]}" "$dest/usr/$program" || fail "hardening-check $program"
    if readelf -S "$dest/usr/$program" | grep -Eq '\s\.comment\s'; then fail "$program keeps its .comment section"; fi
done

# The changelog, whose latest entry is this version by the package's maintainer
# and dated like the AppStream release.
changelog=$dest/usr/share/doc/varik/changelog.gz
if gzip -t "$changelog" 2>/dev/null; then
    zcat "$changelog" >"$work/changelog"
    entry() { dpkg-parsechangelog -l "$work/changelog" -S "$1"; }
    [ "$(entry Source)" = varik ] || fail "the changelog's package is $(entry Source)"
    [ "$(entry Version)" = "$version" ] || fail "the changelog's latest version is $(entry Version), not $version"
    [ "$(entry Maintainer)" = "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "the changelog is signed by $(entry Maintainer)"
    released=$(sed -n 's/.*<release version="[^"]*" date="\([0-9-]*\)".*/\1/p' "$dest/usr/share/metainfo/$id.metainfo.xml" | head -n 1)
    [ "$(date -u -d "$(entry Date)" +%F)" = "$released" ] || fail "the changelog is dated $(entry Date), the release $released"
else
    fail "$changelog is missing or not gzip"
fi

# The programs start from where they are installed; help and version need no
# display (DISPLAY and WAYLAND_DISPLAY unset, no offscreen platform).
for program in varik varik-cli varik-meter varikd; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$dest/usr/bin/$program" --help 2>&1) \
        || fail "$program --help failed: $out"
    grep -q '^Usage:' <<<"$out" || fail "$program --help printed no usage: $out"
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$dest/usr/bin/$program" --version 2>&1) \
        || fail "$program --version failed: $out"
    [ "$out" = "$program $version" ] || fail "$program --version printed: $out"
done

# A report's PDF from the installed varik-cli, which hands it to varik-report
# in /usr/libexec/varik, without a display: two Минута rows read by the
# installed varik-cli from the installed simulator make the log.
mkdir "$work/site"
"$dest/usr/bin/varik-meter" --link "$work/meter" >"$work/meter.log" 2>&1 &
meter=$!
for _ in $(seq 50); do [ -e "$work/meter" ] && break; sleep 0.1; done
"$dest/usr/bin/varik-cli" --port "$work/meter" --device 1 record --set minute --csv "$work/site/log.csv" \
    --interval 1 --count 2 >"$work/record.log" 2>&1 || fail "varik-cli record --set minute: $(cat "$work/record.log")"
kill "$meter" 2>/dev/null; wait "$meter" 2>/dev/null || true
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$dest/usr/bin/varik-cli" report --pdf "$work/report.pdf" \
    "$work/site/log.csv" 2>&1) || fail "varik-cli report --pdf failed: $out"
[ "$(head -c 5 "$work/report.pdf" 2>/dev/null)" = "%PDF-" ] || fail "varik-cli report --pdf wrote no PDF: $out"


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
for page in man1/varik.1 man1/varik-cli.1 man1/varik-meter.1 man8/varikd.8; do
    program=$(basename "$page" | cut -d. -f1)
    volume=${page##*.}
    page=$dest/usr/share/man/$page.gz
    if ! text=$(LANG=C.UTF-8 MANWIDTH=80 man -l "$page" 2>"$work/man.err"); then
        fail "man -l $page failed"
        continue
    fi
    [ ! -s "$work/man.err" ] || fail "man -l $page warned: $(cat "$work/man.err")"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'EXIT STATUS'; do
        grep -q "^$section\$" <<<"$text" || fail "man page $program($volume) has no $section section"
    done
    grep -Eq "^ *$program +- " <<<"$text" || fail "man page $program($volume) names no $program"
    grep -q "$program $version" <<<"$text" || fail "man page $program($volume) shows no version $version"
done
grep -q '^FILES$' <<<"$(LANG=C.UTF-8 man -l "$dest/usr/share/man/man1/varik.1.gz")" || fail "varik(1) has no FILES section"
text=$(LANG=C.UTF-8 man -l "$dest/usr/share/man/man8/varikd.8.gz")
for section in CONFIGURATION FILES SIGNALS JOURNAL 'SEE ALSO'; do
    grep -q "^$section\$" <<<"$text" || fail "varikd(8) has no $section section"
done

# The service: its unit, installed and not enabled (no link to it in the
# package), and its example configuration, a conffile that configures no meter.
unit=$dest/lib/systemd/system/varikd.service
config=/etc/varik/varikd.toml
[ -f "$unit" ] || fail "the package has no $unit"
[ -f "$dest$config" ] || fail "the package has no $config"
if grep -E '^\s*\[' "$dest$config"; then fail "$config configures a line of meters"; fi
if dpkg-deb -c "$deb" | grep -F '.wants/'; then fail "the package enables a unit itself"; fi
[ "$(dpkg-deb -I "$deb" conffiles 2>/dev/null)" = "$config" ] || fail "conffiles is not just $config: $(dpkg-deb -I "$deb" conffiles 2>&1)"
# systemd-analyze verify checks the unit against the programs it names and its
# Documentation= against the man pages: here the installed varikd and the
# installed varikd(8). An unknown or misspelt setting is only a message, so
# any message fails.
mkdir "$work/unit"
sed "s|/usr/bin/varikd|$dest/usr/bin/varikd|" "$unit" >"$work/unit/varikd.service"
if ! MANPATH=$dest/usr/share/man systemd-analyze verify "$work/unit/varikd.service" >"$work/verify.log" 2>&1 \
    || [ -s "$work/verify.log" ]; then
    fail "systemd-analyze verify varikd.service: $(cat "$work/verify.log")"
fi
# varikd reads the secrets of /etc/varik from the copies this hands over
# (varik_<name>), so the two must agree.
grep -qx 'LoadCredential=varik:/etc/varik' "$unit" || fail "$unit does not hand /etc/varik to varikd as its credentials"
# How much of the system the service's sandbox leaves open, on systemd's
# scale from 0 (nothing) to 10; any option dropped from the sandbox shows here.
exposure=$(systemd-analyze security --offline=true "$work/unit/varikd.service" 2>&1 \
    | sed -n 's/.*Overall exposure level for varikd.service: \([0-9.]*\).*/\1/p')
echo "systemd-analyze security: exposure ${exposure:-unknown} of 10"
awk -v e="${exposure:-99}" 'BEGIN { exit !(e <= 2.0) }' || fail "varikd.service's exposure is ${exposure:-unknown}, above 2.0"
# The example is a good configuration as installed, and so are the meters and
# the broker it shows once their lines are taken out of comments (the password,
# certificate and key files it names are made here, root's alone as the
# example asks, so that no warning is due).
out=$("$dest/usr/bin/varikd" --check-config "$dest$config" 2>&1) || fail "varikd --check-config $config: $out"
sed -E 's/^#([a-z_]+ =|\[)/\1/' "$dest$config" | sed "s|\"/etc/varik/|\"$work/|" >"$work/enabled.toml"
grep -q '^\[\[line\.meter\]\]' "$work/enabled.toml" || fail "$config shows no meter to take out of comments"
grep -q '^\[mqtt\]' "$work/enabled.toml" || fail "$config shows no broker to take out of comments"
for file in $(sed -n 's/^[a-z]*_file = "\(.*\)"/\1/p' "$work/enabled.toml"); do echo 2222 >"$file"; chmod 600 "$file"; done
out=$("$dest/usr/bin/varikd" --check-config "$work/enabled.toml" 2>&1) || fail "varikd --check-config on $config's meters: $out"
if grep -q 'warning:' <<<"$out"; then fail "varikd --check-config on $config's meters warns: $out"; fi

if [ $failures -gt 0 ]; then
    echo "package test: $failures failures" >&2
    exit 1
fi
echo "package test: $(basename "$deb") builds, installs and checks out"
