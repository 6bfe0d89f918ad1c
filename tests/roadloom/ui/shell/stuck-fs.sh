#!/usr/bin/env bash
# Drives the real executable beside a file system that stops answering (tests/fixtures/blocking_fs.py, a
# FUSE pass-through of a copy of the generated card, mounted as a volume from a /dev/ device), held
# throughout each case:
#   A. a saved folder whose listing stops, and with it the check for the camera's configuration file in it;
#   B. a folder given on the command line whose stat stops;
#   C. a mounted volume, no source at all, whose statfs stops;
# in each the main window shows, Ctrl+, opens the settings and Ctrl+Q ends the program within 3.5 s, its data
# folder's lock free. Then D: with the volume's statfs held while the program runs, Ctrl+, opens the settings,
# and Ctrl+Q and at once a launch with a file: once the file system answers, the file opens in a program.
# "Ended" is the main thread's exit: a thread waiting for a FUSE call the file system has taken cannot be
# ended by anyone (the kernel waits it out), so the process is reaped only after the release.
# Runs in a mount namespace of its own where it can, so that no other program on the machine sees the volume.
# Usage: xvfb.sh --wm stuck-fs.sh ROADLOOM MEDIA-DIR [SHOT-DIR]; exits 77 without a display or FUSE.
set -uo pipefail
if [ -z "${ROADLOOM_OWN_MOUNTS:-}" ] && unshare -m --propagation private true 2>/dev/null; then
    ROADLOOM_OWN_MOUNTS=1 exec unshare -m --propagation private bash "$0" "$@"
fi
exe=$(realpath "$1")
media=$(realpath "$2")
shots=${3:-${ROADLOOM_SHOT_DIR:-}}
blocking_fs=$(cd "$(dirname "$0")/../../../fixtures" && pwd)/blocking_fs.py
bound_ms=3500

xdotool get_num_desktops >/dev/null 2>&1 || { echo "no display with a window manager: skipped"; exit 77; }
[ -c /dev/fuse ] || { echo "no /dev/fuse: skipped"; exit 77; }
/usr/bin/python3 -c 'import fusepy' || { echo "python3-fusepy is missing: run scripts/install-deps.sh"; exit 1; }

work=$(mktemp -d)
mnt=$work/mnt
control=$work/control
fs=
fs2=
app=
launcher=
cleanup() {
    : >"$control" # every held call answers, so that the programs' threads can end
    for pid in $app $launcher; do
        kill -9 "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    unmount "$mnt" "$fs"
    unmount "$work/mnt2" "$fs2"
    rm -rf "$work"
}
unmount() { # MOUNTPOINT PID
    [ -n "$2" ] || return 0
    fusermount -u -z "$1" 2>/dev/null || umount -l "$1" 2>/dev/null
    kill "$2" 2>/dev/null
    for _ in $(seq 50); do [ -e "/proc/$2" ] || break; sleep 0.1; done
    kill -9 "$2" 2>/dev/null
    wait "$2" 2>/dev/null
}
trap cleanup EXIT
mkdir -p "$work/source" "$mnt"
cp -r "$media/card" "$work/source/card"
mkdir "$work/source/card/SETTING"
printf 'const=50\r\nevent=30\r\n' >"$work/source/card/SETTING/blackbox.cfg"
: >"$control"
/usr/bin/python3 "$blocking_fs" "$work/source" "$mnt" "$control" >"$work/fs.log" 2>&1 &
fs=$!

passed=0
failed=0
now_ms() { echo $(($(date +%s%N) / 1000000)); }
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
mounted() { grep -q " $mnt [^-]* - fuse.roadloomtest /dev/sdz9 " /proc/self/mountinfo; }
within 100 mounted || { echo "the FUSE file system does not mount: skipped"; cat "$work/fs.log"; exit 77; }
[ -n "$shots" ] && rm -f "$shots"/stuck-fs-*.png

shot() { [ -n "$shots" ] && mkdir -p "$shots" && import -window root "$shots/stuck-fs-$1.png" 2>/dev/null; }
check() { # check WHAT COMMAND...: one expectation
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        return 0
    fi
    failed=$((failed + 1))
    echo "FAILED: $case_name: $what"
    for shown in $(xdotool search --all --onlyvisible --pid "$app" --name . 2>/dev/null); do
        echo "  shown: $(xdotool getwindowname "$shown")"
    done
    # Where the GUI thread waits, when it waits in the kernel.
    if [ -r "/proc/$app/task/$app/stack" ]; then
        echo "  GUI thread: $(awk '/^State/ {print $2}' "/proc/$app/task/$app/status")," \
            "$(head -4 "/proc/$app/task/$app/stack" | awk '{print $2}' | tr '\n' ' ')"
    fi
    shot "$case_name-failed-$failed"
    return 1
}
visible() { xdotool search --all --onlyvisible --pid "$app" --name "$1" 2>/dev/null | head -1; }
main_shown() {
    main=$(visible '^(Roadloom|REC_.*)$')
    [ -n "$main" ]
}
is_visible() { [ -n "$(visible "$1")" ]; }
key() { xdotool key --clearmodifiers "$@"; }
focus() { timeout 5 xdotool windowactivate --sync "$1" >/dev/null 2>&1; sleep 0.2; }
held_reached() { [ -s "$control.log" ]; }
# The main thread has exited (the process is gone or only a zombie waiting for its stuck threads) and the
# data folder's lock is free for the next launch.
ended() {
    local state
    state=$(sed 's/.*) //' "/proc/$app/stat" 2>/dev/null | cut -d' ' -f1)
    [ -z "$state" ] || [ "$state" = Z ]
}
lock_free() { flock -n "$XDG_DATA_HOME/Roadloom/roadloom.lock" true; }
quit_done() { ended && lock_free; }

