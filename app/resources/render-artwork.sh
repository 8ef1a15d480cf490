#!/usr/bin/env bash
# Redraws the committed PNGs from vantor.svg: the 512 x 512 logo and the window icon sizes.
# Needs rsvg-convert (Debian package librsvg2-bin); only required when the artwork changes.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert missing: apt-get install librsvg2-bin" >&2; exit 1; }
rsvg-convert --width 512 --height 512 --format png --output logo.png vantor.svg
mkdir -p icons
for size in 16 24 32 48 256; do
  rsvg-convert --width "$size" --height "$size" --format png --output "icons/vantor-$size.png" vantor.svg
done
