#!/bin/sh
# Small files of the formats quillo-tool writes and no other program here does (our .cmp,
# IOCA raw and in MO:DCA) plus WordPerfect graphics, for the fuzz targets to start from.
# usage: tests/data/own/make_fixtures.sh build/quillo-tool
set -eu
TOOL=$1
HERE=$(dirname "$0")
convert "$HERE/../sample.png" -resize 40x30 "$HERE/small.png"
"$TOOL" convert "$HERE/small.png" "$HERE/rgb.cmp" --quality 50
"$TOOL" convert "$HERE/small.png" "$HERE/mono.cmp" --bpp 1
"$TOOL" convert "$HERE/small.png" "$HERE/pal8.wpg" --bpp 8 --palette fixed
"$TOOL" convert "$HERE/small.png" "$HERE/pal4.wpg" --bpp 4 --palette fixed
"$TOOL" convert "$HERE/small.png" "$HERE/g4.ica" --bpp 1
"$TOOL" convert "$HERE/small.png" "$HERE/g3-2d.ica" --bpp 1 --format 78
rm "$HERE/small.png"
