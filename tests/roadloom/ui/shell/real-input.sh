#!/usr/bin/env bash
# Drives the real executable with X input (xdotool key and click events through the X server) under a window
# manager, on a copy of the generated card:
#   1. a click on a recording, then Space, ←, →, comma and period reach the player; Ctrl+Down goes to the next
#      recording; Delete then Return leaves the recording's file where it was;
#   2. Ctrl+W closes the settings and Device Settings;
#   3. with the main window closed, the settings window opens the settings, brings the main window back and
#      quits, by its keys; a launch without arguments brings the main window back too.
# Usage: xvfb.sh --wm real-input.sh ROADLOOM MEDIA-DIR (tests/fixtures/xvfb.sh); exits 77 without a display.
set -uo pipefail
exe=$(realpath "$1")
media=$(realpath "$2")

# Run by tests/fixtures/xvfb.sh --wm: a display with a window manager is up.
xdotool get_num_desktops >/dev/null 2>&1 || { echo "no display with a window manager: skipped"; exit 77; }

home=$(mktemp -d)
app=
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    rm -rf "$home"
}
trap cleanup EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_CACHE_HOME=$home/.cache
export XDG_RUNTIME_DIR=$home/runtime QT_QPA_PLATFORM=xcb
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
cp -r "$media/card" "$home/card"
shots=${ROADLOOM_SHOT_DIR:-}

passed=0
failed=0
check() { # check WHAT COMMAND...: one expectation
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
        for shown in $(xdotool search --all --onlyvisible --pid "$app" --name . 2>/dev/null); do
            echo "  shown: $(xdotool getwindowname "$shown")"
        done
        [ -n "$shots" ] && import -window root "$shots/real-input-failed-$failed.png" 2>/dev/null
    fi
}
# Waits up to N tenths of a second for a command to succeed.
within() {
    local tenths=$1
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}
visible() { xdotool search --all --onlyvisible --pid "$app" --name "$1" 2>/dev/null | head -1; }
# The main window: its title starts with the loaded recording's name here. Qt may give it a new X window
# when it is shown again.
main_shown() {
    main=$(visible '^REC_')
    [ -n "$main" ]
}
main_closed() { [ -z "$(visible '^REC_')" ]; }
is_visible() { [ -n "$(visible "$1")" ]; }
title() { main_shown && xdotool getwindowname "$main" 2>/dev/null; }
title_is() { [[ "$(title)" == "$1"* ]]; }
# A fingerprint of the video stage in the player column.
player_pixels() {
    import -window root -crop "$((width - 560))x$((height / 2))+$((left + 560))+$((top + 60))" \
        -resize 64x64! -depth 8 gray:- 2>/dev/null | md5sum
}
player_changes() {
    local before
    before=$(player_pixels)
    sleep 0.6
    [ "$(player_pixels)" != "$before" ]
}
player_still() { ! player_changes; }
key() { xdotool key --clearmodifiers "$@"; sleep 0.3; }
focus() { xdotool windowactivate --sync "$1" >/dev/null 2>&1; sleep 0.2; }

"$exe" "$home/card" >"$home/app.log" 2>&1 &
app=$!
# The window settles once the newest recording is loaded into it (the video stage replaces its X window).
within 300 main_shown || { echo "no window"; cat "$home/app.log"; exit 1; }
sleep 1
main_shown
eval "$(xdotool getwindowgeometry --shell "$main")"
left=$X top=$Y width=$WIDTH height=$HEIGHT
focus "$main"

# 1. Keys after a click on a recording. The newest recording is chosen at the start; the second row, under
# the day's header in the middle column, is the one before it.
check "the newest recording is chosen" within 100 title_is REC_20250301_080300
xdotool mousemove "$((left + 370))" "$((top + 260))" click 1
check "a click on the second row loads its recording" within 100 title_is REC_20250301_080200
check "the click's recording is paused" within 100 player_still
key space
check "Space plays" player_changes
key space
check "Space pauses" within 20 player_still
for each in Right Left period comma; do
    before=$(player_pixels)
    key "$each"
    check "$each moves the playhead" within 20 eval '[ "$(player_pixels)" != "$before" ]'
done
key ctrl+Down
check "Ctrl+Down goes to the next recording" within 100 title_is REC_20250301_080300
key Delete
check "Delete asks" within 50 eval '[ "$(xdotool getactivewindow)" != "$main" ]'
key Return
check "Return answers the question" within 50 eval '[ "$(xdotool getactivewindow)" = "$main" ]'
check "the recording stays on the card" test "$(ls "$home/card/DCIM" | wc -l)" -eq 4
check "nothing went to the Trash" test -z "$(ls -A "$XDG_DATA_HOME/Trash/files" 2>/dev/null)"

# 2. Ctrl+W closes the other windows.
key ctrl+comma
check "Ctrl+, opens the settings" within 50 is_visible '^Settings$'
focus "$(visible '^Settings$')"
key ctrl+w
check "Ctrl+W closes the settings" within 50 eval '! is_visible "^Settings$"'
focus "$main"
key ctrl+alt+d
check "Ctrl+Alt+D opens Device Settings" within 50 is_visible '^Device Settings'
focus "$(visible '^Device Settings')"
key ctrl+w
check "Ctrl+W closes Device Settings" within 50 eval '! is_visible "^Device Settings"'
focus "$main"

# 3. The other windows once the main window is closed.
key ctrl+comma
check "Ctrl+, opens the settings" within 50 is_visible '^Settings$'
focus "$main"
key alt+F4
check "the main window closes" within 50 main_closed
settings=$(visible '^Settings$')
check "the settings stay" test -n "$settings"
focus "$settings"
key ctrl+1
check "Ctrl+1 brings the main window back" within 50 main_shown
focus "$main"
key alt+F4
check "the main window closes again" within 50 main_closed
timeout 30 "$exe" >/dev/null 2>&1
check "a launch without arguments brings it back" within 50 main_shown
focus "$main"
key alt+F4
focus "$settings"
key ctrl+q
check "Ctrl+Q in the settings quits" within 100 eval '! kill -0 "$app" 2>/dev/null'

if [ "$failed" -ne 0 ]; then
    echo "--- program output"
    tail -40 "$home/app.log"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
