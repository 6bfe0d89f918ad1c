#!/usr/bin/env bash
# Installs what is missing, builds Roadloom, installs it into ~/.local (executable, menu entry, icon) and
# starts it with the given files and folders.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
prefix="$HOME/.local"
cmake --preset release -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build --preset release -j "$(nproc)" --target roadloom
cmake --install build/release >/dev/null
# Menus and file managers pick up the new entry and icon; both tools are optional.
update-desktop-database "$prefix/share/applications" 2>/dev/null || true
gtk-update-icon-cache -q -t "$prefix/share/icons/hicolor" 2>/dev/null || true
exec "$prefix/bin/roadloom" "$@"
