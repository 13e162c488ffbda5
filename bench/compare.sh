#!/bin/bash
# Times the same file work through quillo-tool, ImageMagick and vips, one line per
# operation: `name quillo_ms imagemagick_ms vips_ms` (best of RUNS, single-threaded peers;
# "-" where a peer cannot do the operation).
# usage: bench/compare.sh [BUILD_DIR]   (make bench installs the peers and runs this)
set -euo pipefail
BUILD=${1:-build}
TOOL=$(realpath "$BUILD/quillo-tool")
# shellcheck source=bench/common.sh
. "$(dirname "$0")/common.sh"
IM=/usr/bin/convert   # Debian's ImageMagick; another `convert` may come first on PATH
RUNS=${RUNS:-3}
export VIPS_CONCURRENCY=1 MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1
cd "$WORK"

make_photo photo.ppm
$IM photo.ppm photo.png
$IM photo.ppm -quality 75 photo.jpg
$IM photo.ppm -compress LZW photo.tif
$IM photo.ppm BMP3:photo.bmp
$IM photo.ppm photo.pcx
$IM photo.ppm -compress RLE photo.tga
$IM photo.ppm photo.ras
$IM photo.ppm -compress RLE photo.psd
$IM photo.ppm -compress JPEG -quality 75 photo-jpeg.tif
$IM photo.ppm -colorspace CMYK -compress LZW photo-cmyk.tif
"$TOOL" convert photo.jpg photo-exif.jpg --format 98 --quality 75
$IM photo.ppm photo.pcd # a pack holds 768 x 512 at most
# Ten layers for the composite line: the photo shifted and tinted; every second one fades
# from opaque at the top to clear at the bottom.
for k in $(seq 0 9); do
    if [ $((k % 2)) -eq 1 ]; then
        $IM -limit thread 1 photo.ppm -roll +$((k * 400))+$((k * 300)) -modulate 100,100,$((k * 20)) \
            \( -size 4000x3000 gradient:white-black \) -alpha off -compose copy_opacity -composite \
            -depth 8 "layer$k.png"
    else
        $IM -limit thread 1 photo.ppm -roll +$((k * 400))+$((k * 300)) -modulate 100,100,$((k * 20)) \
            -depth 8 "layer$k.png"
    fi
done
LAYERS="layer0.png layer1.png layer2.png layer3.png layer4.png layer5.png layer6.png layer7.png layer8.png layer9.png"

# Best wall time in milliseconds of RUNS runs of a command; "-" when it fails.
best() {
    local best_ms=""
    for _ in $(seq "$RUNS"); do
        local t0 t1
        t0=$(date +%s%N)
        if ! "$@" >/dev/null 2>&1; then echo "-"; return; fi
        t1=$(date +%s%N)
        local ms=$(((t1 - t0) / 1000000))
        if [ -z "$best_ms" ] || [ "$ms" -lt "$best_ms" ]; then best_ms=$ms; fi
    done
    echo "$best_ms"
}

line() { printf '%-10s %8s %14s %8s\n' "$@"; }
line name quillo_ms imagemagick_ms vips_ms
line png  "$(best "$TOOL" convert photo.png q.png)" \
          "$(best $IM -limit thread 1 photo.png m.png)" \
          "$(best vips copy photo.png v.png)"
line jpeg "$(best "$TOOL" convert photo.jpg q.jpg --quality 75)" \
          "$(best $IM -limit thread 1 photo.jpg -quality 75 m.jpg)" \
          "$(best vips copy photo.jpg 'v.jpg[Q=75]')"
line tiff "$(best "$TOOL" convert photo.tif q.tif --format 17)" \
          "$(best $IM -limit thread 1 photo.tif -compress LZW m.tif)" \
          "$(best vips copy photo.tif 'v.tif[compression=lzw]')"
line bmp  "$(best "$TOOL" convert photo.bmp q.bmp)" \
          "$(best $IM -limit thread 1 photo.bmp BMP3:m.bmp)" \
          "-"
