#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds (default 20) from
# its seed corpus. Any crash, leak or timeout fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-20}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

targets=$(find build/fuzz/fuzz -maxdepth 1 -type f -executable -name 'fuzz_*' | sort)
if [ -z "$targets" ]; then
    echo "no fuzz targets"
    exit 0
fi
# Each target runs for its full time; as many run at once as there are cores.
fuzz_one() {
    local target=$1 name corpus seeds args
    name=$(basename "$target")
    corpus=build/fuzz/corpus/$name
    mkdir -p "$corpus"
    seeds=fuzz/corpus/${name#fuzz_}
    echo "fuzzing $name for ${SECONDS_EACH}s"
    args=("$corpus")
    [ -d "$seeds" ] && args+=("$seeds")
    "$target" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
        -artifact_prefix=build/fuzz/ "${args[@]}" 2>build/fuzz/$name.log || {
        tail -n 60 build/fuzz/$name.log
        echo "fuzz target $name failed"
        return 1
    }
}
export -f fuzz_one
export SECONDS_EACH
count=$(echo "$targets" | wc -l)
if ! echo "$targets" | xargs -P "$(nproc)" -I{} bash -c 'fuzz_one "$1"' _ {}; then
    echo "fuzz: a target failed"
    exit 1
fi
echo "fuzz: $count passed, 0 failed"
