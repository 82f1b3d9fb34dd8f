"""A batch run of edgebin on a Dask cluster, with the files and report of
`edgebin --out-dir`.

    python3 -m edgebin.dask INPUT... --out-dir DIR [--workers N | --scheduler ADDRESS]
                            [--report FILE] [--skip-existing] [options]

The plan (folder search, naming, refusal of colliding or climbing paths) runs
here, on the client, by the command line's own rules; blocks of files go to the
workers, which binarize and write them with edgebin.binarize_file and send back
only the report records. Workers need the edgebin package and must see the
inputs and DIR at the same absolute paths (a shared file system).
"""

import argparse
import math
import os
import signal
import sys
import threading
import time

import numpy

import edgebin

# Blocks per worker thread: enough that the last blocks finish close together,
# few enough that the scheduler's cost per task (about a millisecond) stays far
# below the seconds a block of pages takes.
BLOCKS_PER_THREAD = 20
MAX_BLOCK = 64

EXIT_USAGE = 2
EXIT_WRITE_FAILED = 3
EXIT_SOME_PAGES_FAILED = 4
EXIT_INTERRUPTED = 130


def binarize_block(block, options):
    """Runs on a worker: binarizes each (source, target) of `block`; returns the
    report records of each."""
    return [edgebin.binarize_file(source, target, **options) for source, target in block]


def block_size(files, threads):
    return max(1, min(MAX_BLOCK, math.ceil(files / (BLOCKS_PER_THREAD * max(1, threads)))))


def as_given(record, source, target, absolute_target):
    """The record of a page worked on at absolute paths, with the paths as the
    command line names them: the input and the result as planned."""
    record["input"] = source
    if record["output"] is not None:
        # The same file or a numbered page of it: only the part before the
        # extension differs, and the extension is the format's.
        extension = len(os.path.splitext(target)[1])
        record["output"] = target[:len(target) - extension] + \
            record["output"][len(absolute_target) - extension:]
    return record


class Report:
    """The JSON Lines report, one line per page in the command line's format,
    flushed line by line so that a stopped run leaves whole lines."""

    def __init__(self, path, append):
        import json
        self._dumps = json.dumps
        if not path:
            self._file = None
        elif path == "-":
            self._file = sys.stdout
        else:
            self._file = open(path, "a" if append else "w", encoding="utf-8")

    def write(self, record):
        if self._file is not None:
            self._file.write(self._dumps(record, ensure_ascii=False, separators=(",", ":")) + "\n")
            self._file.flush()

    def close(self):
        if self._file not in (None, sys.stdout):
            self._file.close()


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="python3 -m edgebin.dask",
        description=__doc__.split("\n\n")[0].replace("\n", " "),
        epilog="Exit status: 0 success; 1 the cluster failed; 2 bad command line; 3 output "
               "folder or report could not be written; 4 some pages failed, the others were "
               "written; 130 stopped by SIGINT or SIGTERM (run again with --skip-existing to "
               "finish).")
    parser.add_argument("inputs", nargs="*", metavar="INPUT",
                        help="image file, or folder searched recursively for image files")
    parser.add_argument("--out-dir", required=True, metavar="DIR", help="folder of the results")
    cluster = parser.add_mutually_exclusive_group()
    cluster.add_argument("--scheduler", metavar="ADDRESS",
                         help="address of a running Dask scheduler (tcp://HOST:8786)")
    cluster.add_argument("--workers", type=int, metavar="N",
                         help="worker processes of a local cluster (default: one per core)")
    parser.add_argument("--from-list", metavar="FILE",
                        help="also read input paths from FILE, one per line (- for stdin)")
    parser.add_argument("--format", choices=["png", "tif", "pbm"], default="png",
                        help="format of the results (default png)")
    parser.add_argument("--report", metavar="FILE",
                        help="one JSON object per page (JSON Lines), - for stdout")
    parser.add_argument("--skip-existing", action="store_true",
                        help="keep results that already exist (resume a run); the report is "
                             "then appended to")
    parser.add_argument("--bilevel", action="store_true", help="write 1 bit per pixel")
    parser.add_argument("--dpi", type=float, help="resolution to write; default: the input's")
    parser.add_argument("--alpha", type=float, default=2.0)
    parser.add_argument("--k", type=float, default=0.6)
    parser.add_argument("--rthre", type=float, default=0.05)
    parser.add_argument("--block-size", type=int, metavar="N",
                        help="files per task (default: from the number of files and threads)")
    parser.add_argument("--quiet", action="store_true", help="no progress and no summary")
    args = parser.parse_args(argv)
    try:
        # The library's own checks of the tuning, on a 1×1 page that it only copies,
        # so that a bad value is refused here rather than by every block.
        edgebin.binarize(numpy.full((1, 1), 255, numpy.uint8),
                         alpha=args.alpha, k=args.k, rthre=args.rthre)
    except ValueError as error:
        parser.error(str(error))
    if args.dpi is not None and not 1 <= args.dpi <= 1e6:
        parser.error("--dpi must lie in [1, 1e6]")
    if args.workers is not None and args.workers < 1:
        parser.error("--workers must be at least 1")
    if args.block_size is not None and args.block_size < 1:
        parser.error("--block-size must be at least 1")
    if not args.inputs and not args.from_list:
        parser.error("no input given")
    return args