# start NAME HELD [ARGUMENT...]: a fresh home, the file system holding the HELD lines, the program started.
start() {
    case_name=$1
    printf '%s\n' "$2" >"$control"
    shift 2
    : >"$control.log"
    home=$work/home-$case_name
    export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_CACHE_HOME=$home/.cache
    export XDG_RUNTIME_DIR=$home/runtime QT_QPA_PLATFORM=xcb
    mkdir -m 700 -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Roadloom"
    [ -n "${saved:-}" ] && printf '[General]\nlibraryFolders=%s\n' "$saved" >"$XDG_CONFIG_HOME/Roadloom/Roadloom.conf"
    started_ms=$(now_ms)
    "$exe" "$@" >"$home/app.log" 2>&1 &
    app=$!
}
# The window shows and takes its keys while the program's calls are held.
window_and_settings() {
    check "the main window shows" within 300 main_shown || return 1
    local window_ms=$(($(now_ms) - started_ms))
    check "the program reaches the held file system" within 100 held_reached
    sleep 1 # its other calls meet the held ones too
    focus "$main"
    local asked_ms
    asked_ms=$(now_ms)
    key ctrl+comma
    check "Ctrl+, opens the settings" within 100 is_visible '^Settings$' || return 1
    echo "$case_name: window after ${window_ms} ms, settings after $(($(now_ms) - asked_ms)) ms," \
        "held: $(sort -u "$control.log" | tr '\n' ' ')"
    shot "$case_name"
}
# Ctrl+Q ends the program within the bound; the time is from the key to the main thread's exit and a free lock.
quit_within_bound() {
    local pressed_ms quit_ms
    pressed_ms=$(now_ms)
    key ctrl+q
    for _ in $(seq 200); do
        quit_done && break
        sleep 0.05
    done
    quit_ms=$(($(now_ms) - pressed_ms))
    if quit_done; then
        echo "$case_name: Ctrl+Q to the end in ${quit_ms} ms"
    else
        echo "$case_name: Ctrl+Q did not end the program in ${quit_ms} ms"
    fi
    check "Ctrl+Q ends the program within ${bound_ms} ms" test "$quit_ms" -le "$bound_ms" -a "$(quit_done && echo y)" = y
}
# Releases the file system and waits for the program's last threads; a program that does not end then is
# killed, and left behind when even that cannot end it.
gone() { [ ! -e "/proc/$app" ]; }
finish() {
    : >"$control"
    within 100 ended || { key ctrl+q; within 100 ended; }
    check "the program ends once the file system answers" within 100 gone || kill -9 "$app" 2>/dev/null
    within 50 gone && wait "$app" 2>/dev/null
    app=
}

saved=$mnt/card
start A "$(printf 'list /card\naccess /card/')"
window_and_settings && quit_within_bound
finish
saved=

start B "getattr /card" "$mnt/card"
window_and_settings && quit_within_bound
finish

start C "statfs"
window_and_settings && quit_within_bound
finish

# D. A launch sent while the program quits, once its socket listens, is taken by a program that stays or left
# to open itself. The volume stops answering while the program runs; a second volume mounted makes it look.
start D ""
cp "$media/card/DCIM/REC_20250301_080000_F.mp4" "$home/REC_20250302_090000_F.mp4"
if check "the main window shows" within 300 main_shown; then
    echo statfs >"$control"
    mkdir -p "$work/mnt2"
    /usr/bin/python3 "$blocking_fs" "$work/source" "$work/mnt2" "$work/control2" --fsname /dev/sdz8 \
        >"$work/fs2.log" 2>&1 &
    fs2=$!
    check "the program reaches the held file system" within 100 held_reached
    focus "$main"
    key ctrl+comma
    check "Ctrl+, opens the settings while the volume is held" within 100 is_visible '^Settings$'
    key ctrl+q
    "$exe" "$home/REC_20250302_090000_F.mp4" >"$home/launch.log" 2>&1 &
    launcher=$!
    sleep 2
    : >"$control"
    opened() { [ -n "$(xdotool search --all --onlyvisible --name '^REC_20250302_090000' 2>/dev/null)" ]; }
    check "the file of a launch during the quit opens" within 300 opened
    shot D
    if kill -0 "$launcher" 2>/dev/null; then
        echo "D: the launch became the program"
    else
        wait "$launcher"
        echo "D: the launch exited $?, saying: $(head -c 300 "$home/launch.log")"
    fi
    finish
    app=$launcher
    launcher=
    within 50 main_shown && focus "$main" && key ctrl+q
    finish
    unmount "$work/mnt2" "$fs2"
    fs2=
fi

if [ "$failed" -ne 0 ]; then
    for log in "$work"/home-*/app.log "$work/fs.log"; do
        [ -s "$log" ] && { echo "--- $log"; tail -20 "$log"; }
    done
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
