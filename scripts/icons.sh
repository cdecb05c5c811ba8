#!/usr/bin/env bash
# Renders the icon's PNG sizes from data/icons/brenvik.svg (the window and the hicolor
# theme use them); run after changing the SVG and commit the results.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" brenvik.svg -o "brenvik-$size.png"
done
