#!/bin/sh
# The headless script runner: each tests/cli/scripts/NAME.qs runs in a scratch folder
# holding sample.png and must print NAME.out exactly (and NAME.err with status 2 when that
# file exists); then the files the scripts wrote are checked, and lines that cannot run.
# usage: script_test.sh QUILLO_TOOL TEST_DATA_DIR
set -u
TOOL=$1
DATA=$2
SCRIPTS=$(cd "$(dirname "$0")/scripts" && pwd)
# The scripts run in a scratch folder: the tool must be found from there.
case $TOOL in /*) ;; *) TOOL=$PWD/$TOOL ;; esac
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
fails=0
passes=0
pass() { passes=$((passes + 1)); }
fail() { fails=$((fails + 1)); echo "FAIL: $*"; }
check() { # description, then a command that must succeed
    desc=$1; shift
    if "$@" >"$TMP/out" 2>"$TMP/err"; then pass; else fail "$desc"; cat "$TMP/out" "$TMP/err"; fi
}
# Our PNG writer puts the resolution right after the header; past it only pixels remain.
same_pixels() { cmp -s -n 33 "$1" "$2" && cmp -s -i 54 "$1" "$2"; }

cp "$DATA/sample.png" "$TMP/sample.png"
for script in "$SCRIPTS"/*.qs; do
    name=${script%.qs}
    (cd "$TMP" && "$TOOL" script "$script" >"$TMP/got.out" 2>"$TMP/got.err")
    rc=$?
    want=0
    [ -e "$name.err" ] && want=2
    if [ "$rc" -ne "$want" ]; then
        fail "$(basename "$script") exits $rc, not $want"; cat "$TMP/got.err"
    elif ! diff -u "$name.out" "$TMP/got.out"; then
        fail "$(basename "$script") printed something else"
    elif [ "$want" -eq 2 ] && ! diff -u "$name.err" "$TMP/got.err"; then
        fail "$(basename "$script") reported another fault"
    else
        pass
    fi
done

"$TOOL" convert "$DATA/sample.png" "$TMP/plain.png"
check "mask writes the selection as a 1-bit file, and nothing without one" sh -c "'$TOOL' info '$TMP/sel.png' | grep -qx 'bits per pixel: 1' && [ ! -e '$TMP/none.png' ]"
check "the export of an opened file holds its pixels" same_pixels "$TMP/shown.png" "$TMP/plain.png"
check "Save As picks the type of the name's extension, or adds the chosen type's" sh -c "'$TOOL' info '$TMP/typed.qlx' | grep -qx 'format: qlx' && '$TOOL' info '$TMP/copy.bmp' | grep -qx 'format: 6'"
check "a hidden background leaves the view colour in the export" sh -c "! cmp -s '$TMP/hidden.png' '$TMP/shown.png' && '$TOOL' stack '$TMP/two.qlx' '$DATA/sample.png' '$DATA/sample.png@20,20' && '$TOOL' flatten '$TMP/both.png' '$TMP/two.qlx' && ! cmp -s '$TMP/hidden.png' '$TMP/both.png'"
check "the export matches a flattened save of the same view" sh -c "printf 'open sample.png\ncommand 15875\nvisible 0 0\nexport v.png\nsave flat.png\n' | (cd '$TMP' && '$TOOL' script -) && cmp -s '$TMP/v.png' '$TMP/flat.png'"
check "a layer hidden in the script stays hidden in the saved layered file" sh -c "'$TOOL' layers '$TMP/hidden.qlx' | grep -q '^0 name=\"Background\" .* visible=0 shape=0\$'"
check "hiding a layer, then Yes to the question on closing, keeps it hidden in the file" sh -c "'$TOOL' layers '$TMP/layers.qlx' | grep -q '^1 name=.* visible=0 shape=0\$'"
"$TOOL" apply "$DATA/sample.png" "$TMP/allwhite.png" intensity 1000
check "a new image is filled with the background colour" sh -c "same_() { cmp -s -n 33 \"\$1\" \"\$2\" && cmp -s -i 54 \"\$1\" \"\$2\"; }; same_ '$TMP/white.png' '$TMP/allwhite.png' && ! same_ '$TMP/red.png' '$TMP/allwhite.png'"

check "Undo after the geometry commands gives back the cropped picture" same_pixels "$TMP/geo-undone.png" "$TMP/geo-cropped.png"
check "Resize's resampling answer reaches the command: nearest doubled and halved is exact" sh -c "same_() { cmp -s -n 33 \"\$1\" \"\$2\" && cmp -s -i 54 \"\$1\" \"\$2\"; }; same_ '$TMP/nearest-back.png' '$TMP/plain.png' && ! same_ '$TMP/resampled-back.png' '$TMP/plain.png'"
check "Rotate Layer on the background turns by the 7.5 degrees the dialog shows" sh -c "'$TOOL' apply '$DATA/sample.png' '$TMP/fine750.png' rotatefine 750 16777215 && same_() { cmp -s -n 33 \"\$1\" \"\$2\" && cmp -s -i 54 \"\$1\" \"\$2\"; }; same_ '$TMP/geo-fine.png' '$TMP/fine750.png'"

# Lines that cannot run: status 2, the line number and the reason; nothing after them runs.
bad() { # description, script text, the error line expected
    desc=$1
    out=$(printf "$2" | (cd "$TMP" && "$TOOL" script - 2>&1 >/dev/null))
    rc=$?
    if [ "$rc" -eq 2 ] && [ "$out" = "quillo-tool script: $3" ]; then pass; else
        fail "$desc (status $rc)"; echo "$out"; fi
}
bad "an unknown verb" 'open sample.png\n\n# comment\nfrobnicate 3\nexport never.png\n' "line 4: unknown command \"frobnicate\""
bad "a disabled command" 'open sample.png\ncommand 24321\n' "line 2: command 24321 is disabled"
bad "a command nobody knows" 'open sample.png\ncommand 15999\n' "line 2: no part of the editor knows command 15999"
bad "a dialog that was not opened" 'open sample.png\ndialog 1524 103=5 ok\ncommand 15875\n' "line 2: dialog 1524 was not opened"
bad "a control the dialog does not have" 'dialog 1524 999=5 ok\ncommand 24331\n' "line 1: dialog 1524: it has no control 999"
bad "an answer the box does not offer" 'open sample.png\ncommand 15875\nanswer ok\ncommand 24336\n' "line 3: the message box \"sample.png\" does not offer that answer"
bad "a bad argument" 'new 10 10 7\n' "line 1: BPP must be 1, 4, 8, 16, 24 or 32"
bad "a verb without a document" 'print layers\n' "line 1: no document is open"
bad "a timer that does not run" 'new 10 10 24\ntick 9997\n' "line 2: timer 9997 is not running"
bad "a pixel scrolled out of the view" 'new 3000 3000 24\npress 2000 10\n' "line 2: pixel 2000,10 is not in the view (scroll or zoom first)"
check "nothing after the bad line ran" sh -c "[ ! -e '$TMP/never.png' ]"

echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
