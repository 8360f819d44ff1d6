#!/usr/bin/env bash
# Renders the committed PNGs from pandrel.svg (needs rsvg-convert, Debian package librsvg2-bin).
# The build uses the committed PNGs; run this only after changing the artwork.
set -euo pipefail
cd "$(dirname "$0")"
for size in 256 128 64 48 32 24 16; do
    rsvg-convert -w "$size" -h "$size" pandrel.svg -o "pandrel-$size.png"
done
