#!/usr/bin/env bash
# Batch throughput and memory on the shared benchmark pages.
#
# Usage: bench/batch_bench.sh [BUILD_DIR] [REPEATS]   (defaults: build, 3)
#
# Times, on the 82 pages of ../shared/data (inputs only, not the _gt files):
#   loop    a shell loop of single-page runs (the plain command line, one process a page)
#   jobs 1  one batch process, one worker thread
#   jobs 2  one batch process, two worker threads
# Each is run REPEATS times; the table shows the fastest run (the one least
# disturbed by other work on a shared machine), the median, and how many cores
# the rest of the machine kept busy during the fastest run. Each run waits first
# for the machine to be idle (up to IDLE_WAIT seconds, default 300). Targets: jobs 2 at
# least 1.7 times the pages per second of jobs 1, and jobs 1 at least 1.25 times
# those of the loop.
#
# Then the peak resident memory (GNU time) of one batch process on the largest
# page alone, on two copies of it with --jobs 2, and on a tiny page, which gives
# the bytes per pixel that each job adds.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
repeats=${2:-3}
edgebin=$PWD/$build/edgebin
data=$(realpath -m ../shared/data)  # absolute: results mirror it under the output folder
if [ ! -d "$data" ]; then
    echo "batch_bench: $data is absent; nothing to measure" >&2
    exit 0
fi
[ -x "$edgebin" ] || { echo "batch_bench: build $edgebin first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
find "$data" -name '*.png' ! -name '*_gt.png' | sort > "$work/list"
pages=$(wc -l < "$work/list")
cat $(cat "$work/list") > /dev/null  # read once, so that every run finds them cached
echo "load before: $(uptime)"

# Processor seconds the whole machine has spent busy since boot.
MachineBusy() {
    awk -v hz="$(getconf CLK_TCK)" '/^cpu / {print ($2 + $3 + $4 + $7 + $8) / hz}' /proc/stat
}

# Waits, up to IDLE_WAIT seconds (default 300), until the machine has used less
# than a tenth of a core over two seconds.
WaitForIdle() {
    local waited=0 before
    while [ "$waited" -lt "${IDLE_WAIT:-300}" ]; do
        before=$(MachineBusy)
        sleep 2
        waited=$((waited + 2))
        awk -v a="$(MachineBusy)" -v b="$before" 'BEGIN { exit !((a - b) / 2 < 0.1) }' && return
    done
    return 0  # measured anyway; the "others" column shows the disturbance
}

# Prints "wall user+sys peak_kb others" of the command, run after removing the
# results; "others" is the processor time the rest of the machine used meanwhile,
# as a share of the run's wall time: near 0 on a quiet machine. A busy neighbour
# takes a core away from a two-job run whatever its nice value, since the kernel
# shares the processors between sessions first (autogroups).
Measure() {
    rm -rf "$work/out"
    mkdir -p "$work/out"
    WaitForIdle
    local before
    before=$(MachineBusy)
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null
    awk -v b="$before" -v a="$(MachineBusy)" \
        '{printf "%s %.2f %s %.2f\n", $1, $2 + $3, $4, (a - b - $2 - $3) / $1}' "$work/time"
}

Loop() {
    local i=0
    while read -r page; do
        i=$((i + 1))
        "$edgebin" "$page" "$work/out/$i.png"
    done < "$work/list"
}
export -f Loop
export edgebin work

# Megapixels of the set, from a batch report.
"$edgebin" --out-dir "$work/out" --from-list "$work/list" --quiet --report "$work/report.jsonl"
megapixels=$(python3 -c '
import json, sys
print(sum(j["width"] * j["height"] for j in map(json.loads, open(sys.argv[1]))) / 1e6)' \
    "$work/report.jsonl")

declare -A best median
for mode in loop "jobs 1" "jobs 2"; do
    : > "$work/runs"
    for ((r = 0; r < repeats; r++)); do
        case $mode in
            loop) Measure bash -c Loop >> "$work/runs" ;;
            *) Measure "$edgebin" --out-dir "$work/out" --from-list "$work/list" --quiet \
                   --jobs "${mode#jobs }" >> "$work/runs" ;;
        esac
    done
    best[$mode]=$(sort -n "$work/runs" | head -1)
    median[$mode]=$(sort -n "$work/runs" | awk -v n="$repeats" 'NR == int((n + 1) / 2)')
    echo "$mode runs (wall s, cpu s, peak KB, others' cores):" $(tr '\n' ';' < "$work/runs")
done
echo "load after: $(uptime)"
echo
echo "$pages pages, $megapixels MP"
echo "| mode | wall s (best) | wall s (median) | pages/s | s/MP | CPU s | peak RSS MB |" \
    "others' cores |"
echo "|---|---|---|---|---|---|---|---|"
for mode in loop "jobs 1" "jobs 2"; do
    read -r wall cpu peak others <<< "${best[$mode]}"
    read -r mid _ _ _ <<< "${median[$mode]}"
    awk -v m="$mode" -v w="$wall" -v mid="$mid" -v c="$cpu" -v p="$peak" -v o="$others" \
        -v n="$pages" -v mp="$megapixels" 'BEGIN {
        printf "| %s | %.2f | %.2f | %.2f | %.3f | %.2f | %.0f | %.2f |\n",
            m, w, mid, n / w, w / mp, c, p / 1024, o }'
done
read -r loopWall _ <<< "${best[loop]}"
read -r oneWall _ <<< "${best[jobs 1]}"
read -r twoWall _ <<< "${best[jobs 2]}"
awk -v l="$loopWall" -v a="$oneWall" -v b="$twoWall" 'BEGIN {
    printf "jobs 2 / jobs 1 throughput: %.2fx (target >= 1.7)\n", a / b
    printf "jobs 1 / loop throughput:   %.2fx (target >= 1.25)\n", l / a }'

# Bytes per pixel per job: peak memory on the largest page, minus that on a tiny one.
largest=$(python3 -c '
import json, sys
print(max(map(json.loads, open(sys.argv[1])), key=lambda j: j["width"] * j["height"])["input"])' \
    "$work/report.jsonl")
pixels=$(python3 -c '
import json, sys
print(max(j["width"] * j["height"] for j in map(json.loads, open(sys.argv[1]))))' \
    "$work/report.jsonl")
mkdir -p "$work/one" "$work/two/a" "$work/two/b" "$work/tiny"
ln -s "$largest" "$work/one/page.png"
ln -s "$largest" "$work/two/a/page.png"
ln -s "$largest" "$work/two/b/page.png"
"$PWD/$build/edgebin-genpage" --out "$work/tiny/page.png" --gt "$work/tiny_gt.png" \
    --width 64 --height 64 > /dev/null
Peak() { Measure "$edgebin" --out-dir "$work/out" --quiet "$@" | awk '{print $3}'; }
tiny=$(Peak --jobs 1 "$work/tiny")
one=$(Peak --jobs 1 "$work/one")
two=$(Peak --jobs 2 "$work/two")
echo
echo "largest page: $largest, $pixels pixels"
awk -v t="$tiny" -v o="$one" -v w="$two" -v px="$pixels" 'BEGIN {
    printf "peak RSS: tiny page %.0f MB, largest page jobs 1 %.0f MB, two of it jobs 2 %.0f MB\n",
        t / 1024, o / 1024, w / 1024
    printf "bytes per pixel per job: %.1f (jobs 1), %.1f (jobs 2)\n",
        (o - t) * 1024 / px, (w - t) * 1024 / (2 * px) }'
