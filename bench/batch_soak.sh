#!/usr/bin/env bash
# Soak run: thousands of small generated pages through one batch process, with its
# resident memory sampled once a second against the pages done.
#
# Usage: bench/batch_soak.sh [BUILD_DIR] [PAGES] [JOBS]   (defaults: build, 5000, 2)
#
# Pages are 320 x 240, seeds 1..PAGES, difficulty cycling through 0.1 .. 0.9, in
# folders of 500. Prints the memory curve (pages done, MB) at every tenth of the
# run, the growth after warm-up (the first tenth), and the report's failure count;
# exits non-zero when a page failed or the run did not end with status 0.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/${1:-build}
pages=${2:-5000}
jobs=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "generating $pages pages in $work ..."
seq 1 "$pages" | parallel --will-cite -j "$(nproc)" \
    "mkdir -p $work/in/d\$(({} / 500)) && $build/edgebin-genpage --seed {} --width 320 \
    --height 240 --difficulty 0.\$(({} % 9 + 1)) \
    --out $work/in/d\$(({} / 500))/p{}.png --gt $work/gt{}.png > /dev/null && rm $work/gt{}.png"

echo "load before: $(uptime)"
: > "$work/report.jsonl"
"$build/edgebin" --out-dir "$work/out" --jobs "$jobs" --quiet --report "$work/report.jsonl" \
    "$work/in" &
pid=$!
start=$(date +%s.%N)
: > "$work/samples"
while kill -0 "$pid" 2> /dev/null; do
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2> /dev/null || true)
    done_pages=$(wc -l < "$work/report.jsonl")
    [ -n "$rss" ] && echo "$(date +%s.%N) $done_pages $rss" >> "$work/samples"
    sleep 1
done
status=0
wait "$pid" || status=$?
echo "load after: $(uptime)"
failed=$(grep -c '"status":"failed"' "$work/report.jsonl" || true)
total=$(wc -l < "$work/report.jsonl")
echo "exit status $status, $total pages reported, $failed failed"
awk -v start="$start" -v pages="$pages" '
    { t[NR] = $1 - start; n[NR] = $2; r[NR] = $3 / 1024 }
    END {
        printf "| seconds | pages done | RSS MB |\n|---|---|---|\n"
        next_mark = 0
        for (i = 1; i <= NR; i++) {
            if (n[i] >= next_mark || i == NR) {
                printf "| %.0f | %d | %.1f |\n", t[i], n[i], r[i]
                next_mark += pages / 10
            }
            if (n[i] >= pages / 10) {
                if (warm == "") warm = r[i]
                if (r[i] > high) high = r[i]
            }
        }
        printf "after warm-up (%d pages): from %.1f MB, highest %.1f MB, growth %.1f MB\n",
            pages / 10, warm, high, high - warm
    }' "$work/samples"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ] && [ "$total" -eq "$pages" ]
