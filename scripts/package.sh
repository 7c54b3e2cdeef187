#!/usr/bin/env bash
# Builds the Debian package varik_<version>_<arch>.deb into the current folder.
#   scripts/package.sh [BUILD-DIR]      (default build-package/)
# A release build without the tests; its install rules are what the package
# holds: the three programs, the menu entry, icons, AppStream data, man pages.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-package}
"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DVARIK_TESTS=OFF -DVARIK_SANITIZE=OFF -DVARIK_FUZZ=OFF -DVARIK_MAN_PAGES=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"

rm -rf "$dir/deb"
(cd "$dir" && cpack -G DEB -B "$dir/deb" >/dev/null)
debs=("$dir"/deb/varik_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package.sh: cpack made no single varik_*.deb" >&2; exit 1; }
cp "${debs[0]}" .
echo "$PWD/$(basename "${debs[0]}")"
