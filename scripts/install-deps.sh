#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Both README commands and CI go through this one list.
set -euo pipefail

PACKAGES=(
  # toolchain and test frameworks
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  # GUI: library dialogs and the application
  qt6-base-dev libqt6printsupport6 libgl-dev libegl-dev libxkbcommon-dev
  # an X server without a screen for the application's window pictures
  xvfb xauth
  # still-image codecs
  libtiff-dev libpng-dev libjpeg62-turbo-dev libxpm-dev
  # movie and sound codecs
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libogg-dev libvorbis-dev
  # text drawing and the fonts the library asks for by name
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-liberation
  # fuzzing (optional build preset)
  clang-14 libclang-rt-14-dev libfuzzer-14-dev
  # peers the tests compare against
  imagemagick netpbm ffmpeg sox libtiff-tools vorbis-tools
  # further peers of the benchmark (scripts/bench.sh) and the tool it times with
  libvips-tools pngquant time
  # a real photograph the palette tests reduce (JPEG landscapes)
  lomiri-wallpapers-16.04
  # the X colour names that XPM files use
  x11-common
  # a virtual X display for the dialog screenshot test
  xvfb xauth
  # printed pages read back as pictures, and the application driven as a user
  # would under the virtual display
  poppler-utils xdotool
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
