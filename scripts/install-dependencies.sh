#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the app and the tests need; does nothing when all are there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libxcb1-dev qt6-base-dev qt6-base-dev-tools qt6-base-private-dev qt6-multimedia-dev libqt6opengl6-dev qt6-qpa-plugins
  libzbar-dev libexiv2-dev libheif-dev libplist-dev libplist-utils libqrencode-dev
  qt6-image-formats-plugins
  libgtest-dev libgmock-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth
  dbus-daemon
  xdg-utils
  desktop-file-utils
  gphoto2
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
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
