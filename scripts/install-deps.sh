#!/usr/bin/env bash
# Installs, from Debian 12's archive, whatever building, running and testing the control center
# needs and is not installed yet. Does nothing (and needs no network) when all is present.
set -euo pipefail

packages=(
    g++ cmake ninja-build
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev
    qt6-httpserver-dev qt6-websockets-dev prometheus
    sqlite3 fonts-dejavu-core
    dpkg-dev file lintian
    python3 util-linux
    chromium chromium-driver python3-selenium
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
