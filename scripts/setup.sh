#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tavrin need.
# Idempotent: when everything is installed already it changes nothing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libsndfile1-dev
  libwebp-dev libgif-dev libleptonica-dev ffmpeg
  qt6-image-formats-plugins libheif-dev libpng-dev libjpeg-dev libtiff-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth imagemagick xdotool xclip libx11-dev libxtst-dev feh
  libglib2.0-dev
  clang libclang-rt-14-dev
  sox libsox-fmt-base
  pulseaudio libpulse-dev
  python3
  fonts-liberation
  help2man librsvg2-bin
  desktop-file-utils shared-mime-info appstream groff-base lintian dpkg-dev file weston qt6-wayland
  debhelper devscripts faketime
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
