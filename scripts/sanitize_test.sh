#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan and runs the whole test suite there; the first finding stops the
# offending test with a report and fails the run.
#
# Usage: scripts/sanitize_test.sh [ctest arguments...]
# The whole-tool comparison of the fast and the straightforward builds
# (equivalence_test, label "slow") is not built here: over many pages it takes
# minutes under the sanitizers, while every stage it exercises is also compared
# with its oracle by faster sanitized tests. Configure build-asan with
# -DEDGEBIN_BUILD_REFERENCE=ON and pass -L slow to run it.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="$(nproc)"
# GCC leaves out-of-range float to int conversions out of -fsanitize=undefined;
# window sides and thresholds are exactly such conversions, so they are added here.
# -O1 -g1 keeps line numbers in the reports at a third of the build time of -O2 -g.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEDGEBIN_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DEDGEBIN_BUILD_BENCH=OFF -DEDGEBIN_BUILD_REFERENCE=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=float-cast-overflow -fno-sanitize-recover=float-cast-overflow" \
    >/dev/null
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
