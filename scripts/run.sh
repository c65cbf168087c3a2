#!/usr/bin/env bash
# Installs what is missing, builds, and starts the control center.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
exec build/bin/kaviocc
