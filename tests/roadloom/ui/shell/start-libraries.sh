#!/usr/bin/env bash
# What the two executables load when they start: the `roadloom` command, which may only hand paths over,
# loads no Qt at all, nor players or FFmpeg; the application loads libmpv and FFmpeg only once it
# needs them ("lazy" given), not at start-up.
set -uo pipefail
command=$1 application=$2 lazy=$3
failed=0
loaded=$(ldd "$command") || { echo "ldd failed on $command"; exit 1; }
for library in libQt6 libmpv libavcodec libavformat; do
    if grep -q "$library" <<<"$loaded"; then echo "$command loads $library"; failed=1; fi
done
[ -x "$(dirname "$command")/roadloom-app" ] || { echo "no roadloom-app beside $command"; failed=1; }
if [ "$lazy" = ON ]; then
    needed=$(readelf -d "$application") || { echo "readelf failed on $application"; exit 1; }
    for library in libmpv libavcodec libavformat libavutil libswscale libswresample; do
        if grep -q "NEEDED.*$library" <<<"$needed"; then echo "$application loads $library at start"; failed=1; fi
    done
fi
if [ $failed -ne 0 ]; then echo "0 passed, 1 failed"; exit 1; fi
echo "1 passed, 0 failed"
