#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
scripts/audio-sink.sh
cd "${BUILD_DIR:-build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 "$@"
