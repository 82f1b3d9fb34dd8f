#!/usr/bin/env bash
# Installs the Debian packages edgebin needs, only when some are missing.
# Usage: tools/install_deps.sh [fuzz] [ocr] [pdf] [browser]   ("fuzz" adds clang and
# libFuzzer for tools/fuzz.sh; "ocr" adds the DejaVu fonts for the class pages of
# edgebin-genpage and tools/ocr_check.py; "pdf" adds OCRmyPDF, img2pdf and poppler's
# pdftotext for the plugin edgebin.ocrmypdf, its tests and bench/ocrmypdf_bench.py;
# "browser" adds Chromium, and Node.js with npm where none is installed, for the
# review page's test in tests/browser and bench/review_render.mjs; the build itself
# never needs them)
set -euo pipefail
packages=(g++ cmake make pkg-config libopencv-dev libopencv-contrib-dev libgtest-dev libgmock-dev
          libbenchmark-dev libcli11-dev nlohmann-json3-dev parallel libleptonica-dev libtiff-dev libpng-dev libjpeg-dev
          python3-opencv python3-numpy tesseract-ocr tesseract-ocr-eng
          python3-dev pybind11-dev python3-pybind11 python3-pytest python3-dask
          python3-distributed python3-venv python3-pip python3-setuptools python3-wheel)
# Installed without their recommended packages: Chromium's (printer set-up, udev,
# upower, a notification daemon) serve a desktop, not a headless test, and would
# double what CI downloads.
lean=()
for extra in "$@"; do
    case "$extra" in
        fuzz) packages+=(clang libclang-rt-14-dev) ;;
        ocr) packages+=(fonts-dejavu-core) ;;
        pdf) packages+=(ocrmypdf img2pdf poppler-utils fonts-dejavu-core) ;;
        # The project's machines come with Node.js 20 and its npm, which
        # playwright-core needs; Debian's own (18) is only the fallback.
        browser) lean+=(chromium fonts-dejavu-core)
                 command -v npm >/dev/null || lean+=(nodejs npm) ;;
    esac
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
