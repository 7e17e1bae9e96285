#!/usr/bin/env bash
# Regenerates the banner and the program icon (needs ImageMagick 6:
# apt-get install imagemagick). The outputs are committed; the build does not
# run this.
set -euo pipefail
cd "$(dirname "$0")"
CONVERT=${CONVERT:-/usr/bin/convert}
mkdir -p image

# Banner: light blue gradient with two rule lines and a ring mark on the right;
# the model name is drawn over its left part in blue.
"$CONVERT" -size 900x56 gradient:'#f7fafd'-'#bcd2ea' \
  -fill none -stroke '#a3bedb' -strokewidth 1 -draw "line 0,46 900,46" -draw "line 0,50 900,50" \
  -stroke '#6f9bcc' -strokewidth 5 -draw "circle 846,28 846,10" \
  -stroke none -fill '#3f78b8' -draw "circle 846,28 846,22" \
  -fill '#9fc6ee' -draw "circle 868,10 868,5" \
  -strip -quality 90 -sampling-factor 2x2 image/bar.jpg

# Icon: the same ring mark on a rounded blue tile.
"$CONVERT" -size 256x256 xc:none \
  -fill '#1f5fa8' -draw "roundrectangle 8,8 247,247 44,44" \
  -fill none -stroke white -strokewidth 20 -draw "circle 128,132 128,60" \
  -stroke none -fill white -draw "circle 128,132 128,112" \
  -fill '#8fd0ff' -draw "circle 192,66 192,46" \
  -depth 8 -strip orvistar.png
