#!/usr/bin/env bash
# Installs the build tree into a temporary prefix: the command and the application beside it, the desktop
# entry (which must validate and name the installed command) and the icon are there.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
entry=$prefix/share/applications/roadloom.desktop
failed=0
for file in "$prefix/bin/roadloom" "$prefix/bin/roadloom-app" "$entry" "$prefix/share/icons/hicolor/scalable/apps/roadloom.svg"; do
    [ -f "$file" ] || { echo "missing: $file"; failed=1; }
done
[ -x "$prefix/bin/roadloom" ] || { echo "not executable: $prefix/bin/roadloom"; failed=1; }
desktop-file-validate "$entry" || failed=1
grep -qx "Exec=$prefix/bin/roadloom %F" "$entry" || { echo "Exec does not name the installed executable"; grep Exec "$entry"; failed=1; }
grep -qx "Icon=roadloom" "$entry" || failed=1
# The video types the library reads, and no folders: claiming inode/directory would make the program the
# default folder handler on desktops that have none.
grep -qx "MimeType=video/mp4;video/quicktime;video/x-msvideo;" "$entry" || { echo "MimeType is not the video types"; grep MimeType "$entry"; failed=1; }
if grep -q "inode/" "$entry"; then echo "the entry claims folders"; failed=1; fi
if [ $failed -ne 0 ]; then echo "0 passed, 1 failed"; exit 1; fi
echo "1 passed, 0 failed"
