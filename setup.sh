#!/usr/bin/env bash
# Installs what the project needs on a Debian 12 machine (only what is missing).
set -euo pipefail
packages=(
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
  libwxgtk3.2-dev libgtk-3-dev adwaita-icon-theme libpng-dev libjpeg-dev libtiff-dev libtiff-tools libarchive-dev
  zlib1g-dev libbz2-dev liblzma-dev libisal-dev
  libgtest-dev libbenchmark-dev
  fonts-liberation2 xvfb xauth xdotool x11-utils imagemagick tesseract-ocr
  libnvtt-bin python3-pil libstb-dev libsquish-dev time
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
