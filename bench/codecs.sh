#!/bin/bash
# Decode and encode of PNG, JPEG (quality 75), TIFF with LZW and 24-bit BMP, apart and in
# process on one thread, beside the libraries called directly on the same files
# (../shared/perf/codecs.c: libpng, libjpeg-turbo, libtiff and a plain BMP loop), in one run
# on the photo of bench/compare.sh. One line per operation: quillo ms, floor ms, their ratio,
# and the sizes of the files each side wrote.
# usage: bench/codecs.sh [BUILD_DIR] [CODECS_C]   (make bench runs it)
# TIMING=cpu measures processor time (one thread on both sides) instead of wall time.
set -euo pipefail
BUILD=$(realpath "${1:-build}")
HERE=$(dirname "$0")
# shellcheck source=bench/common.sh
. "$HERE/common.sh"
CODECS_C=$(perf_source codecs.c "${2:-}")
IM=/usr/bin/convert
RUNS=${RUNS:-5}
build_floor "$CODECS_C" "$WORK/codecs" -O2 -lpng -ljpeg -ltiff -lz
cd "$WORK"
# The files both sides decode.
make_photo photo.ppm
$IM photo.ppm photo.png
$IM photo.ppm -quality 75 photo.jpg
$IM photo.ppm -compress LZW photo.lzw.tif
$IM photo.ppm BMP3:photo.bmp

# Quillo: the median of RUNS repetitions of each benchmark.
QUILLO_BENCH_PHOTO=$WORK/photo.png QUILLO_CODEC_BASE=$WORK/photo "$BUILD/quillo-bench" \
    --benchmark_filter='BM_(Decode|Encode)/' \
    --benchmark_repetitions=$((RUNS < 2 ? 2 : RUNS)) --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null | grep '_median' >quillo.csv
quillo() { # BENCHMARK: real time (column 3) or processor time (column 4)
    local col=3
    [ "$TIMING" = cpu ] && col=4
    awk -F, -v n="\"BM_$1/real_time_median\"" -v c=$col '$1 == n { printf "%.1f", $c }' quillo.csv
}
qsize() { # BENCHMARK: the bytes it wrote (the file_MB counter, the last column filled)
    awk -F, -v n="\"BM_$1/real_time_median\"" '$1 == n { for (i = NF; i > 0; i--) if ($i != "") { printf "%.0f", $i * 1e6; exit } }' quillo.csv
}

# A floor that fails leaves its column empty rather than half filled.
if [ "$have_floor" != 1 ] || ! ./codecs photo "$RUNS" . >floor.txt 2>/dev/null; then : >floor.txt; fi
floor() { # the floor's row title: its median
    awk -v t="$1" 'index($0, t) == 1 { for (i = 1; i < NF; i++) if ($i == "median") { print $(i + 1); exit } }' floor.txt
}
fsize() { # the floor's row title: the bytes on the "-> N bytes" line after it
    awk -v t="$1" 'found && /-> / { print $2; exit } index($0, t) == 1 { found = 1 }' floor.txt
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b <= 0) print "-"; else printf "%.2f", a / b }'; }

printf '%-14s %9s %9s %7s %12s %12s\n' op quillo_ms floor_ms q/floor quillo_bytes floor_bytes
row() { # NAME BENCHMARK FLOOR_TITLE [encode]
    local q f
    q=$(quillo "$2")
    f=$(floor "$3")
    if [ -n "${4:-}" ]; then
        printf '%-14s %9s %9s %7s %12s %12s\n' "$1" "${q:--}" "${f:--}" "$(ratio "$q" "$f")" \
            "$(qsize "$2")" "$(fsize "$3")"
    else
        printf '%-14s %9s %9s %7s\n' "$1" "${q:--}" "${f:--}" "$(ratio "$q" "$f")"
    fi
}
row png-decode Decode/png "PNG decode (libpng"
row png-encode Encode/png "PNG encode libpng default" encode
row jpeg-decode Decode/jpeg "JPEG decode (islow, fancy"
row jpeg-encode Encode/jpeg "JPEG encode q75 4:2:0 (no optimize)" encode
row tiff-decode Decode/tifflzw "TIFF LZW+predictor decode"
row tiff-encode Encode/tifflzw "TIFF LZW+predictor2 encode" encode
row bmp-decode Decode/bmp "BMP 24-bit decode"
row bmp-encode Encode/bmp "BMP 24-bit encode" encode
echo "(ms, $TIMING time, median of $RUNS; the floor's TIFF and BMP rows read and write through the page cache," \
     "ours through memory; the floor's other PNG rows for reference:)"
grep -A1 -E '^PNG encode zlib' floor.txt | sed 's/^/  /' || true
