#!/usr/bin/env bash
# Renders icons/kaviocc.svg into the PNG sizes that are installed and built into the program.
# Run it after changing the SVG and commit the PNGs; the build itself needs no converter.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/icons"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio kaviocc.svg \
        --output "kaviocc-$size.png"
done
