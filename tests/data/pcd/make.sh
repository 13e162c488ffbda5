#!/bin/sh
# Makes the Photo CD test pack here with ImageMagick (Debian's 6.9), which writes the Base/16,
# Base/4 and Base pictures of a 768 x 512 pack, and beside it the Base picture ImageMagick
# reads from it (im.png). Run once from this folder; the results are committed.
set -e
IM=/usr/bin/convert
$IM -size 768x512 gradient:'#c04020'-'#2060a0' \( -size 768x512 pattern:checkerboard \
    -colorspace gray \) -compose multiply -composite -depth 8 /tmp/pcd-source.png
$IM /tmp/pcd-source.png im.pcd
$IM im.pcd -depth 8 im.png
rm /tmp/pcd-source.png
