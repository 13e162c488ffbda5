#!/bin/sh
# Recreates the JPEG-in-TIFF, CMYK, YCbCr and Exif fixtures: im-* are written by
# ImageMagick, ours-* by quillo-tool (give its path), and beside each file the pixels
# ImageMagick decodes it to (PPM, PAM with alpha, PGM for gray). Run once from this folder;
# the results are committed so tests never need ImageMagick.
# usage: sh make_fixtures.sh ../../../build/quillo-tool
set -e
Q=$(realpath "$1")
IM=/usr/bin/convert
T=/tmp/quillo-tiffx-fixtures
mkdir -p $T
$IM -size 45x37 -seed 7 plasma:orange-navy -blur 0x0.7 -depth 8 $T/src.png
$IM -size 37x45 gradient:black-white -rotate 90 -level 10%,90% $T/alpha.pgm
$IM $T/src.png $T/alpha.pgm -alpha off -compose CopyOpacity -composite -depth 8 $T/rgba.png
$IM $T/src.png -colorspace Gray -depth 8 $T/gray.png
SRC=$T/src.png

$IM $SRC -colorspace CMYK -compress LZW im-cmyk.tif
$IM $T/rgba.png -colorspace CMYK -compress None im-cmyka.tif
$IM $SRC -compress JPEG -quality 90 im-jpeg-rgb.tif
$IM $T/gray.png -compress JPEG -quality 90 im-jpeg-gray.tif
$IM $SRC -colorspace YCbCr -compress None im-ycbcr.tif

"$Q" convert $SRC ours-cmyk.tif --format 86
"$Q" convert $T/rgba.png ours-cmyka.tif --format 88
"$Q" convert $SRC ours-ycbcr.tif --format 94
"$Q" convert $SRC ours-jtif-444.jtf --format 11 --quality 90
"$Q" convert $SRC ours-jtif-422.jtf --format 22 --quality 90
"$Q" convert $SRC ours-jtif-420.jtf --format 24 --quality 90
"$Q" convert $T/gray.png ours-jtif-gray.jtf --format 11 --quality 90
"$Q" convert $SRC ours-exif.tif --format 96
"$Q" convert $SRC ours-exif-ycbcr.tif --format 97
"$Q" convert $SRC ours-exif.jpg --format 98 --quality 90

for f in im-cmyk im-jpeg-rgb im-ycbcr ours-cmyk ours-ycbcr ours-exif ours-exif-ycbcr; do
  $IM TIFF:$f.tif -depth 8 $f.ppm
done
for f in im-cmyka ours-cmyka; do
  $IM TIFF:$f.tif -colorspace sRGB -depth 8 $f.pam
done
for f in ours-jtif-444 ours-jtif-422 ours-jtif-420; do
  $IM TIFF:$f.jtf -depth 8 $f.ppm
done
$IM TIFF:ours-jtif-gray.jtf -depth 8 ours-jtif-gray.pgm
$IM TIFF:im-jpeg-gray.tif -depth 8 im-jpeg-gray.pgm
$IM ours-exif.jpg -depth 8 ours-exif-jpeg.ppm
rm -rf $T
