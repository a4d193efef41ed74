#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs, builds and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec "${BUILD_DIR:-build}/app/vellomar" "$@"
