#!/usr/bin/env bash
# Renders the program's icon, packaging/icons/talvo-ftp.svg, to the PNG sizes kept beside it
# (the window's own icon and the icon theme's fixed sizes). Run it after changing the SVG;
# the package check fails while the PNGs and the SVG disagree.
#
#   scripts/render-icons.sh [OUTPUT_DIR]      (default: packaging/icons)
set -euo pipefail
cd "$(dirname "$0")/.."

out="${1:-packaging/icons}"
command -v rsvg-convert >/dev/null || { echo "render-icons: rsvg-convert is missing (apt-get install librsvg2-bin)" >&2; exit 1; }
mkdir -p "$out"
for size in 48 256; do
  rsvg-convert --width "$size" --height "$size" packaging/icons/talvo-ftp.svg --output "$out/talvo-ftp-$size.png"
done
