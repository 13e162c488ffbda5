#!/bin/sh
# Recreates the TIFF fixtures and the reference pixels ImageMagick decodes them to
# (PPM for colour, PAM for colour with alpha, PGM for gray). Run once from this folder;
# the results are committed so tests never need ImageMagick.
set -e
IM=/usr/bin/convert
T=/tmp/quillo-tiff-fixtures
mkdir -p $T
$IM -size 45x37 -seed 7 plasma:orange-navy -blur 0x0.7 -depth 8 $T/src.ppm
# A soft alpha ramp with fully transparent and fully opaque corners.
$IM -size 37x45 gradient:black-white -rotate 90 -level 10%,90% $T/alpha.pgm
$IM $T/src.ppm $T/alpha.pgm -alpha off -compose CopyOpacity -composite -depth 8 $T/rgba.png
SRC=$T/src.ppm

$IM $SRC -compress None -define tiff:rows-per-strip=8 -units PixelsPerInch -density 150 rgb-none.tif
$IM $SRC -compress LZW -units PixelsPerCentimeter -density 40 rgb-lzw.tif
$IM $SRC -compress RLE rgb-packbits.tif
$IM $SRC -compress Zip rgb-deflate.tif
$IM $SRC -compress LZW -define tiff:tile-geometry=16x16 rgb-tiled.tif
$IM $SRC -compress None -interlace Plane rgb-planar.tif
$IM $SRC -compress None -depth 16 -define tiff:endian=msb rgb16-msb.tif
$IM $T/rgba.png -compress LZW rgba-lzw.tif
$IM $T/rgba.png -compress None -define tiff:alpha=associated rgba-assoc.tif
$IM $SRC -compress RLE -dither None -colors 200 -type Palette palette8.tif
$IM $SRC -compress LZW -dither None -colors 12 -type Palette palette4.tif
$IM $SRC -compress None -colorspace Gray -depth 8 gray8.tif
$IM $SRC -compress LZW -colorspace Gray -depth 16 gray16.tif
$IM $SRC -compress None -colorspace Gray -depth 2 gray2.tif
$IM $SRC -compress RLE -type Bilevel -depth 1 -define quantum:polarity=min-is-white bilevel-miniswhite.tif
$IM $SRC -compress None -monochrome -depth 1 bilevel-minisblack.tif
$IM $SRC -compress Group4 -monochrome -depth 1 bilevel-g4.tif
$IM $SRC -compress LZW -resize 20x16! $SRC -colorspace Gray multipage.tif

for f in rgb-none rgb-lzw rgb-packbits rgb-deflate rgb-tiled rgb-planar rgb16-msb palette8 palette4; do
  $IM $f.tif -depth 8 $f.ppm
done
for f in rgba-lzw rgba-assoc; do
  $IM $f.tif -depth 8 $f.pam
done
for f in gray8 gray16 gray2 bilevel-miniswhite bilevel-minisblack bilevel-g4; do
  $IM $f.tif -depth 8 $f.pgm
done
rm -rf $T
