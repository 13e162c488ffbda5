#!/bin/sh
# Makes the PostScript test pictures here with ImageMagick (Debian's 6.9, whose policy lets it
# write but not read PostScript) and Python. Run once from this folder; the results are committed.
#   im-rgb.eps    a picture ImageMagick wrote as level 2 EPS; im-rgb.png holds its pixels
#   dos-tiff.eps  a DOS binary EPS: the same PostScript with a TIFF preview (preview.png)
set -e
IM=/usr/bin/convert
$IM rose: -resize 24x19! -depth 8 im-rgb.png
$IM im-rgb.png -density 72 EPS2:im-rgb.eps
$IM rose: -resize 12x10! -negate -depth 8 preview.png
$IM preview.png -compress none preview.tif
python3 - <<'PY'
import struct
ps = open("im-rgb.eps", "rb").read()
tiff = open("preview.tif", "rb").read()
head = struct.pack("<4sIIIIIIH", b"\xc5\xd0\xd3\xc6", 30, len(ps), 0, 0, 30 + len(ps), len(tiff), 0xFFFF)
open("dos-tiff.eps", "wb").write(head + ps + tiff)
PY
rm preview.tif