def start_client(args):
    """The client, and the local cluster it owns (None with --scheduler)."""
    from dask.distributed import Client, LocalCluster

    if args.scheduler:
        return Client(args.scheduler), None
    workers = args.workers or len(os.sched_getaffinity(0))
    # One thread per process: each worker binarizes one page at a time.
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=None)
    return Client(cluster), cluster


class Stopped(Exception):
    pass


def raise_stopped(number, frame):
    raise Stopped(signal.Signals(number).name)


def run(args, plan, report):
    """Sends the plan out in blocks and writes the records as they come back.
    Returns (written, failed)."""
    from dask.distributed import as_completed, progress

    options = dict(alpha=args.alpha, k=args.k, rthre=args.rthre, bilevel=args.bilevel,
                   dpi=args.dpi, skip_existing=args.skip_existing)
    # Workers have other working folders, perhaps on other machines.
    work = [(os.path.abspath(source), os.path.abspath(target)) for source, target in plan]
    client, cluster = start_client(args)
    try:
        threads = sum(client.nthreads().values())
        size = args.block_size or block_size(len(work), threads)
        starts = range(0, len(work), size)
        futures = client.map(binarize_block, [work[i:i + size] for i in starts],
                             options=options, pure=False)
        first = {future.key: i for future, i in zip(futures, starts)}
        if not args.quiet and sys.stdout.isatty() and args.report != "-":
            threading.Thread(target=progress, args=(futures,), daemon=True).start()
        written = failed = 0
        try:
            for future in as_completed(futures):
                i = first[future.key]
                try:
                    results = future.result()
                except Exception as error:  # a block the cluster could not run
                    for source, _ in plan[i:i + size]:
                        print(f"edgebin.dask: {source}: {error}", file=sys.stderr)
                        failed += 1
                    continue
                for (source, target), (_, absolute_target), records in zip(
                        plan[i:i + size], work[i:i + size], results):
                    for record in records:
                        report.write(as_given(record, source, target, absolute_target))
                        if record["status"] == "ok":
                            written += 1
                        else:
                            failed += 1
                            page = f" (page {record['page']})" if record["pages"] > 1 else ""
                            print(f"edgebin.dask: {source}{page}: {record['message']}",
                                  file=sys.stderr)
        except BaseException:
            client.cancel(futures)
            raise
        return written, failed
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def main(argv=None):
    args = parse_arguments(argv)
    start = time.monotonic()
    try:
        plan = edgebin.plan_batch(args.inputs, args.out_dir, format=args.format,
                                  bilevel=args.bilevel, from_list=args.from_list,
                                  skip_existing=args.skip_existing)
        report = Report(args.report, append=args.skip_existing)
    except ValueError as error:
        print(f"edgebin.dask: {error}", file=sys.stderr)
        return EXIT_USAGE
    except OSError as error:
        print(f"edgebin.dask: {error}", file=sys.stderr)
        return EXIT_WRITE_FAILED
    # SIGTERM stops the run as SIGINT does: the blocks are cancelled and, on a
    # local cluster, its workers end; the atomic writes leave no partial file.
    signal.signal(signal.SIGTERM, raise_stopped)
    signal.signal(signal.SIGINT, raise_stopped)
    try:
        written, failed = run(args, plan, report)
    except Stopped as stop:
        print(f"edgebin.dask: stopped by {stop} after {time.monotonic() - start:.1f} s; run "
              "again with --skip-existing to finish", file=sys.stderr)
        return EXIT_INTERRUPTED
    except OSError as error:  # the scheduler cannot be reached
        print(f"edgebin.dask: {error}", file=sys.stderr)
        return 1
    finally:
        report.close()
    if not args.quiet or failed:
        print(f"edgebin.dask: {len(plan)} files in {time.monotonic() - start:.1f} s: "
              f"{written} pages written, {failed} failed", file=sys.stderr)
    return EXIT_SOME_PAGES_FAILED if failed else 0


if __name__ == "__main__":
    # Run with -m this file is __main__; the tasks must name the importable
    # edgebin.dask, so that workers import it rather than unpickle this copy.
    from edgebin.dask import main as edgebin_main
    sys.exit(edgebin_main())
