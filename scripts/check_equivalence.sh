#!/usr/bin/env bash
# Runs edgebin and edgebin-reference (the build with the straightforward stages in
# place of the fast ones) on every page of the benchmark data and compares their
# standard output and exit status byte for byte, and their result images pixel for
# pixel (edgebin-same-pixels: an older edgebin wrote no resolution, so its files
# may differ from today's in that field alone; how many do is counted). Slow: the
# reference takes seconds per page. Not part of the test suite.
#
# usage: scripts/check_equivalence.sh [--build DIR] [--data DIR] [--args "ALPHA K RTHRE"]...
#                                     [--first PROGRAM] [--second PROGRAM]
#   --build DIR  build folder holding both executables (default: build)
#   --first, --second  the two programs to compare (default: DIR/edgebin and
#                DIR/edgebin-reference); an older edgebin, say, to show that a
#                change leaves every output as it was
#   --data DIR   benchmark pages, <set>/<id>.png (default: ../shared/data)
#   --args "..." tuning values to pass; repeat for several sets (default: none,
#                that is the defaults)
# Exits 0 when every run agrees, 1 otherwise.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2

build=build
data=../shared/data
fast=""
reference=""
argumentSets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$2; shift 2 ;;
        --data) data=$2; shift 2 ;;
        --args) argumentSets+=("$2"); shift 2 ;;
        --first) fast=$2; shift 2 ;;
        --second) reference=$2; shift 2 ;;
        -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
done
[ ${#argumentSets[@]} -eq 0 ] && argumentSets=("")

fast=${fast:-$build/edgebin}
reference=${reference:-$build/edgebin-reference}
samePixels=$build/edgebin-same-pixels
for tool in "$fast" "$reference" "$samePixels"; do
    if [ ! -x "$tool" ]; then
        echo "missing $tool: build the targets edgebin, edgebin-reference and edgebin-same-pixels first" >&2
        exit 2
    fi
done
if [ ! -d "$data" ]; then
    echo "no benchmark data at $data" >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export OPENCV_FOR_THREADS_NUM=1

pages=0
differing=0
metadataOnly=0
while IFS= read -r page; do
    for arguments in "${argumentSets[@]}"; do
        pages=$((pages + 1))
        # Both at once, one core each.
        # shellcheck disable=SC2086
        "$fast" "$page" "$work/fast.png" $arguments >"$work/fast.txt" 2>/dev/null &
        fastJob=$!
        # shellcheck disable=SC2086
        "$reference" "$page" "$work/reference.png" $arguments >"$work/reference.txt" 2>/dev/null
        referenceStatus=$?
        wait "$fastJob"
        fastStatus=$?
        problems=""
        [ "$fastStatus" -ne "$referenceStatus" ] &&
            problems+=" status $fastStatus vs $referenceStatus;"
        cmp -s "$work/fast.txt" "$work/reference.txt" || problems+=" standard output;"
        if [ -e "$work/fast.png" ] || [ -e "$work/reference.png" ]; then
            if ! cmp -s "$work/fast.png" "$work/reference.png"; then
                if "$samePixels" "$work/fast.png" "$work/reference.png"; then
                    metadataOnly=$((metadataOnly + 1))
                else
                    problems+=" result image;"
                fi
            fi
        fi
        name="${page#"$data"/} ${arguments:-(defaults)}"
        if [ -n "$problems" ]; then
            differing=$((differing + 1))
            echo "DIFFERS $name:$problems"
        else
            echo "same    $name"
        fi
        rm -f "$work/fast.png" "$work/reference.png"
    done
done < <(find "$data" -name '*.png' ! -name '*_gt.png' | sort)

echo "$pages runs, $differing differing ($metadataOnly result files with the same pixels but other bytes)"
[ "$differing" -eq 0 ]
