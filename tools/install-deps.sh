#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any
# of them is missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config dpkg-dev devscripts ccache clang-format
    clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n
    libcurl4-openssl-dev libssl-dev libinih-dev libzstd-dev libzip-dev libdivsufsort-dev zlib1g-dev
    bubblewrap zip unzip procps sysvinit-utils python3 python3-pyftpdlib openssl zstd bsdiff lintian
    nginx-light tinyproxy-bin
    xvfb xdotool x11-apps imagemagick fonts-dejavu-core fonts-wqy-microhei
    dbus at-spi2-core python3-pyatspi
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
