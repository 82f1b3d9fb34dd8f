#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite, checks
# the installed package (static and shared), then runs the suite again built with
# AddressSanitizer and UndefinedBehaviorSanitizer (tools/sanitize_test.sh, in
# build-asan).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
# The whole-tool comparison with the reference build (label slow) runs on every
# fourth of its pages here; `ctest --test-dir build -L slow` compares them all.
EDGEBIN_QUICK_EQUIVALENCE=1 ctest --test-dir build --output-on-failure -j"$(nproc)"
# A real client: Tesseract reads a G4 TIFF that edgebin made, with its resolution.
bash tools/tesseract_check.sh build
# The installed package, static and shared, through find_package and pkg-config.
bash tools/check_install.sh build
cmake -S . -B build-shared -DCMAKE_BUILD_TYPE=Release -DEDGEBIN_SHARED=ON \
    -DEDGEBIN_BUILD_TESTS=OFF -DEDGEBIN_BUILD_BENCH=OFF >/dev/null
cmake --build build-shared -j"$(nproc)" --target edgebin
bash tools/check_install.sh build-shared
bash tools/sanitize_test.sh
