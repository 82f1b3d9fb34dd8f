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
import json
import math
import os
import signal
import sys
import threading
import time
import uuid

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


def block_size(files, threads):
    return max(1, min(MAX_BLOCK, math.ceil(files / (BLOCKS_PER_THREAD * max(1, threads)))))


def report_text(name):
    """A file name as the command line's report gives it: bytes that are no UTF-8
    become U+FFFD."""
    return name.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def as_given(record, source, target, absolute_target):
    """The record of a page worked on at absolute paths, with the paths as the
    command line names them: the input and the result as planned."""
    record["input"] = report_text(source)
    if record["output"] is not None:
        # The same file or a numbered page of it: only the part before the
        # extension differs, and the extension is the format's.
        extension = len(os.path.splitext(target)[1])
        record["output"] = report_text(target[:len(target) - extension]) + \
            record["output"][len(report_text(absolute_target)) - extension:]
    return record


class Report:
    """The JSON Lines report, one line per page in the command line's format,
    flushed line by line so that a stopped run leaves whole lines."""

    def __init__(self, path, append):
        if not path:
            self._file = None
        elif path == "-":
            self._file = sys.stdout
        else:
            self._file = open(path, "a" if append else "w", encoding="utf-8")

    def write(self, record):
        if self._file is not None:
            self._file.write(json.dumps(record, ensure_ascii=False, separators=(",", ":")) + "\n")
            self._file.flush()

    def close(self):
        if self._file not in (None, sys.stdout):
            self._file.close()


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="python3 -m edgebin.dask",
        description=__doc__.split("\n\n")[0].replace("\n", " "),
        epilog="Exit status: 0 success; 1 the scheduler could not be reached; 2 bad command line; 3 output "
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
    parser.add_argument("--working-dpi", type=float, default=300.0, metavar="N",
                        help="pages declared at 1.5 N dpi or more are binarized at N dpi; "
                             "0 never rescales (default 300)")
    parser.add_argument("--block-size", type=int, metavar="N",
                        help="files per task (default: from the number of files and threads)")
    parser.add_argument("--quiet", action="store_true", help="no progress and no summary")
    args = parser.parse_args(argv)
    try:
        # The library's own checks of the tuning, so that a bad value is refused
        # here rather than by every block.
        edgebin.check_parameters(alpha=args.alpha, k=args.k, rthre=args.rthre,
                                 working_resolution=args.working_dpi)
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
    # Ctrl-C on a terminal reaches the whole process group; the workers, started
    # ignoring it, leave the stop to this process, which cancels the blocks and
    # closes the cluster, rather than each print a traceback.
    handler = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        # One thread per process: each worker binarizes one page at a time.
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=None)
    finally:
        signal.signal(signal.SIGINT, handler)
    return Client(cluster), cluster


class Signals:
    """SIGINT and SIGTERM: the first asks for a stop, which the run polls for; a
    second one stops at once."""

    def __init__(self):
        self.received = None
        for number in (signal.SIGINT, signal.SIGTERM):
            signal.signal(number, self._handle)

    def _handle(self, number, frame):
        if self.received is not None:
            raise KeyboardInterrupt
        self.received = signal.Signals(number).name


class Tally:
    """Counts the records that come back, writes them to the report and tells
    failures on standard error."""

    def __init__(self, report):
        self.report = report
        self.written = 0
        self.failed = 0

    def add(self, records, source, target, absolute_target):
        for record in records:
            self.report.write(as_given(record, source, target, absolute_target))
            if record["status"] == "ok":
                self.written += 1
            else:
                self.failed += 1
                page = f" (page {record['page']})" if record["pages"] > 1 else ""
                print(f"edgebin.dask: {source}{page}: {record['message']}", file=sys.stderr)

    def add_error(self, sources, error):
        for source in sources:
            print(f"edgebin.dask: {source}: {error}", file=sys.stderr)
            self.failed += 1


def binarize_block(block, options, stop):
    """Runs on a worker: binarizes each (source, target) of `block` and returns
    the report records of each, until the Dask event `stop` is set."""
    from dask.distributed import Event

    edgebin._edgebin._use_batch_worker_settings()
    stop = Event(stop)
    results = []
    for source, target in block:
        if stop.is_set():
            break
        results.append(edgebin.binarize_file(source, target, **options))
    return results


def run(args, plan, tally, signals):
    """Sends the plan out in blocks and hands the records to `tally` as they
    come back. On a first signal the files in progress are finished and
    reported, and the others left."""
    from dask.distributed import Event, as_completed, progress

    options = dict(alpha=args.alpha, k=args.k, rthre=args.rthre,
                   working_resolution=args.working_dpi, bilevel=args.bilevel,
                   dpi=args.dpi, skip_existing=args.skip_existing)
    # Workers have other working folders, perhaps on other machines.
    work = [(os.path.abspath(source), os.path.abspath(target)) for source, target in plan]
    client, cluster = start_client(args)
    futures = []
    try:
        stop = Event(f"edgebin-stop-{uuid.uuid4()}", client=client)
        threads = sum(client.nthreads().values())
        size = args.block_size or block_size(len(work), threads)
        starts = range(0, len(work), size)
        futures = client.map(binarize_block, [work[i:i + size] for i in starts],
                             options=options, stop=stop.name, pure=False)
        first = {future.key: i for future, i in zip(futures, starts)}
        bar = not args.quiet and sys.stdout.isatty() and args.report != "-"
        if bar:
            threading.Thread(target=progress, args=(futures,), daemon=True).start()
        remaining = as_completed(futures)
        stopping = False
        while not remaining.is_empty():
            if signals.received is not None and not stopping:
                stopping = True
                stop.set()
                # Below the progress bar's line, which has no end yet.
                print("\n" * bar + f"edgebin.dask: {signals.received}: finishing the files in "
                      "progress (send it again to stop at once)", file=sys.stderr)
            if not remaining.has_ready():
                time.sleep(0.1)
                continue
            for future in remaining.next_batch(block=False):
                i = first[future.key]
                try:
                    results = future.result()
                except Exception as error:  # a block the cluster could not run
                    tally.add_error([source for source, _ in plan[i:i + size]], error)
                    continue
                for (source, target), (_, absolute_target), records in zip(
                        plan[i:i + size], work[i:i + size], results):
                    tally.add(records, source, target, absolute_target)
    finally:
        client.cancel(futures)
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
    signals = Signals()
    tally = Tally(report)
    try:
        run(args, plan, tally, signals)
    except KeyboardInterrupt:
        pass  # a second signal: the blocks were cancelled and a local cluster closed
    except OSError as error:  # the scheduler cannot be reached, or the report written
        print(f"edgebin.dask: {error}", file=sys.stderr)
        return 1
    finally:
        report.close()
    seconds = time.monotonic() - start
    if signals.received is not None:
        print(f"edgebin.dask: stopped by {signals.received} after {seconds:.1f} s: "
              f"{tally.written} pages written, {tally.failed} failed; run again with "
              "--skip-existing to finish", file=sys.stderr)
        return EXIT_INTERRUPTED
    if not args.quiet or tally.failed:
        print(f"edgebin.dask: {len(plan)} files in {seconds:.1f} s: {tally.written} pages "
              f"written, {tally.failed} failed", file=sys.stderr)
    return EXIT_SOME_PAGES_FAILED if tally.failed else 0


if __name__ == "__main__":
    # Run with -m this file is __main__; the tasks must name the importable
    # edgebin.dask, so that workers import it rather than unpickle this copy.
    from edgebin.dask import main as edgebin_main
    sys.exit(edgebin_main())
