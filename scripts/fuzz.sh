#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes one fuzz target with libFuzzer for SECONDS (default 60), starting
# from its seed corpus:
#   scripts/fuzz.sh TARGET [SECONDS]
# TARGET is one of the targets below (a fuzz target in tests/fuzz/ is added
# with one line there). Builds into build-fuzz/ (or $BUILD_DIR) with
# clang++-14, AddressSanitizer and UndefinedBehaviorSanitizer. Without clang
# it says so and does nothing (scripts/install-deps.sh --ci installs it).
# New inputs go to build-fuzz/corpus/TARGET/, a failing input to
# build-fuzz/artifacts/TARGET/; replay one with build/tests/fuzz/TARGET FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
TARGET="${1:-}"
SECONDS_TO_RUN="${2:-60}"
# target: seed corpus and libFuzzer options
case "$TARGET" in
  wav_reader_fuzz) corpus=tests/fuzz/corpus; options=(-max_len=4096 -dict=tests/fuzz/wav.dict) ;;
  audio_reader_fuzz) corpus=tests/fuzz/audio_corpus; options=(-max_len=65536) ;;
  # Its pictures are capped at four million pixels, so that no allocation a
  # decoder is right to make comes near 256 MB: one that does is a fault.
  picture_loader_fuzz) corpus=tests/fuzz/picture_corpus
    options=(-max_len=65536 -dict=tests/fuzz/picture.dict -malloc_limit_mb=256) ;;
  *)
    echo "usage: scripts/fuzz.sh wav_reader_fuzz|audio_reader_fuzz|picture_loader_fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
BUILD_DIR="${BUILD_DIR:-build-fuzz}"
CLANGXX="${CLANGXX:-clang++-14}"
if ! command -v "$CLANGXX" >/dev/null; then
  echo "fuzz.sh: $CLANGXX not found; no fuzzing (scripts/install-deps.sh --ci installs it)"
  exit 0
fi
CXX="$CLANGXX" cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLOMAR_FUZZ=ON \
  -DVELLOMAR_GUI=OFF -DVELLOMAR_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target "$TARGET"
found="$BUILD_DIR/corpus/$TARGET"
artifacts="$BUILD_DIR/artifacts/$TARGET"
mkdir -p "$found" "$artifacts"
log="$BUILD_DIR/$TARGET.log"
# Leaks inside the libraries the readers call are not ours to mend.
export LSAN_OPTIONS="suppressions=$PWD/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
if ! "$BUILD_DIR/tests/fuzz/$TARGET" -max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=2048 \
    "${options[@]}" -artifact_prefix="$artifacts/" -print_final_stats=1 "$found" "$corpus" >"$log" 2>&1; then
  tail -n 80 "$log"
  for f in "$artifacts"/*; do
    [ -f "$f" ] || continue
    echo "failing input $f:"
    od -A d -t x1 "$f" | head -n 40 || true
  done
  echo "fuzz.sh: $TARGET failed under the fuzzer" >&2
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added|#[0-9]+[[:space:]]+DONE)' "$log"
