#!/bin/sh
# Where ImageMagick has the same operation with the same definition, quillo-tool apply gives
# the same pixels away from the border (edges are a matter of each program's own choice).
# Exits 77 (skipped) without ImageMagick.
# usage: imagemagick_test.sh QUILLO_TOOL TEST_DATA_DIR
set -u
TOOL=$1
DATA=$2
IM=/usr/bin/convert # Debian's ImageMagick; another `convert` may come first on PATH
COMPARE=/usr/bin/compare
[ -x "$IM" ] && [ -x "$COMPARE" ] || { echo "ImageMagick is not installed: skipped"; exit 77; }
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
IN=$DATA/sample.png
fails=0
# same "QUILLO OP ARGS" "IMAGEMAGICK OPTIONS"
same() {
    # ImageMagick's PNG writer truncates its 16-bit levels to 8 bits; PPM rounds them.
    if ! "$TOOL" apply "$IN" "$TMP/q.png" $1 >"$TMP/err" 2>&1 ||
        ! $IM "$IN" $2 -shave 3x3 "$TMP/m.ppm" 2>>"$TMP/err" ||
        ! $IM "$TMP/q.png" -shave 3x3 "$TMP/q.ppm" 2>>"$TMP/err"; then
        fails=$((fails + 1)); echo "FAIL: $1 did not run"; cat "$TMP/err"; return
    fi
    diff=$($COMPARE -metric AE "$TMP/q.ppm" "$TMP/m.ppm" null: 2>&1)
    if [ "$diff" != 0 ]; then fails=$((fails + 1)); echo "FAIL: $1 differs from $2 in $diff pixels"; fi
}
same "invert" "-negate"
same "flip" "-flip"
same "reverse" "-flop"
same "median 3" "-statistic Median 3x3"
same "median 5" "-statistic Median 5x5"
same "average 3" "-statistic Mean 3x3"
same "average 5" "-statistic Mean 5x5"
same "posterize 3" "+dither -posterize 3"
same "posterize 4" "+dither -posterize 4"
same "rotate 9000" "-rotate 90"
same "rotate -9000" "-rotate -90"
# Our PhotoShop files read in ImageMagick as the same picture saved as PNG: black and white and
# RGB (ImageMagick 6.9 reads no indexed PhotoShop file, not even its own).
for bpp in 1 24; do
    if ! "$TOOL" convert "$IN" "$TMP/q$bpp.psd" --bpp $bpp --palette fixed >"$TMP/err" 2>&1 ||
        ! "$TOOL" convert "$IN" "$TMP/q$bpp.png" --bpp $bpp --palette fixed >>"$TMP/err" 2>&1; then
        fails=$((fails + 1)); echo "FAIL: psd at $bpp bits did not save"; cat "$TMP/err"; continue
    fi
    diff=$($COMPARE -metric AE "$TMP/q$bpp.psd[0]" "$TMP/q$bpp.png" null: 2>&1)
    if [ "$diff" != 0 ]; then fails=$((fails + 1)); echo "FAIL: psd at $bpp bits differs in $diff pixels"; fi
done
# Our WordPerfect graphics read in ImageMagick as the same picture saved as PNG, at each depth.
for bpp in 1 4 8; do
    if ! "$TOOL" convert "$IN" "$TMP/q$bpp.wpg" --bpp $bpp --palette fixed >"$TMP/err" 2>&1 ||
        ! "$TOOL" convert "$IN" "$TMP/w$bpp.png" --bpp $bpp --palette fixed >>"$TMP/err" 2>&1; then
        fails=$((fails + 1)); echo "FAIL: wpg at $bpp bits did not save"; cat "$TMP/err"; continue
    fi
    diff=$($COMPARE -metric AE "$TMP/q$bpp.wpg" "$TMP/w$bpp.png" null: 2>&1)
    if [ "$diff" != 0 ]; then fails=$((fails + 1)); echo "FAIL: wpg at $bpp bits differs in $diff pixels"; fi
done
# The editor's Crop and Rotate Layer (+90) through a script against -crop and -rotate 90.
cp "$IN" "$TMP/sample.png"
case $TOOL in /*) ;; *) TOOL=$PWD/$TOOL ;; esac # the script runs in the scratch folder
printf 'open sample.png\ndrag 10 10 59 39\ncommand 15601\nexport crop.png\ncommand 24321\ndialog 1506 108=1 ok\ncommand 15561\nexport turn.png\n' |
    (cd "$TMP" && "$TOOL" script -) >/dev/null 2>"$TMP/err" || { fails=$((fails + 1)); echo "FAIL: the geometry script did not run"; cat "$TMP/err"; }
edited() { # OUR_EXPORT "IMAGEMAGICK OPTIONS"
    $IM "$IN" $2 +repage "$TMP/m.ppm" && $IM "$TMP/$1" "$TMP/q.ppm" || { fails=$((fails + 1)); echo "FAIL: $1"; return; }
    diff=$($COMPARE -metric AE "$TMP/q.ppm" "$TMP/m.ppm" null: 2>&1)
    if [ "$diff" != 0 ]; then fails=$((fails + 1)); echo "FAIL: $1 differs from $2 in $diff pixels"; fi
}
edited crop.png "-crop 50x30+10+10"
edited turn.png "-rotate 90"
echo "$fails failed"
[ "$fails" -eq 0 ]
