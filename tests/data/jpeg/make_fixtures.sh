#!/bin/sh
# Recreates the JPEG fixtures and the reference pixels ImageMagick decodes them to.
# Run once from this folder; the results are committed so tests never need ImageMagick.
set -e
IM=/usr/bin/convert
$IM -size 45x37 -seed 7 plasma:orange-navy -blur 0x0.7 -depth 8 /tmp/quillo-jpeg-src.ppm
SRC=/tmp/quillo-jpeg-src.ppm

$IM $SRC -quality 90 -sampling-factor 1x1 -density 300 -units PixelsPerInch baseline-444.jpg
$IM $SRC -quality 90 -sampling-factor 2x1 -density 40 -units PixelsPerCentimeter baseline-422.jpg
$IM $SRC -quality 90 -sampling-factor 2x2 baseline-420.jpg
$IM $SRC -quality 90 -sampling-factor 4x1 baseline-411.jpg
$IM $SRC -quality 90 -sampling-factor 2x2 -interlace JPEG progressive-420.jpg
$IM $SRC -quality 90 -colorspace Gray gray.jpg
$IM $SRC -quality 90 -colorspace CMYK cmyk.jpg

for f in baseline-444 baseline-422 baseline-420 baseline-411 progressive-420 cmyk; do
  $IM $f.jpg -depth 8 $f.ppm
done
$IM gray.jpg -depth 8 gray.pgm

# A camera-style file: the 4:4:4 image with an Exif block whose second directory holds a
# 16 x 13 JPEG thumbnail.
$IM $SRC -resize 16x13! -quality 80 /tmp/quillo-jpeg-thumb.jpg
$IM /tmp/quillo-jpeg-thumb.jpg -depth 8 exif-thumb.ppm
python3 - <<'EOF'
import struct
main = open('baseline-444.jpg', 'rb').read()
thumb = open('/tmp/quillo-jpeg-thumb.jpg', 'rb').read()
# Little-endian TIFF structure: header, empty IFD0, IFD1 with Compression (6 = JPEG),
# JPEGInterchangeFormat and JPEGInterchangeFormatLength, then the thumbnail.
ifd0 = struct.pack('<H', 0) + struct.pack('<I', 8 + 6)
entries = [(0x0103, 3, 1, 6), (0x0201, 4, 1, 0), (0x0202, 4, 1, len(thumb))]
ifd1_size = 2 + 12 * len(entries) + 4
thumb_off = 8 + len(ifd0) + ifd1_size
entries[1] = (0x0201, 4, 1, thumb_off)
ifd1 = struct.pack('<H', len(entries))
for tag, typ, count, value in entries:
    if typ == 3:
        ifd1 += struct.pack('<HHIHH', tag, typ, count, value, 0)
    else:
        ifd1 += struct.pack('<HHII', tag, typ, count, value)
ifd1 += struct.pack('<I', 0)
tiff = b'II*\x00' + struct.pack('<I', 8) + ifd0 + ifd1 + thumb
payload = b'Exif\x00\x00' + tiff
app1 = b'\xff\xe1' + struct.pack('>H', len(payload) + 2) + payload
open('exif-thumb.jpg', 'wb').write(main[:2] + app1 + main[2:])
EOF
rm -f /tmp/quillo-jpeg-src.ppm /tmp/quillo-jpeg-thumb.jpg
