#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, runs every test,
# then runs each fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

JOBS=$(nproc)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

cmake --preset asan >/dev/null
# Every target: the application, the tests and the benchmarks (built, not run).
cmake --build --preset asan -j "$JOBS"
# Most tests wait on event loops and players more than they compute: two for each core.
ctest --preset asan -j "$((JOBS * 2))"

bash scripts/fuzz.sh "${ROADLOOM_FUZZ_SECONDS:-20}"
