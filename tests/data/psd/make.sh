#!/bin/sh
# Makes the PhotoShop test pictures here with ImageMagick (Debian's 6.9), and beside each the
# pixels ImageMagick reads from it (.pam; for the layered file, of its merged picture, which is
# the first image ImageMagick writes). Run once from this folder; the results are committed.
set -e
IM=/usr/bin/convert
SRC="rose: -resize 24x19!"
$IM $SRC -compress RLE rgb24.psd
$IM $SRC -compress none rgb24-raw.psd
$IM $SRC -depth 16 -evaluate multiply 1.001 -compress RLE rgb16.psd
$IM $SRC -colorspace gray -compress RLE gray8.psd
$IM $SRC -colorspace gray -depth 16 -compress none gray16-raw.psd
# Indexed pictures ImageMagick 6.9.11 writes it cannot read back itself, so there are none here.
$IM $SRC -monochrome -type bilevel mono1.psd
$IM $SRC -alpha set -region 7x19+0+0 -alpha transparent +region -compress RLE rgba32.psd
$IM $SRC \( $SRC -negate \) \( $SRC -flip \) layered.psd
for f in rgb24 rgb24-raw rgb16 gray8 gray16-raw mono1 rgba32; do $IM $f.psd -depth 8 $f.pam; done
$IM 'layered.psd[0]' -depth 8 layered.pam
