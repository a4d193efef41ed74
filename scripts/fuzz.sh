#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the wave reader with libFuzzer for SECONDS (default 60), starting
# from the seed corpus in tests/fuzz/corpus. Builds into build-fuzz/ (or
# $BUILD_DIR) with clang++-14, AddressSanitizer and UndefinedBehaviorSanitizer.
# Without clang it says so and does nothing (scripts/install-deps.sh --ci
# installs it). New inputs go to build-fuzz/corpus/, a failing input to
# build-fuzz/artifacts/; replay one with build/tests/fuzz/wav_reader_fuzz FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_TO_RUN="${1:-60}"
BUILD_DIR="${BUILD_DIR:-build-fuzz}"
CLANGXX="${CLANGXX:-clang++-14}"
if ! command -v "$CLANGXX" >/dev/null; then
  echo "fuzz.sh: $CLANGXX not found; no fuzzing (scripts/install-deps.sh --ci installs it)"
  exit 0
fi
CXX="$CLANGXX" cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLOMAR_FUZZ=ON \
  -DVELLOMAR_GUI=OFF -DVELLOMAR_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j2 --target wav_reader_fuzz
mkdir -p "$BUILD_DIR/corpus" "$BUILD_DIR/artifacts"
log="$BUILD_DIR/fuzz.log"
if ! "$BUILD_DIR/tests/fuzz/wav_reader_fuzz" -max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -dict=tests/fuzz/wav.dict -artifact_prefix="$BUILD_DIR/artifacts/" -print_final_stats=1 \
    "$BUILD_DIR/corpus" tests/fuzz/corpus >"$log" 2>&1; then
  tail -n 80 "$log"
  for f in "$BUILD_DIR"/artifacts/*; do
    [ -f "$f" ] || continue
    echo "failing input $f:"
    od -A d -t x1 "$f" | head -n 40
  done
  echo "fuzz.sh: the wave reader failed under the fuzzer" >&2
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added|#[0-9]+[[:space:]]+DONE)' "$log"
