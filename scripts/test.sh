#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite (widgets on the offscreen
# platform, SQLite files in temporary folders, TCP on loopback only).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --tests
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j 2
