#!/bin/sh
# Makes the fax test pictures here with ImageMagick, and for each the pixels ImageMagick reads
# back from it (.pam beside it). Run once from anywhere; the results are committed.
set -e
cd "$(dirname "$0")"
IM=/usr/bin/convert
src=$(mktemp --suffix=.png)
trap 'rm -f "$src"' EXIT
# Strokes, a filled block, a diagonal and a long black run near the right edge.
$IM -size 173x61 xc:white -fill black -draw "circle 40,30 60,50" -draw "rectangle 100,5 170,20" \
    -draw "line 0,60 172,0" -draw "rectangle 0,40 172,41" -monochrome "$src"
$IM "$src" im.cal
$IM "$src" -compress Group4 im-g4.tif
$IM "$src" -compress Fax im-g3.tif
# What ImageMagick reads from every one of them.
$IM "$src" page.pam
