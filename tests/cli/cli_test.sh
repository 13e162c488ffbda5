#!/bin/sh
# End-to-end checks of quillo-tool: what a user running it in a script would rely on.
# usage: cli_test.sh QUILLO_TOOL TEST_DATA_DIR
set -u
TOOL=$1
DATA=$2
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
fails=0
passes=0
check() { # description, then a command that must succeed
    desc=$1; shift
    if "$@" >"$TMP/out" 2>"$TMP/err"; then passes=$((passes + 1)); else
        fails=$((fails + 1)); echo "FAIL: $desc"; cat "$TMP/out" "$TMP/err"; fi
}
field() { "$TOOL" info "$1" | sed -n "s/^$2: //p"; }

check "info reports a PNG's format code and size" \
    sh -c "'$TOOL' info '$DATA/sample.png' | grep -qx 'format: 75' && '$TOOL' info '$DATA/sample.png' | grep -qx 'width: 320'"

check "convert to BMP picks the format from the extension" "$TOOL" convert "$DATA/sample.png" "$TMP/a.bmp"
check "the BMP is a Windows bitmap of the same size" sh -c "[ \"\$('$TOOL' info '$TMP/a.bmp' | sed -n 's/^format: //p')\" = 6 ] && '$TOOL' info '$TMP/a.bmp' | grep -qx 'height: 240'"

check "conversion to 256 colours with dithering gives an 8-bit file" \
    "$TOOL" convert "$DATA/sample.png" "$TMP/b.png" --bpp 8 --dither floyd --palette optimized
check "the 8-bit file says so" sh -c "'$TOOL' info '$TMP/b.png' | grep -qx 'bits per pixel: 8'"

check "JPEG at a lower quality is smaller" sh -c "'$TOOL' convert '$DATA/sample.png' '$TMP/hi.jpg' --quality 95 && '$TOOL' convert '$DATA/sample.png' '$TMP/lo.jpg' --quality 20 && [ \$(stat -c %s '$TMP/lo.jpg') -lt \$(stat -c %s '$TMP/hi.jpg') ]"

check "an explicit format code overrides the extension" "$TOOL" convert "$DATA/sample.png" "$TMP/c.img" --format 17
check "the TIFF written under another name is still TIFF" sh -c "'$TOOL' info '$TMP/c.img' | grep -qx 'format: 17'"

printf 'not an image at all' >"$TMP/junk.png"
check "a damaged file fails with the toolkit's message and a non-zero status" \
    sh -c "! '$TOOL' info '$TMP/junk.png' 2>'$TMP/e' && grep -q 'Invalid file format!' '$TMP/e'"
check "a missing file says so" sh -c "! '$TOOL' convert '$TMP/none.png' '$TMP/x.bmp' 2>'$TMP/e' && grep -q 'File not found!' '$TMP/e'"
check "an unknown extension asks for a format" sh -c "! '$TOOL' convert '$DATA/sample.png' '$TMP/x.unknown' 2>/dev/null"
check "a failed save leaves the existing file alone" sh -c "cp '$TMP/a.bmp' '$TMP/keep.bmp' && ! '$TOOL' convert '$DATA/sample.png' '$TMP/keep.bmp' --format 14 --bpp 16 2>/dev/null; cmp -s '$TMP/a.bmp' '$TMP/keep.bmp'"
check "a save into a missing folder says why" sh -c "! '$TOOL' convert '$DATA/sample.png' '$TMP/none/x.png' 2>'$TMP/e' && grep -q 'Error writing file! The folder does not exist.' '$TMP/e'"

check "flatten stacks layers over the first image and keeps its size" sh -c "'$TOOL' flatten '$TMP/flat.png' '$DATA/sample.png' '$DATA/png/rgba8.png' && '$TOOL' info '$TMP/flat.png' | grep -qx 'width: 320' && '$TOOL' convert '$DATA/sample.png' '$TMP/plain.png' && ! cmp -s '$TMP/flat.png' '$TMP/plain.png'"
check "flatten reports an unreadable layer" sh -c "! '$TOOL' flatten '$TMP/f2.png' '$DATA/sample.png' '$TMP/junk.png' 2>'$TMP/e' && grep -q 'Invalid file format!' '$TMP/e' && [ ! -e '$TMP/f2.png' ]"

