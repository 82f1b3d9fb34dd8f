#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite, checks
# the real clients (Tesseract, the installed package static and shared, the Python
# module from the build tree and from pip), then runs the suite again built with
# AddressSanitizer and UndefinedBehaviorSanitizer (scripts/sanitize_test.sh, in
# build-asan).
set -euo pipefail
cd "$(dirname "$0")/.."
# Where the time goes, in the CI log.
phase() { echo "== scripts/test.sh at ${SECONDS} s: $*"; }
phase "dependencies"
bash scripts/install_deps.sh test
phase "layering"
# No include against the floors of the library (common/ under the stages, the
# stages under pipeline/, none of them on app/); scripts/check_layers.py prints the graph.
/usr/bin/python3 scripts/check_layers.py --quiet
# Every CMake build below, pip's included, goes through the compiler cache, so that
# the files the Release build compiled are not compiled again with the same flags.
if command -v ccache >/dev/null; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
# The set-up command may have configured build/ for the command line alone.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DEDGEBIN_BUILD_TOOLS=ON -DEDGEBIN_BUILD_TESTS=ON \
    -DEDGEBIN_BUILD_BENCH=ON >/dev/null
phase "Release build"
cmake --build build -j"$(nproc)"
phase "tests"
# The whole-tool comparison with the reference build (label slow) runs on every
# fourth of its pages here; `ctest --test-dir build -L slow` compares them all.
EDGEBIN_QUICK_EQUIVALENCE=1 ctest --test-dir build --output-on-failure -j"$(nproc)"
phase "Python tests"
# The Python module from the build tree.
PYTHONPATH=build/python /usr/bin/python3 -m pytest -q tests/python
phase "browser test"
# The review page of edgebin-review in Debian's headless Chromium, driven by the
# playwright-core that tests/browser/package-lock.json pins.
npm ci --prefix tests/browser --no-audit --no-fund --loglevel=error
(cd tests/browser && EDGEBIN_BUILD="$OLDPWD/build" node --test review.test.mjs)
phase "Tesseract and installed package"
# A real client: Tesseract reads a G4 TIFF that edgebin made, with its resolution.
bash scripts/tesseract_check.sh build
# The installed package, static and shared, through find_package and pkg-config.
bash scripts/check_install.sh build
phase "shared library"
cmake -S . -B build-shared -DCMAKE_BUILD_TYPE=Release -DEDGEBIN_SHARED=ON \
    -DEDGEBIN_BUILD_TESTS=OFF -DEDGEBIN_BUILD_BENCH=OFF >/dev/null
cmake --build build-shared -j"$(nproc)" --target edgebin edgebin-review
bash scripts/check_install.sh build-shared
phase "pip install"
# The Python module installed by pip into a virtual environment that sees Debian's
# numpy, checked against the command line.
venv="$(mktemp -d)"
trap 'rm -rf "$venv"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install -q --no-build-isolation --no-index --no-cache-dir .
./build/edgebin samples/sample_page.png "$venv/expected.png" >/dev/null
(cd "$venv" && bin/python -c '
import sys, cv2, numpy, edgebin, edgebin.dask  # the Dask batch is packaged too
page = cv2.imread(sys.argv[1], cv2.IMREAD_COLOR)
assert numpy.array_equal(edgebin.binarize(page), cv2.imread("expected.png", 0))
print("pip-installed", edgebin.__file__, "matches the command line")' "$OLDPWD/samples/sample_page.png")
# The plugin from the same install: Debian's OCRmyPDF, seen through
# --system-site-packages, loads it by name and puts the 1-bit page in the PDF.
img2pdf --imgsize 300dpi -o "$venv/page.pdf" samples/sample_page.png
(cd "$venv" && bin/python -m ocrmypdf -q -j 2 --output-type pdf --plugin edgebin.ocrmypdf \
    --edgebin-visible page.pdf ocr.pdf &&
    bin/python -c 'import sys, edgebin.ocrmypdf as p; assert p.__file__.startswith(sys.prefix)' &&
    pdfimages -list ocr.pdf | awk 'NR == 3 && $8 == 1 && $9 == "ccitt" { found = 1 } END { exit !found }')
echo "pip-installed edgebin.ocrmypdf runs in OCRmyPDF"
phase "sanitized build and tests"
bash scripts/sanitize_test.sh
phase "done"
