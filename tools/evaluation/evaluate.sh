#!/usr/bin/env bash
# Scores edgebin and the classical baselines on the benchmark pages and on freshly
# generated pages, all in one run so that the timings are comparable.
#
#   tools/evaluation/evaluate.sh            # from the repository root, after building
#
# writes out/eval/results.csv (one row per set, page and method), out/eval/summary.md
# (means per set and method) and out/eval/sheet_<set>.png (edgebin's weakest and
# strongest pages beside the ground truth and the best baseline). See --help.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
data="$repo/../shared/data"
generated=12
out="$repo/out"
build="$repo/build"
edgebin=""
jobs=1
window=31
limit=0
python=/usr/bin/python3

usage() {
    cat <<USAGE
usage: tools/evaluation/evaluate.sh [options]

Runs edgebin and the baselines otsu, niblack, sauvola, wolf and nick on every
<id>.<ext> + <id>_gt.png pair under the data folder (each folder holding pairs is
one set, named by its path below the data folder) and on N generated pages (set
"generated"), times every run (wall time of the whole process per page), scores it
with edgebin-eval and writes OUT/eval/results.csv, OUT/eval/summary.md and
OUT/eval/sheet_<set>.png.

A run that exits non-zero or writes no readable image of the right size is kept as
a row with status "failed", scored as an all-paper result (F 0).

  --data DIR       benchmark folder, searched recursively; "" for none
                   (default ../shared/data beside the repository)
  --generated N    number of generated pages, 0 for none (default 12)
  --out DIR        output folder (default out in the repository)
  --build DIR      build folder holding edgebin-eval, edgebin-baseline and
                   edgebin-genpage (default build in the repository)
  --edgebin PATH   edgebin executable (default BUILD/edgebin)
  --jobs N         pages processed in parallel (default 1; more skews the timings)
  --window N       window of the local baselines (default 31)
  --limit N        only the first N pages of each set, 0 for all (default 0)
USAGE
}

while [ $# -gt 0 ]; do
    case "$1" in
        --data) data="$2"; shift 2 ;;
        --generated) generated="$2"; shift 2 ;;
        --out) out="$2"; shift 2 ;;
        --build) build="$2"; shift 2 ;;
        --edgebin) edgebin="$2"; shift 2 ;;
        --jobs) jobs="$2"; shift 2 ;;
        --window) window="$2"; shift 2 ;;
        --limit) limit="$2"; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) echo "evaluate.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done
[ -n "$edgebin" ] || edgebin="$build/edgebin"

for tool in edgebin-eval edgebin-baseline edgebin-genpage; do
    if [ ! -x "$build/$tool" ]; then
        echo "evaluate.sh: $build/$tool not found; build it with" >&2
        echo "  cmake --build $build --target edgebin edgebin-eval edgebin-baseline edgebin-genpage" >&2
        exit 1
    fi
done
if [ ! -x "$edgebin" ]; then
    echo "evaluate.sh: edgebin executable $edgebin not found (see --edgebin)" >&2
    exit 1
fi
if ! "$python" -c "import cv2, numpy" 2>/dev/null; then
    echo "evaluate.sh: $python lacks cv2/numpy (Debian packages python3-opencv python3-numpy)" >&2
    exit 1
fi

eval_dir="$out/eval"
rm -rf "$eval_dir/rows" "$eval_dir/results" "$eval_dir/logs" "$eval_dir"/sheet_*.png
mkdir -p "$eval_dir/rows" "$eval_dir/results" "$eval_dir/logs"
pages="$eval_dir/pages.tsv"
: >"$pages"

