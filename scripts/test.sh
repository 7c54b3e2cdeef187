#!/usr/bin/env bash
# Installs what is missing, builds Varik twice (plain, and with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs every test in both builds, then
# runs each fuzz target for a minute (scripts/fuzz.sh). Then it builds the
# .deb and checks it as installed (scripts/test-package.sh). Last, it checks
# that scripts/install-deps.sh brings every package those builds and the
# tests used (scripts/check-install-closure.sh), and tests that check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Qt and fontconfig keep a few allocations for the life of the process.
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0

status=0
for variant in plain asan; do
    dir=$root/build-test-$variant
    opts=()
    [ "$variant" = asan ] && opts+=(-DVARIK_SANITIZE=ON)
    echo "== $variant build"
    "$root/scripts/build.sh" "$dir" "${opts[@]}"
    echo "== $variant tests"
    (cd "$dir" && ctest --output-on-failure -j2 --timeout 600) || status=1
done
if command -v clang++ >/dev/null; then
    echo "== fuzz targets"
    "$root/scripts/fuzz.sh" || status=1
else
    echo "== fuzz targets skipped: clang++ is missing (scripts/install-deps.sh installs it)" >&2
fi
echo "== package"
"$root/scripts/test-package.sh" || status=1
echo "== install closure"
folders=("$root/build-test-plain" "$root/build-test-asan" "$root/build-test-package")
if command -v clang++ >/dev/null; then folders+=("${FUZZ_BUILD_DIR:-$root/build-fuzz}"); fi
"$root/scripts/check-install-closure.sh" "${folders[@]}" || status=1
"$root/scripts/test-install-closure-check.sh" "$root/build-test-plain" || status=1
exit $status
