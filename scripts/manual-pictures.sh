#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the manual's pictures in docs/images/ from the real program: each
# window as it shows itself (drawn on Qt's offscreen platform by
# vellomar-manual-pictures), the example pictures, and beside each example
# the spectrogram of its sound (rendered and analysed back by
# vellomar-render). Run it again whenever a window changes, and commit what
# it writes. Builds what it needs into build/ (or $BUILD_DIR) first.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
images=docs/images
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD_DIR" -j2 --target vellomar-manual-pictures vellomar-render
render="$BUILD_DIR/cli/vellomar-render"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

mkdir -p "$images"
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/app/vellomar-manual-pictures" "$images"

# Each example: its size (the spectrogram's size too) and how it renders.
examples=(
  "sweep 256x192"
  "chord 256x192"
  "clouds 256x192"
  "word 320x160"
  "stereo 256x192 --stereo"
)
for example in "${examples[@]}"; do
  read -r name size options <<<"$example"
  # shellcheck disable=SC2086 # the options are words
  "$render" --quiet --duration 6 ${options:-} "$images/example-$name.png" "$scratch/$name.wav"
  "$render" --quiet --analyse --size "$size" "$scratch/$name.wav" "$images/example-$name-sound.png"
  echo "$images/example-$name-sound.png"
done
