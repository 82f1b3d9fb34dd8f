#!/usr/bin/env bash
# Installs the Debian packages edgebin needs, only when some are missing.
#
# Usage: scripts/install_deps.sh [SET...]
# With no set: what building the command line and the library needs (the compiler,
# CMake and the libraries that edgebin links); scripts/setup.sh installs only these.
# Sets:
#   python   the Python module and its pip install (pybind11, numpy, venv, pip)
#   test     everything scripts/test.sh needs: python, pdf, browser and cache, Google
#            Test and Benchmark, Tesseract, pytest, Dask and GNU parallel
#   pdf      OCRmyPDF, img2pdf and poppler-utils, for the plugin edgebin.ocrmypdf
#   browser  Chromium, and Node.js with npm where none is installed, for the review
#            page's test in tests/browser and bench/review_render.mjs
#   cache    ccache, so that scripts/test.sh compiles each file once
#   ocr      the DejaVu fonts for the class pages of edgebin-genpage and ocr_check.py
#   fuzz     clang and libFuzzer for scripts/fuzz.sh
set -euo pipefail
packages=(g++ cmake make pkg-config libopencv-dev libcli11-dev nlohmann-json3-dev
          libleptonica-dev libtiff-dev libpng-dev libjpeg-dev)
# Installed without their recommended packages: Chromium's (printer set-up, udev,
# upower, a notification daemon) serve a desktop, not a headless test, and would
# double what CI downloads.
lean=()
AddSet() {
    case "$1" in
        python) packages+=(python3-dev pybind11-dev python3-pybind11 python3-numpy python3-opencv
                           python3-venv python3-pip python3-setuptools python3-wheel) ;;
        test) for set in python pdf browser cache; do AddSet "$set"; done
              packages+=(libgtest-dev libgmock-dev libbenchmark-dev
                         parallel tesseract-ocr tesseract-ocr-eng python3-pytest python3-dask
                         python3-distributed) ;;
        pdf) packages+=(ocrmypdf img2pdf poppler-utils fonts-dejavu-core) ;;
        # The project's machines come with Node.js 20 and its npm, which
        # playwright-core needs; Debian's own (18) is only the fallback.
        browser) lean+=(chromium fonts-dejavu-core)
                 command -v npm >/dev/null || lean+=(nodejs npm) ;;
        cache) packages+=(ccache) ;;
        ocr) packages+=(fonts-dejavu-core) ;;
        fuzz) packages+=(clang libclang-rt-14-dev) ;;
        *) echo "install_deps.sh: unknown set '$1' (python, test, pdf, browser, cache, ocr, fuzz)" >&2
           exit 2 ;;
    esac
}
for set in "$@"; do
    AddSet "$set"
done
Missing() {
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            echo "$package"
        fi
    done
}
mapfile -t missing < <(Missing "${packages[@]}")
mapfile -t missingLean < <(Missing "${lean[@]}")
if [ $((${#missing[@]} + ${#missingLean[@]})) -gt 0 ]; then
    echo "installing: ${missing[*]} ${missingLean[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    install=("${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq)
    [ ${#missing[@]} -eq 0 ] || "${install[@]}" "${missing[@]}" >/dev/null
    [ ${#missingLean[@]} -eq 0 ] || "${install[@]}" --no-install-recommends "${missingLean[@]}" >/dev/null
fi
