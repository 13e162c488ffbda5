# shellcheck shell=bash
# Shared by the bench scripts (sourced): the floors of ../shared/perf and the test photo.
# shellcheck disable=SC2034 # have_floor is read by the scripts that source this

# A scratch folder for the run, removed when the script exits.
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
TIMING=${TIMING:-wall}

# The path of ../shared/perf/NAME: shared/ lies beside the checkout, or beside the folder of
# checkouts in a git worktree. An explicit path (the scripts' second argument) wins.
perf_source() { # NAME [EXPLICIT]
    local here
    here=$(dirname "${BASH_SOURCE[0]}")
    if [ -n "${2:-}" ]; then echo "$2"; elif [ -f "$here/../../shared/perf/$1" ]; then
        echo "$here/../../shared/perf/$1"
    else echo "$here/../../../shared/perf/$1"; fi
}

# Compiles a floor into OUT with the given compiler flags and libraries; TIMING=cpu gives it
# the thread's processor clock. Sets have_floor to 1 when it built. WORK must be set.
build_floor() { # SOURCE OUT GCC-ARGS...
    local source=$1 out=$2 src=$1
    shift 2
    have_floor=0
    if [ ! -f "$source" ]; then
        echo "no floor at $source: its column stays empty (pass its path as the second argument)" >&2
        return 0
    fi
    if [ "$TIMING" = cpu ]; then # the same code, its clock the thread's processor time
        src=$WORK/$(basename "$source" .c)_cpu.c
        sed 's/CLOCK_MONOTONIC/CLOCK_THREAD_CPUTIME_ID/' "$source" >"$src"
    fi
    if gcc -o "$out" "$src" "$@"; then have_floor=1; fi
}

# The 4000 x 3000 photo-like picture every bench uses: smooth colour fields with fine grain.
make_photo() { # OUT.ppm
    /usr/bin/convert -limit thread 1 -seed 42 -size 1000x750 plasma:fractal -blur 0x1 \
        -resize 4000x3000 -attenuate 0.25 +noise Gaussian -depth 8 "$1"
}
