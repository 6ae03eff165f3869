#!/bin/sh
# Draws plcburn's own logo (shown scaled to 87 x 28) and icon with ImageMagick and DejaVu fonts.
# The PNGs are committed; run this only to change them: sh make_art.sh
set -eu
cd "$(dirname "$0")"
navy='#1c2f4a'
orange='#f08a24'

# Logo, 4x the size it is shown at: a lightning bolt on a chip, then the name.
convert -size 348x112 xc:none \
  -fill "$navy" -draw 'roundrectangle 0,0 347,111 18,18' \
  -stroke '#8ea3bd' -strokewidth 4 \
  -draw 'line 22,34 30,34' -draw 'line 22,56 30,56' -draw 'line 22,78 30,78' \
  -draw 'line 90,34 98,34' -draw 'line 90,56 98,56' -draw 'line 90,78 98,78' \
  -stroke none -fill '#2f4d73' -draw 'roundrectangle 30,20 90,92 6,6' \
  -fill "$orange" -draw 'polygon 66,24 42,60 58,60 50,88 78,48 62,48 72,24' \
  -font DejaVu-Sans-Bold -pointsize 50 -fill white -annotate +110+74 'plc' \
  -fill "$orange" -annotate +193+74 'burn' \
  -depth 8 -strip logo.png

# Icon, 64 x 64: the same bolt on the chip.
convert -size 64x64 xc:none \
  -fill "$navy" -draw 'roundrectangle 0,0 63,63 10,10' \
  -stroke '#8ea3bd' -strokewidth 3 \
  -draw 'line 6,18 14,18' -draw 'line 6,32 14,32' -draw 'line 6,46 14,46' \
  -draw 'line 50,18 58,18' -draw 'line 50,32 58,32' -draw 'line 50,46 58,46' \
  -stroke none -fill '#2f4d73' -draw 'roundrectangle 14,8 50,56 4,4' \
  -fill "$orange" -draw 'polygon 37,11 20,35 30,35 25,53 44,28 34,28 41,11' \
  -depth 8 -strip plcburn.png
