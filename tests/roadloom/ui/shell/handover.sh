#!/usr/bin/env bash
# Launches the real executable on the display it is given, as a user or a file manager would. One program
# works on the data folder at a time:
# - a second launch hands a folder to the first and exits 0; the first adds it to its library ("libraryFolders"
#   in its settings);
# - so does a launch whose XDG_RUNTIME_DIR is unset: it finds the first through the data folder's lock;
# - once the instance is killed with SIGKILL, the next launch becomes the instance at once;
# - two launches at the same instant on two card folders leave one instance, which lists both cards;
# - a launch beside an instance that does not answer says that another Roadloom is running and exits, and its
#   paths are not opened once the instance answers again.
set -uo pipefail
exe=$(realpath "$1")
home=$(mktemp -d)
started=()
cleanup() {
    for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$home"
}
trap cleanup EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_CACHE_HOME=$home/.cache
export XDG_RUNTIME_DIR=$home/runtime QT_QPA_PLATFORM=xcb
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
for folder in "Trip 1" "Trip 2" "Trip 3" "Trip 4" "Trip 5" "Card A" "Card B"; do mkdir -p "$home/$folder/DCIM"; done
settings=$XDG_CONFIG_HOME/Roadloom/Roadloom.conf
lock=$XDG_DATA_HOME/Roadloom/roadloom.lock

fail() {
    echo "$1"
    for log in "$home"/*.log "$settings"; do [ -f "$log" ] && { echo "--- $log"; cat "$log"; }; done
    echo "0 passed, 1 failed"
    exit 1
}
# The instance names its socket in the lock file once it listens.
listening() {
    for _ in $(seq 300); do
        [ -s "$lock" ] && [ -S "$(head -n 1 "$lock")" ] && return 0
        sleep 0.1
    done
    return 1
}
listed() {
    for _ in $(seq 300); do
        grep -q "libraryFolders=.*$home/$1" "$settings" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
start() { # log name, arguments...
    local log=$1
    shift
    "$exe" "$@" >"$home/$log.log" 2>&1 &
    started+=($!)
}

start first
first=${started[-1]}
listening || fail "the first instance never listened"

(cd "$home" && timeout 20 "$exe" "Trip 1") || fail "the second launch exited $?"
listed "Trip 1" || fail "the folder never reached the first instance"

env -u XDG_RUNTIME_DIR timeout 20 "$exe" "$home/Trip 2" || fail "the launch without XDG_RUNTIME_DIR exited $?"
listed "Trip 2" || fail "the folder of the launch without XDG_RUNTIME_DIR never reached the instance"
kill -0 "$first" || fail "the first instance ended"

kill -9 "$first"
wait "$first" 2>/dev/null
start taker "$home/Trip 3"
taker=${started[-1]}
listening || fail "the launch after the instance was killed did not take over"
listed "Trip 3" || fail "the launch that took over did not open its folder"
kill -0 "$taker" || fail "the launch that took over ended"
kill "$taker"
wait "$taker" 2>/dev/null

# At the same instant: one becomes the instance, the other hands its card over and exits 0.
start cardA "$home/Card A"
a=${started[-1]}
start cardB "$home/Card B"
b=${started[-1]}
for _ in $(seq 300); do
    kill -0 "$a" 2>/dev/null && kill -0 "$b" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$a" 2>/dev/null && kill -0 "$b" 2>/dev/null; then fail "two instances run on one data folder"; fi
if kill -0 "$a" 2>/dev/null; then instance=$a other=$b; else instance=$b other=$a; fi
wait "$other"
status=$?
[ "$status" -eq 0 ] || fail "the launch beside the instance exited $status"
kill -0 "$instance" 2>/dev/null || fail "no instance is left"
listed "Card A" || fail "Card A is not listed"
listed "Card B" || fail "Card B is not listed"

# An instance that does not answer (stopped here) keeps a launch for a bounded time; then the launch says so
# and exits, without a display for a message box. Its paths are not opened once the instance answers again.
kill -STOP "$instance"
env -u DISPLAY timeout 60 "$exe" "$home/Trip 4" 2>"$home/refused.log"
status=$?
kill -CONT "$instance"
[ "$status" -eq 1 ] || fail "the launch beside a hung instance exited $status"
grep -q "Another Roadloom is already running" "$home/refused.log" || fail "the launch beside a hung instance did not say why"
# A later launch's paths arrive after anything the instance read before them.
(cd "$home" && timeout 20 "$exe" "Trip 5") || fail "the launch after the instance answered again exited $?"
listed "Trip 5" || fail "the launch after the instance answered again was not opened"
grep -q "libraryFolders=.*$home/Trip 4" "$settings" && fail "a launch that said it was not taken was opened"
echo "1 passed, 0 failed"
