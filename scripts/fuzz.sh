#!/usr/bin/env bash
# Fuzzes edgebin with libFuzzer for SECONDS in total (default 60), split between
# the targets asked for, on one core:
#   decode  arbitrary bytes through the header reader, the image decoder and,
#           for images of at most 64 x 64 pixels, the whole pipeline;
#   raw     bytes read directly as a small grey page (dims, tuning, pixels);
#   tiff    bytes as a file through the TIFF page iterator, checked against the
#           chain of directories followed by hand (no page lost without a word);
#   header  bytes as a file through the header and resolution readers (seeded
#           with the decode corpus too);
#   list    bytes as a --from-list file.
# Usage: scripts/fuzz.sh [SECONDS] [decode|raw|tiff|header|list|all]  (default: all)
# A run of one input over EDGEBIN_FUZZ_TIMEOUT seconds (default 10, wall clock) is a
# finding; on a machine loaded by other work, raise it and time what it finds alone.
# Crashing inputs land in build-fuzz/artifacts/<target>/; copy each one into
# tests/fuzz/regressions/<target>/ once fixed so that fuzz_regression_test
# replays it. New corpus entries found on the way stay in build-fuzz/corpus/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
which="${2:-all}"

bash scripts/install_deps.sh fuzz

cmake -S tests/fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >/dev/null
cmake --build build-fuzz -j2

# Leaks are checked by the sanitized test suite (scripts/sanitize_test.sh), not per input.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

targets=(decode raw tiff header list)
[ "$which" = all ] || targets=("$which")
share=$((seconds / ${#targets[@]}))
failed=0
for target in "${targets[@]}"; do
    corpus="build-fuzz/corpus/$target"
    artifacts="build-fuzz/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"
    echo "fuzzing $target for ${share}s"
    # One process on one core; it stops at the first finding.
    "./build-fuzz/fuzz_$target" -max_total_time="$share" -timeout="${EDGEBIN_FUZZ_TIMEOUT:-10}" \
        -rss_limit_mb=3072 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts" \
        "$corpus" "tests/fuzz/corpus/$target" "tests/fuzz/regressions/$target" \
        $([ "$target" = header ] && echo tests/fuzz/corpus/decode) || failed=1
done
exit "$failed"
