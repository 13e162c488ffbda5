#!/bin/sh
# Makes the GIF test pictures here with ImageMagick (Debian's 6.9), and beside each the pixels
# ImageMagick reads from it (.pam). Run once from this folder; the results are committed.
set -e
IM=/usr/bin/convert
SRC="rose: -resize 24x19!"
$IM $SRC -colors 100 pal8.gif
$IM $SRC -colors 12 pal4.gif
$IM $SRC -monochrome mono1.gif
$IM $SRC -colors 64 -interlace GIF interlaced.gif
$IM $SRC -colors 40 -alpha set -region 7x19+0+0 -alpha transparent +region transparent.gif
$IM -delay 10 pal8.gif \( $SRC -negate -colors 50 \) animated.gif
for f in pal8 pal4 mono1 interlaced transparent; do $IM $f.gif -depth 8 $f.pam; done
$IM 'animated.gif[0]' -depth 8 animated.pam