line pcx  "$(best "$TOOL" convert photo.pcx q.pcx)" \
          "$(best $IM -limit thread 1 photo.pcx m.pcx)" \
          "-"
line tga  "$(best "$TOOL" convert photo.tga q.tga)" \
          "$(best $IM -limit thread 1 photo.tga m.tga)" \
          "-"
line ras  "$(best "$TOOL" convert photo.ras q.ras)" \
          "$(best $IM -limit thread 1 photo.ras m.ras)" \
          "-"
# vips reads PhotoShop files only through ImageMagick and does not write them.
line psd  "$(best "$TOOL" convert photo.psd q.psd)" \
          "$(best $IM -limit thread 1 photo.psd -compress RLE m.psd)" \
          "-"
line jtif  "$(best "$TOOL" convert photo-jpeg.tif q.jtf --format 11 --quality 75)" \
          "$(best $IM -limit thread 1 photo-jpeg.tif -compress JPEG -quality 75 m-jpeg.tif)" \
          "$(best vips copy photo-jpeg.tif 'v-jpeg.tif[compression=jpeg,Q=75]')"
# Both peers keep the inks as they are; we read them as RGB and write them back as CMYK.
line cmyk  "$(best "$TOOL" convert photo-cmyk.tif q-cmyk.tif --format 86)" \
          "$(best $IM -limit thread 1 photo-cmyk.tif -compress LZW m-cmyk.tif)" \
          "$(best vips copy photo-cmyk.tif 'v-cmyk.tif[compression=lzw]')"
line ycbcr "$(best "$TOOL" convert photo.tif q-ycc.tif --format 94)" \
          "$(best $IM -limit thread 1 photo.tif -colorspace YCbCr -compress LZW m-ycc.tif)" \
          "-"
# Neither peer writes Exif TIFF; both keep an Exif JPEG's block when they copy it.
line exiftif "$(best "$TOOL" convert photo.tif q-exif.tif --format 96)" "-" "-"
line exifjpg "$(best "$TOOL" convert photo-exif.jpg q-exif.jpg --format 98 --quality 75)" \
          "$(best $IM -limit thread 1 photo-exif.jpg -quality 75 m-exif.jpg)" \
          "$(best vips copy photo-exif.jpg 'v-exif.jpg[Q=75]')"
# ImageMagick reads WordPerfect graphics but does not write them: both decode an 8-bit file
# of ours to PNG.
"$TOOL" convert photo.png photo.wpg --bpp 8 --palette fixed --dither none >/dev/null
line wpg  "$(best "$TOOL" convert photo.wpg qw.png)" \
          "$(best $IM -limit thread 1 photo.wpg mw.png)" \
          "-"
# Photo CD is read only, here and in ImageMagick; vips has no reader of its own.
line pcd  "$(best "$TOOL" convert photo.pcd q-pcd.png)" \
          "$(best $IM -limit thread 1 photo.pcd m-pcd.png)" \
          "-"
line fs256 "$(best "$TOOL" convert photo.png q8.png --bpp 8 --dither floyd --palette optimized)" \
          "$(best $IM -limit thread 1 photo.png -dither FloydSteinberg -colors 256 PNG8:m8.png)" \
          "$(best vips pngsave photo.png v8.png --palette --dither 1)"
# shellcheck disable=SC2086 # LAYERS is a list of file names
line composite "$(best "$TOOL" flatten qc.png $LAYERS)" \
          "$(best $IM -limit thread 1 $LAYERS -flatten mc.png)" \
          "$(best vips composite "$LAYERS" vc.png "2 2 2 2 2 2 2 2 2")"
echo "sizes (bytes): png $(stat -c %s q.png) $(stat -c %s m.png) $(stat -c %s v.png);" \
     "jpeg $(stat -c %s q.jpg) $(stat -c %s m.jpg) $(stat -c %s v.jpg);" \
     "tiff $(stat -c %s q.tif) $(stat -c %s m.tif) $(stat -c %s v.tif)"
