#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan and runs the whole test suite there; the first finding stops the
# offending test with a report and fails the run.
#
# Usage: tools/sanitize_test.sh [ctest arguments...]
# Tests labelled "slow" are skipped (they only repeat fast-tested code on large
# pages and would take minutes under the sanitizers); pass -L slow to run only them.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEDGEBIN_SANITIZE=ON \
    -DEDGEBIN_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"

# detect_leaks needs ptrace, which some containers forbid; it is on whenever it works.
leaks=1
if ! ASAN_OPTIONS=detect_leaks=1 ./build-asan/edgebin --help >/dev/null 2>&1; then
    leaks=0
    echo "sanitize_test: leak detection unavailable here, running without it"
fi
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=${leaks}:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"

if [ $# -eq 0 ]; then
    set -- -LE slow
fi
ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600 "$@"