# One line per page: set, id, input path, truth path.
list_data_pages() {
    local root="$1"
    find "$root" -type f -name '*_gt.png' | LC_ALL=C sort | while IFS= read -r truth; do
        local dir id set input
        dir=$(dirname "$truth")
        id=$(basename "$truth" _gt.png)
        set=${dir#"$root"}
        set=${set#/}
        [ -n "$set" ] || set=$(basename "$root")
        input=$(find "$dir" -maxdepth 1 -type f -name "$id.*" ! -name '*_gt.png' | LC_ALL=C sort | head -n 1)
        if [ -z "$input" ]; then
            echo "evaluate.sh: no input beside $truth, skipped" >&2
            continue
        fi
        printf '%s\t%s\t%s\t%s\n' "$set" "$id" "$input" "$truth"
    done
}

if [ -n "$data" ]; then
    if [ -d "$data" ]; then
        data=$(cd "$data" && pwd)
        list_data_pages "$data" >>"$pages"
    else
        echo "evaluate.sh: data folder $data not found, only generated pages are scored" >&2
    fi
fi

if [ "$generated" -gt 0 ]; then
    gen_dir="$out/generated"
    mkdir -p "$gen_dir"
    for ((i = 1; i <= generated; i++)); do
        id=$(printf 'gen%03d' "$i")
        # Difficulty spreads evenly over 0.1..0.9 so the set covers clean and hard pages.
        difficulty=$(awk -v i="$i" -v n="$generated" 'BEGIN { printf "%.3f", (n > 1 ? 0.1 + 0.8 * (i - 1) / (n - 1) : 0.5) }')
        "$build/edgebin-genpage" --seed "$i" --difficulty "$difficulty" --out "$gen_dir/$id.png"
        printf 'generated\t%s\t%s\t%s\n' "$id" "$gen_dir/$id.png" "$gen_dir/${id}_gt.png" >>"$pages"
    done
fi

if [ "$limit" -gt 0 ]; then
    awk -F'\t' -v limit="$limit" '++seen[$1] <= limit' "$pages" >"$pages.tmp"
    mv "$pages.tmp" "$pages"
fi
if [ ! -s "$pages" ]; then
    echo "evaluate.sh: no pages to score" >&2
    exit 1
fi

export build edgebin window python eval_dir

# Runs every method on one page and appends one tab-separated row per method:
# set, page, method, status, seconds, megapixels, JSON scores.
run_page() {
    local set id input truth
    IFS=$'\t' read -r set id input truth <<<"$1"
    local rows="$eval_dir/rows/${set//\//_}__$id.tsv"
    local megapixels
    megapixels=$("$python" -c 'import cv2, sys; g = cv2.imread(sys.argv[1], 0); print(g.shape[0] * g.shape[1] / 1e6)' "$truth")
    : >"$rows"
    local method
    for method in edgebin otsu niblack sauvola wolf nick; do
        local dir="$eval_dir/results/$set/$method"
        local result="$dir/$id.png"
        local log="$eval_dir/logs/$set/$id.$method.log"
        mkdir -p "$dir" "$(dirname "$log")"
        rm -f "$result"
        local start end rc=0
        start=$(date +%s%N)
        if [ "$method" = edgebin ]; then
            "$edgebin" "$input" "$result" >"$log" 2>&1 || rc=$?
        else
            "$build/edgebin-baseline" "$method" "$input" "$result" --window "$window" >"$log" 2>&1 || rc=$?
        fi
        end=$(date +%s%N)
        local seconds status="ok" scores=""
        seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')
        if [ "$rc" -ne 0 ]; then
            status="failed(exit $rc)"
        elif ! scores=$("$build/edgebin-eval" --json "$result" "$truth" 2>>"$log"); then
            status="failed(no valid output)"
        fi
        if [ "$status" != ok ]; then
            local blank="$eval_dir/logs/$set/$id.blank.png"
            "$python" -c 'import cv2, sys; g = cv2.imread(sys.argv[1], 0); cv2.imwrite(sys.argv[2], g * 0 + 255)' "$truth" "$blank"
            scores=$("$build/edgebin-eval" --json "$blank" "$truth")
            rm -f "$blank"
        fi
        printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$set" "$id" "$method" "$status" "$seconds" "$megapixels" "$scores" >>"$rows"
    done
    echo "scored $set/$id"
}
export -f run_page

count=$(wc -l <"$pages")
echo "scoring $count pages with $jobs job(s)"
xargs -d '\n' -P "$jobs" -I{} bash -c 'run_page "$1"' _ {} <"$pages"

"$python" "$repo/tools/evaluation/eval_report.py" "$eval_dir"
"$python" "$repo/tools/evaluation/contact_sheet.py" "$eval_dir"
echo "wrote $eval_dir/results.csv, $eval_dir/summary.md and the contact sheets in $eval_dir"
