#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building, running and testing Framora needs on Debian 12 (run as root).
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-svg-dev libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libavfilter-dev libass-dev
  libjpeg62-turbo-dev libexiv2-dev exiv2 qt6-image-formats-plugins
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-ipafont-gothic xvfb xauth xdotool ffmpeg
  desktop-file-utils appstream
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  dpkg-dev file lintian groff man-db bash-completion
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