check "stack writes a layered file that lists back exactly as placed" sh -c "'$TOOL' stack '$TMP/s.qlx' '$DATA/sample.png' '$DATA/png/rgba8.png@-20,30' && '$TOOL' layers '$TMP/s.qlx' >'$TMP/l' && grep -qx '0 name=\"Background\" x=0 y=0 width=320 height=240 depth=24 visible=1 shape=0' '$TMP/l' && grep -qx '1 name=\"rgba8.png\" x=-20 y=30 width=23 height=17 depth=32 visible=1 shape=0' '$TMP/l' && grep -qx 'current=1' '$TMP/l' && [ \$(wc -l <'$TMP/l') -eq 3 ]"
check "layers lists an ordinary image as one background layer" sh -c "'$TOOL' layers '$DATA/sample.png' | grep -c . | grep -qx 2 && '$TOOL' layers '$DATA/sample.png' | grep -q '^0 name=\"Background\" x=0 y=0 width=320'"
check "layers lists the shapes of a layered file" sh -c "'$TOOL' layers '$DATA/qlx/three-layers.qlx' | grep -q '^2 name=\"Top\" x=3 y=-1 .* shape=1\$'"
check "flatten takes a layered file's layers as they were stacked" sh -c "'$TOOL' stack '$TMP/s0.qlx' '$DATA/sample.png' '$DATA/png/rgba8.png' && '$TOOL' flatten '$TMP/fq.png' '$TMP/s0.qlx' && '$TOOL' flatten '$TMP/fp.png' '$DATA/sample.png' '$DATA/png/rgba8.png' && cmp -s '$TMP/fq.png' '$TMP/fp.png'"
check "stack refuses a position the file cannot hold and writes nothing" sh -c "! '$TOOL' stack '$TMP/far.qlx' '$DATA/sample.png' '$DATA/png/rgba8.png@40000,0' 2>'$TMP/e' && grep -q 'X origin specified invalid!' '$TMP/e' && [ ! -e '$TMP/far.qlx' ]"
check "info on a layered file gives its canvas, depth and layer count" sh -c "'$TOOL' info '$TMP/s.qlx' >'$TMP/i' && grep -qx 'format: qlx' '$TMP/i' && grep -qx 'width: 320' '$TMP/i' && grep -qx 'height: 240' '$TMP/i' && grep -qx 'bits per pixel: 24' '$TMP/i' && grep -qx 'layers: 2' '$TMP/i'"
check "a damaged layered file is refused as invalid" sh -c "! '$TOOL' layers '$DATA/malformed/qlx-mask-past-end.qlx' 2>'$TMP/e' && grep -q 'Invalid file format!' '$TMP/e'"

