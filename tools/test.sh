#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite, then
# runs it again built with AddressSanitizer and UndefinedBehaviorSanitizer
# (tools/sanitize_test.sh, in build-asan).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
bash tools/sanitize_test.sh
