#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's packages.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ git python3 ca-certificates xz-utils
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  wine wine64 wine32:i386
  nsis
  clang clang-tidy libclang-rt-14-dev
  gstreamer1.0-libav gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  xvfb xauth x11-utils xdotool imagemagick
  pulseaudio pulseaudio-utils
  x264
  googletest libyuv-dev zlib1g-dev
  fonts-dejavu-core fonts-noto-core fonts-noto-cjk
  locales
)

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

# 32-bit Wine runs the 32-bit camera's tests and the installer's 32-bit registration.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  $sudo_cmd dpkg --add-architecture i386
  $sudo_cmd apt-get update -q
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

"$(dirname "$0")/lib/fetch-imgui.sh"
