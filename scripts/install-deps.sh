#!/usr/bin/env bash
# Installs the Debian 12 packages Varik needs to build, test and run.
# Does nothing when they are all there already. With --list it only prints
# them, one a line (scripts/check-install-closure.sh reads them so).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libgl-dev
    qt6-translations-l10n # Qt's own dialogs and buttons in Russian
    libqcustomplot-dev # the chart window's plots
    libgtest-dev libgmock-dev googletest # GTest's CMake package reads GMock's targets
    xvfb xauth x11-apps x11-utils imagemagick fonts-dejavu-core # x11-utils: xprop, which a window test asks for the stacking of windows
    xdotool openbox # the window driven by real input, under a window manager
    poppler-utils # the report read back from its PDF (pdftotext, pdfinfo, pdfimages)
    clang libclang-rt-14-dev llvm # the fuzz build: libFuzzer and Clang's sanitizer runtimes; llvm: its ar and ranlib, which CMake takes for Clang where they are installed (so the fuzz build is the same on every machine)
    help2man dpkg-dev file # the man pages and the .deb (scripts/package.sh)
    desktop-file-utils appstream man-db # checking the installed package (scripts/test-package.sh)
    systemd # systemd-analyze checks the service's unit (scripts/test-package.sh)
    lintian devscripts # lintian and hardening-check on the .deb
    libtomlplusplus-dev libsystemd-dev # varikd: its configuration, its notifications to systemd
    libpaho-mqtt-dev libpaho-mqttpp-dev libssl-dev # varikd: publishing the readings to an MQTT broker (the C++ client does not pull in the C one it is built on, nor the TLS library it links)
    mosquitto mosquitto-clients openssl # the publisher's tests: a real broker, with TLS certificates made on the spot
)

if [ "${1:-}" = --list ]; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
