#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs everything Vellomar needs to build, test, package and run, from
# Debian's packages only. Uses sudo when not run as root.
#   --ci   also the tools CI uses beyond the tests: clang and its libFuzzer
#          runtime for the fuzzing run.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-multimedia-dev qt6-image-formats-plugins libgl-dev
  libfftw3-dev libtiff-dev libpng-dev libcli11-dev libgtest-dev libgmock-dev
  libsndfile1-dev libsoxr-dev
  xvfb xauth sox libsox-fmt-all flac fonts-dejavu-core python3-pil
  appstream desktop-file-utils file lintian
  pulseaudio pulseaudio-utils
)
for arg in "$@"; do
  case "$arg" in
    --ci) packages+=(clang-14 libclang-rt-14-dev) ;;
    *) echo "install-deps.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
