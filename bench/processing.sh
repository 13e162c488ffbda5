#!/bin/bash
# The processing functions beside the plain-C floor and the peers, in one run on one photo:
# one line per operation with Quillo in process on one thread and on all, the floor
# (../shared/perf/floor.c, one core), vips, ImageMagick and GraphicsMagick (whole processes
# on one thread minus their own load-and-save of the same file), and the ratios
# Quillo/floor and Quillo/best peer. All times in milliseconds; "-" where a peer has no
# such operation.
# usage: bench/processing.sh [BUILD_DIR] [FLOOR_C]   (make bench runs it)
# TIMING=cpu measures processor time instead of wall time where one thread runs (Quillo on
# one thread, the floor, the peers' processes): on a machine that others load, wall times
# mostly measure the wait for a core.
set -euo pipefail
BUILD=$(realpath "${1:-build}")
HERE=$(dirname "$0")
# shellcheck source=bench/common.sh
. "$HERE/common.sh"
FLOOR_C=$(perf_source floor.c "${2:-}")
IM=/usr/bin/convert
GM=/usr/bin/gm
RUNS=${RUNS:-3}
export VIPS_CONCURRENCY=1 MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1
build_floor "$FLOOR_C" "$WORK/floor" -O3 -march=native -fno-strict-aliasing -lm
cd "$WORK"
make_photo photo.ppm
$IM photo.ppm photo.png

# Quillo in process: median ms of each benchmark at 1 and at all threads.
QUILLO_BENCH_PHOTO=$WORK/photo.png "$BUILD/quillo-bench" \
    --benchmark_filter='BM_(Invert|Grayscale|Posterize4|Average3|Average5|Median3|Sharpen|Blur|Emboss|AddNoise|Equalize|AutoContrast|RotateFine750)/' \
    --benchmark_repetitions=$((RUNS < 2 ? 2 : RUNS)) --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null | grep '_median' >quillo.csv
quillo() { # NAME THREADS [wall]; processor time (column 4) only means the work on one thread
    col=3
    [ "$TIMING" = cpu ] && [ "$2" = 1 ] && [ -z "${3:-}" ] && col=4
    awk -F, -v n="\"BM_$1/$2/real_time_median\"" -v c=$col '$1 == n { printf "%.1f", $c }' quillo.csv
}

[ "$have_floor" = 1 ] && ./floor photo.ppm 'nolayer%d.pam' 5 >floor.txt 2>/dev/null || : >floor.txt
floor() { # the floor's row title
    # The value follows the last "median" of the line (a title may hold the word too).
    awk -v t="$1" 'index($0, t) == 1 { v = ""; for (i = 1; i < NF; i++) if ($i == "median") v = $(i + 1); print v; exit }' floor.txt
}

# Best wall time in ms of RUNS runs; "-" when the command fails.
best() {
    local b=""
    for _ in $(seq "$RUNS"); do
        local t0 t1 ms
        if [ "$TIMING" = cpu ]; then
            # The user and system time of the finished children, "XmY.YYYs XmY.YYYs".
            t1=$( ("$@" >/dev/null 2>&1 || exit 1; times) | tail -1) || { echo "-"; return; }
            ms=$(echo "$t1" | awk '{ t = 0; for (i = 1; i <= 2; i++) { split($i, p, "m"); t += p[1] * 60 + p[2] }
                                    printf "%d", t * 1000 }')
        else
            t0=$(date +%s%N)
            "$@" >/dev/null 2>&1 || { echo "-"; return; }
            t1=$(date +%s%N)
            ms=$(((t1 - t0) / 1000000))
        fi
        if [ -z "$b" ] || [ "$ms" -lt "$b" ]; then b=$ms; fi
    done
    echo "$b"
}
IM_BASE=$(best $IM -limit thread 1 photo.ppm o.ppm)
GM_BASE=$(best $GM convert -limit threads 1 photo.ppm o.ppm)
VIPS_BASE=$(best vips copy photo.ppm o.ppm)
minus() { [ "$1" = "-" ] && echo "-" || echo $(($1 > $2 ? $1 - $2 : 0)); }
im() { [ -z "$1" ] && echo "-" || minus "$(best $IM -limit thread 1 photo.ppm $1 o.ppm)" "$IM_BASE"; }
gm() { [ -z "$1" ] && echo "-" || minus "$(best $GM convert -limit threads 1 photo.ppm $1 o.ppm)" "$GM_BASE"; }
vp() { [ -z "$1" ] && echo "-" || minus "$(best vips $1)" "$VIPS_BASE"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == "-" || b <= 0) print "-"; else printf "%.2f", a / b }'; }

printf '%-14s %9s %9s %7s %8s %8s %8s %8s %10s %10s\n' op quillo_1t quillo_all speedup floor vips im gm q/floor q/peer
row() { # NAME FLOOR_TITLE VIPS_ARGS IM_ARGS GM_ARGS
    local q1 qa up f v i g peer
    q1=$(quillo "$1" 1); qa=$(quillo "$1" 0); f=$(floor "$2")
    # The speed-up of all threads over one, both in wall time.
    up=$(ratio "$(quillo "$1" 1 wall)" "$qa")
    v=$(vp "$3"); i=$(im "$4"); g=$(gm "$5")
    peer=$(printf '%s\n' "$v" "$i" "$g" | { grep -v -- - || true; } | sort -n | head -1)
    printf '%-14s %9s %9s %7s %8s %8s %8s %8s %10s %10s\n' "$1" "${q1:--}" "${qa:--}" "$up" "${f:--}" \
        "$v" "$i" "$g" \
        "$(ratio "$q1" "$f")" "$(ratio "$q1" "$peer")"
}
row Invert "invert RGB" "invert photo.ppm o.ppm" "-negate" "-negate"
row Grayscale "grayscale RGBA->RGBA" "colourspace photo.ppm o.ppm b-w" "-colorspace Gray" "-colorspace Gray"
row Posterize4 "posterize 4 (arith" "" "-posterize 4" ""
row Average3 "box 3x3" "" "-statistic Mean 3x3" ""
row Average5 "box 5x5" "" "-statistic Mean 5x5" ""
row Median3 "median 3x3" "rank photo.ppm o.ppm 3 3 4" "-statistic Median 3x3" "-median 1"
row Sharpen "unsharp sigma2" "sharpen photo.ppm o.ppm" "-unsharp 0x2" "-unsharp 0x2"
# Blur is sharpen with a negative amount: the same pass, so the same floor.
row Blur "unsharp sigma2" "gaussblur photo.ppm o.ppm 2" "-blur 0x2" "-blur 0x2"
row Emboss "emboss 3x3" "" "-emboss 1" "-emboss 1"
row AddNoise "add gaussian noise" "" "+noise Gaussian" "+noise Gaussian"
row Equalize "equalize" "hist_equal photo.ppm o.ppm" "-equalize" "-equalize"
row AutoContrast "auto-level" "" "-auto-level" "-normalize"
row RotateFine750 "rotate 7.5 deg" "rotate photo.ppm o.ppm 7.5" "-rotate 7.5" "-rotate 7.5"
echo "(ms, $TIMING time; peers: whole process minus its load and save of the same PPM: im $IM_BASE, gm $GM_BASE, vips $VIPS_BASE)"
