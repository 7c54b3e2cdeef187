#!/usr/bin/env bash
# Tests scripts/check-install-closure.sh: run with a copy of the install
# script that leaves out one package the build or the tests use, it must fail
# and name that package.
#   scripts/test-install-closure-check.sh BUILD-DIR   (a built Ninja build folder with the tests)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: $0 BUILD-DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Each package left out, and what uses it. The first three and x11-utils were
# once missing from the list, and no package named depends on them.
left_out=(
    libpaho-mqtt-dev   # its CMake package, MQTTAsync.h and libpaho-mqtt3as.so (varikd)
    libssl-dev         # libssl.so and libcrypto.so, linked with the MQTT client
    libgmock-dev       # GMock's targets, which GTest's CMake package reads
    xdotool            # the window's X11 tests type and click with it
    x11-utils          # xprop, which a window test asks for the stacking of windows
)

for package in "${left_out[@]}"; do
    copy=$work/install-deps-without-$package.sh
    # Out of the list's lines only (between "packages=(" and ")").
    sed -E "/^packages=\(/,/^\)/ s/(^|[[:space:]])$package([[:space:]]|$)/\1\2/" "$root/scripts/install-deps.sh" >"$copy"
    if bash "$copy" --list | grep -qx -- "$package" \
        || [ "$(bash "$copy" --list | wc -l)" -ne $(($(bash "$root/scripts/install-deps.sh" --list | wc -l) - 1)) ]; then
        fail "the copy of install-deps.sh without $package lists: $(bash "$copy" --list | tr '\n' ' ')"
        continue
    fi
    if "$root/scripts/check-install-closure.sh" --install-script "$copy" "$dir" >"$work/out" 2>&1; then
        fail "the check passed without $package"
    elif ! grep -q "^FAIL: $package is used" "$work/out"; then
        fail "the check failed without $package, but did not name it: $(cat "$work/out")"
    else
        echo "without $package: $(grep -A1 "^FAIL: $package is used" "$work/out" | tail -n 1 | sed 's/^ *//')"
    fi
done

if [ $failures -gt 0 ]; then
    echo "install closure check test: $failures failures" >&2
    exit 1
fi
echo "install closure check test: each package left out is named"
