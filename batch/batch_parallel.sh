#!/usr/bin/env bash
# Spreads a batch run over several machines with GNU parallel.
#
# Usage: batch/batch_parallel.sh SSHLOGINFILE OUT_DIR [edgebin options...] < LIST
#
# LIST holds the input paths, one a line. GNU parallel cuts it into blocks of about
# BLOCK bytes (default 100k, some 1,500 paths) and hands each block to whichever
# machine of SSHLOGINFILE has finished its last one, where `edgebin --from-list -`
# binarizes it with all of that machine's cores: fast machines take more blocks,
# and one that stops loses only the block it held. The current folder and OUT_DIR
# must be reachable under the same names on every machine (a shared file system);
# input paths relative to the current folder mirror the same way everywhere. Each
# block writes its report to OUT_DIR/reports/N.jsonl; OUT_DIR/reports/joblog lists
# the blocks with their exit statuses (4 when some page failed). After a failure or
# an interruption, the same command with --skip-existing finishes the work.
#
# EDGEBIN names the executable (default: edgebin on the PATH of each machine).
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 SSHLOGINFILE OUT_DIR [edgebin options...] < LIST" >&2
    exit 2
fi
hosts=$1
out=$2
shift 2
mkdir -p "$out/reports"
# GNU parallel builds the remote command for the shell named by SHELL; with none
# set (cron, env -i, some CI runners) the remote side runs nothing and still
# reports success.
export SHELL="${SHELL:-/bin/sh}"
parallel --will-cite --sshloginfile "$hosts" --jobs 1 --pipe --block "${BLOCK:-100k}" \
    --workdir "$PWD" --joblog "$out/reports/joblog" --quote \
    "${EDGEBIN:-edgebin}" --from-list - --out-dir "$out" --report "$out/reports/{#}.jsonl" \
    --quiet "$@"
# A block that ran must have left its report; anything else is a silent failure.
missing=$(awk -F'\t' -v dir="$out/reports" 'NR > 1 { f = dir "/" $1 ".jsonl"; if (system("test -e \"" f "\"")) n++ } END { print n + 0 }' "$out/reports/joblog")
if [ "$missing" -ne 0 ]; then
    echo "$0: $missing of the blocks that ran left no report" >&2
    exit 1
fi
