#!/usr/bin/env bash
# Installs the Debian packages edgebin needs, only when some are missing.
# Usage: tools/install_deps.sh [fuzz]   ("fuzz" adds clang and libFuzzer for tools/fuzz.sh;
# the normal build never needs them)
set -euo pipefail
packages=(g++ cmake make pkg-config libopencv-dev libopencv-contrib-dev libgtest-dev libgmock-dev
          libbenchmark-dev libcli11-dev nlohmann-json3-dev parallel python3-opencv python3-numpy)
if [ "${1:-}" = fuzz ]; then
    packages+=(clang libclang-rt-14-dev)
fi
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
