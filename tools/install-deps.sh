#!/usr/bin/env bash
# Installs every Debian package QuorSet needs to build, test, demo and package.
# Idempotent: packages already present are left alone, and apt is only
# touched when something is missing.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools libgl-dev
  libhidapi-dev libusb-1.0-0-dev libxcb1-dev libfontconfig-dev
  # emulated wheel and boot loader
  umockdev libumockdev-dev libglib2.0-dev libjson-glib-dev dfu-util
  # GUI tests and screenshots
  qt6-qpa-plugins xvfb xauth trayer xdotool x11-utils imagemagick fonts-liberation fonts-dejavu-core
  # the same under a Wayland compositor (headless)
  weston qt6-wayland
  # accessibility-tree test: the AT-SPI bus and its Python client
  at-spi2-core python3-pyatspi dbus
  # update server for tests and the demo
  python3 openssl
  # desktop integration checks and packaging
  desktop-file-utils appstream udev dpkg-dev lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
