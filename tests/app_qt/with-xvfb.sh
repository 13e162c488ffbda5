#!/bin/sh
# Runs a command on an X server of its own, so that tests of the X clipboard neither need
# nor disturb the user's display. Exits 77 (skipped) when Xvfb or xclip is missing.
command -v Xvfb >/dev/null 2>&1 && command -v xclip >/dev/null 2>&1 || {
    echo "skipped: needs Xvfb and xclip"
    exit 77
}
dir=$(mktemp -d) || exit 1
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$dir/display" 2>"$dir/log" &
server=$!
i=0
while [ ! -s "$dir/display" ] && [ $i -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
done
if [ ! -s "$dir/display" ]; then
    echo "skipped: Xvfb did not start"; cat "$dir/log"
    kill $server 2>/dev/null; rm -rf "$dir"
    exit 77
fi
DISPLAY=:$(cat "$dir/display") QT_QPA_PLATFORM=xcb "$@"
rc=$?
kill $server 2>/dev/null
wait $server 2>/dev/null
rm -rf "$dir"
exit $rc
