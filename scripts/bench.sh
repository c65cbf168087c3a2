#!/usr/bin/env bash
# Builds and runs every benchmark; each prints its figures and its targets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
for bench in build/bin/bench_*; do
    echo "== $(basename "$bench")"
    "$bench"
done
