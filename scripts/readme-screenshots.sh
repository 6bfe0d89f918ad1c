#!/usr/bin/env bash
# Makes the README's two pictures again from the end-to-end test: runs the journey on a virtual display,
# then copies the half-size copies of two of its 1440x900 screenshots (the test writes them) into docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-asan}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j4 --target roadloom_e2e
ctest --preset "$preset" -R roadloom_e2e_xvfb --output-on-failure
mkdir -p docs
for pair in "e2e-2-playing main-window" "e2e-8-device-settings device-settings"; do
    read -r shot name <<< "$pair"
    cp "build/$preset/screenshots/$shot-small.png" "docs/$name.png"
done
ls -l docs/*.png
