#!/usr/bin/env bash
# Launches the real executable twice on the display it is given: the second launch hands a folder to the
# first and exits 0; the first adds the folder to its library ("libraryFolders" in its settings).
set -uo pipefail
exe=$(realpath "$1")
home=$(mktemp -d)
trap 'kill "$first" 2>/dev/null; wait "$first" 2>/dev/null; rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share XDG_CACHE_HOME=$home/.cache
export XDG_RUNTIME_DIR=$home/runtime QT_QPA_PLATFORM=xcb
mkdir -m 700 -p "$XDG_RUNTIME_DIR" "$home/Trip 1/DCIM"
settings=$XDG_CONFIG_HOME/Roadloom/Roadloom.conf

"$exe" >"$home/first.log" 2>&1 &
first=$!
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/roadloom.socket" ] && break
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/roadloom.socket" ] || { echo "the first instance never listened"; cat "$home/first.log"; exit 1; }

(cd "$home" && timeout 20 "$exe" "Trip 1")
status=$?
[ "$status" -eq 0 ] || { echo "the second launch exited $status"; exit 1; }

for _ in $(seq 100); do
    grep -q "libraryFolders=.*Trip 1" "$settings" 2>/dev/null && break
    sleep 0.1
done
grep -q "libraryFolders=.*$home/Trip 1" "$settings" || { echo "the folder never reached the first instance"; cat "$settings" "$home/first.log"; exit 1; }
kill -0 "$first" || { echo "the first instance ended"; exit 1; }
echo "1 passed, 0 failed"
