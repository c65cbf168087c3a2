#!/usr/bin/env bash
# Installs, from Debian 12's archive, whatever building and running the control center needs and
# is not installed yet; with --tests, also what its test suite needs. Does nothing (and needs no
# network) when all is present. Recommended packages are never pulled in: a desktop build must not
# leave network services behind.
set -euo pipefail

packages=(
    g++ cmake ninja-build
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev
    qt6-httpserver-dev qt6-websockets-dev
    sqlite3 fonts-dejavu-core
)
# Chromium and its driver test the HTTP interface against pages of other sites in a real browser.
# promtool checks the service's metrics; it comes only with the Prometheus server, which is
# installed without being started or enabled (see below).
test_packages=(
    dpkg-dev file lintian
    python3 util-linux curl
    prometheus
    chromium chromium-driver python3-selenium
)
[ "${1:-}" = --tests ] && packages+=("${test_packages[@]}")

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

# Debian starts a package's services as it installs them unless policy-rc.d says no. Only the
# Prometheus server has one here, and only its promtool is wanted: it is kept from starting, and
# disabled where systemd runs, so no server listens after the install.
policy=/usr/sbin/policy-rc.d
own_policy=false
if [[ " ${missing[*]} " == *" prometheus "* ]] && [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# Written by the Kavio Control Center test set-up while it installs.\nexit 101\n' |
        $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    own_policy=true
fi
status=0
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
    "${missing[@]}" || status=$?
if $own_policy; then
    $sudo rm -f "$policy"
fi
if [[ " ${missing[*]} " == *" prometheus "* ]] && [ -d /run/systemd/system ]; then
    $sudo systemctl disable --now prometheus.service >/dev/null 2>&1 || true
fi
exit $status