check "apply --list names every operation with its arguments" sh -c "'$TOOL' apply --list >'$TMP/ops' && for op in invert flip reverse grayscale 'median SIZE' 'average SIZE' 'posterize LEVELS' 'sharpen AMOUNT' 'intensity AMOUNT' 'contrast AMOUNT' 'gamma GAMMA100' 'hue DEGREES' 'saturation AMOUNT' histoequalize stretchintensity 'emboss DIRECTION DEPTH' 'addnoise RANGE CHANNEL SEED' 'mosaic SIZE' 'oilify SIZE' 'spatialfilter NAME' 'resample WIDTH HEIGHT' 'underlay PATTERNFILE'; do grep -q \"^\$op \" '$TMP/ops' || { echo missing \$op; exit 1; }; done && grep -q 'SIZE: 1..255' '$TMP/ops'"
check "apply with an argument out of range prints the range and fails" sh -c "'$TOOL' apply '$DATA/sample.png' '$TMP/m.png' median 300 2>'$TMP/e'; [ \$? -eq 1 ] && grep -q '1..255' '$TMP/e' && [ ! -e '$TMP/m.png' ]"
check "apply with a missing argument names them" sh -c "'$TOOL' apply '$DATA/sample.png' '$TMP/m.png' emboss n 2>'$TMP/e'; [ \$? -eq 1 ] && grep -q 'DIRECTION DEPTH' '$TMP/e'"
check "apply gives the same picture on one thread and on four" sh -c "'$TOOL' apply '$DATA/sample.png' '$TMP/n1.png' addnoise 300 all 5 --threads 1 && '$TOOL' apply '$DATA/sample.png' '$TMP/n4.png' addnoise 300 all 5 --threads 4 && cmp -s '$TMP/n1.png' '$TMP/n4.png' && ! cmp -s '$TMP/n1.png' '$DATA/sample.png'"
check "apply resample changes the size, grayscale the depth" sh -c "'$TOOL' apply '$DATA/sample.png' '$TMP/r.png' resample 100 50 && '$TOOL' info '$TMP/r.png' | grep -qx 'width: 100' && '$TOOL' apply '$DATA/sample.png' '$TMP/g.bmp' grayscale && '$TOOL' info '$TMP/g.bmp' | grep -qx 'bits per pixel: 8'"
check "apply underlay reports a pattern it cannot read" sh -c "! '$TOOL' apply '$DATA/sample.png' '$TMP/u.png' underlay '$TMP/junk.png' 2>'$TMP/e' && grep -q 'Invalid file format!' '$TMP/e' && '$TOOL' apply '$DATA/sample.png' '$TMP/u.png' underlay '$DATA/png/rgba8.png'"

# The colour at pixel (x, y) from the top of a 24- or 32-bit BMP, as RRGGBB.
bmp_pixel() { # FILE X Y
    off=$(od -An -tu4 -j10 -N4 "$1" | tr -d ' '); bw=$(od -An -td4 -j18 -N4 "$1" | tr -d ' ')
    bh=$(od -An -td4 -j22 -N4 "$1" | tr -d ' '); bpp=$(od -An -tu2 -j28 -N2 "$1" | tr -d ' ')
    row=$3; [ "$bh" -gt 0 ] && row=$((bh - 1 - $3))
    at=$((off + row * ((bw * bpp + 31) / 32 * 4) + $2 * bpp / 8))
    od -An -tx1 -j$at -N3 "$1" | awk '{ print toupper($3 $2 $1) }'
}
# rotatefine on a small picture: the canvas grows to the turned picture's bounding box, the
# four corners take the fill colour (in the order given, red first) and the middle does not.
rotated() { # HUNDREDTHS FILL, into $TMP/rot.bmp
    "$TOOL" apply "$TMP/small.png" "$TMP/rot.bmp" rotatefine "$1" "$2" &&
        want=$(awk -v a="$1" 'BEGIN { t = a / 18000 * 3.14159265358979; c = cos(t); s = sin(t)
            if (c < 0) c = -c; if (s < 0) s = -s
            w = 40 * c + 20 * s; h = 40 * s + 20 * c
            printf "%d %d", (w == int(w)) ? w : int(w) + 1, (h == int(h)) ? h : int(h) + 1 }') &&
        got="$(field "$TMP/rot.bmp" width) $(field "$TMP/rot.bmp" height)" &&
        { [ "$got" = "$want" ] || { echo "size $got, expected $want"; return 1; }; } &&
        w=${got% *} && h=${got#* } &&
        for xy in "0 0" "$((w - 1)) 0" "0 $((h - 1))" "$((w - 1)) $((h - 1))"; do
            c=$(bmp_pixel "$TMP/rot.bmp" $xy)
            [ "$c" = "$2" ] || { echo "corner $xy is $c, not $2"; return 1; }
        done &&
        c=$(bmp_pixel "$TMP/rot.bmp" $((w / 2)) $((h / 2))) &&
        { [ "$c" != "$2" ] || { echo "the middle took the fill colour"; return 1; }; }
}
"$TOOL" apply "$DATA/sample.png" "$TMP/small.png" resample 40 20 >/dev/null
check "rotatefine by 7.5 degrees grows the canvas and fills the corners" rotated 750 FFFFFF
check "rotatefine the other way fills with the colour given, red first" rotated -750 FF0000

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
