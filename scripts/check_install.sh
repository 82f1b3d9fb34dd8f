#!/usr/bin/env bash
# Installs the library from a build folder into a temporary prefix, builds the
# example program against it twice, through find_package(edgebin) and through
# pkg-config, and checks that both write the same image as edgebin on the sample
# page. Also checks that the installed library exports nothing of ours outside
# namespace edgebin.
#
# usage: scripts/check_install.sh [BUILD_DIR]   (default: build; configured and built)
# With EDGEBIN_SHARED=ON in the build folder's cache, the shared library's soname
# is checked as well.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
prefix=$work/prefix
libdir=$(find "$prefix" -name 'libedgebin.*' -printf '%h\n' | head -n 1)
library=$(find "$libdir" -name 'libedgebin.*' | sort | head -n 1)

# Every function of ours (defined in the library, not a template instance from a
# dependency's header) lives in namespace edgebin.
strays=$(nm -C --defined-only "$library" | awk '$2 ~ /^[TW]$/ { $1 = ""; $2 = ""; print }' |
    grep -v -E '^ +(edgebin::|cv::|std::|__gnu_cxx::|operator|_init|_fini|typeinfo|vtable|void std::|void cv::)' |
    grep -v -E '^ +(bool|int|unsigned|double|void|char) (cv|std)::' || true)
if [ -n "$strays" ]; then
    echo "check_install: functions outside namespace edgebin in $library:" >&2
    echo "$strays" >&2
    exit 1
fi

if [[ "$library" == *.so* ]]; then
    soname=$(readelf -d "$library" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
    [ "$soname" = "libedgebin.so.1" ] || { echo "check_install: soname '$soname'" >&2; exit 1; }
    export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
fi

cmake -S examples/library -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
g++ -std=c++17 -O2 examples/library/main.cpp -o "$work/pkg-config-example" \
    $(pkg-config --cflags --libs edgebin)

page=samples/sample_page.png
"$prefix/bin/edgebin" "$page" "$work/tool.png" >/dev/null
for example in "$work/cmake-build/edgebin-example" "$work/pkg-config-example"; do
    "$example" "$page" "$work/example.png"
    cmp -s "$work/tool.png" "$work/example.png" ||
        { echo "check_install: $example wrote another image than edgebin" >&2; exit 1; }
done
echo "check_install: $(basename "$library") installed; find_package and pkg-config examples match edgebin"
