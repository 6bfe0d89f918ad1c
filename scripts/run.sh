#!/usr/bin/env bash
# Installs what is missing, builds and starts Roadloom.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec build/release/src/roadloom/roadloom "$@"
