#!/usr/bin/env bash
# Installs the Debian packages edgebin needs, only when some are missing.
# Usage: tools/install_deps.sh [fuzz] [ocr] [pdf]   ("fuzz" adds clang and libFuzzer
# for tools/fuzz.sh; "ocr" adds the DejaVu fonts for the class pages of
# edgebin-genpage and tools/ocr_check.py; "pdf" adds OCRmyPDF, img2pdf and poppler's
# pdftotext for the plugin edgebin.ocrmypdf, its tests and bench/ocrmypdf_bench.py;
# the build itself never needs them)
set -euo pipefail
packages=(g++ cmake make pkg-config libopencv-dev libopencv-contrib-dev libgtest-dev libgmock-dev
          libbenchmark-dev libcli11-dev nlohmann-json3-dev parallel libleptonica-dev libtiff-dev libpng-dev libjpeg-dev
          python3-opencv python3-numpy tesseract-ocr tesseract-ocr-eng
          python3-dev pybind11-dev python3-pybind11 python3-pytest python3-dask
          python3-distributed python3-venv python3-pip python3-setuptools python3-wheel)
for extra in "$@"; do
    case "$extra" in
        fuzz) packages+=(clang libclang-rt-14-dev) ;;
        ocr) packages+=(fonts-dejavu-core) ;;
        pdf) packages+=(ocrmypdf img2pdf poppler-utils fonts-dejavu-core) ;;
    esac
done
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
