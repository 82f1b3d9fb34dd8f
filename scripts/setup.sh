#!/usr/bin/env bash
# Installs what is missing, builds edgebin in Release and binarizes the bundled sample page.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
# The command line alone: the tests, benchmarks and evaluation tools need the
# test set of packages (scripts/install_deps.sh test), which scripts/test.sh installs.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DEDGEBIN_BUILD_TOOLS=OFF -DEDGEBIN_BUILD_TESTS=OFF \
    -DEDGEBIN_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target edgebin
mkdir -p out
./build/edgebin samples/sample_page.png out/sample_page_bin.png
echo "binarized samples/sample_page.png -> $(pwd)/out/sample_page_bin.png"
