"""Thread scaling of the Python module: N threads against one, on different pages.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_threads.py [--threads 2]
        [--repeats 5] [--opencv-threads N] [PAGE ...]

The pages are decoded first; only edgebin.binarize is timed. One round binarizes
every page once in one thread, then once with a ThreadPoolExecutor; the rounds
alternate so that a change of load on the machine hits both alike. The figure is
the best single-thread time over the best pooled time. Without PAGE arguments
the pages of ../shared/data are used, or rotated copies of the sample page.
"""

import argparse
import concurrent.futures
import statistics
import time
from pathlib import Path

import cv2
import numpy as np

import edgebin

ROOT = Path(__file__).resolve().parent.parent


def default_pages(count):
    shared = sorted(p for p in (ROOT.parent / "shared" / "data").glob("*/*.png")
                    if not p.stem.endswith("_gt"))
    if shared:
        return [cv2.imread(str(p), cv2.IMREAD_COLOR) for p in shared[:count]]
    sample = cv2.imread(str(ROOT / "samples" / "sample_page.png"), cv2.IMREAD_COLOR)
    turns = [None, cv2.ROTATE_90_CLOCKWISE, cv2.ROTATE_180, cv2.ROTATE_90_COUNTERCLOCKWISE]
    return [sample if turn is None else cv2.rotate(sample, turn)
            for turn in turns * (count // len(turns))]


def opencv_libraries():
    """The libopencv_core files mapped into this process: one means cv2 and
    edgebin share OpenCV's thread pool setting."""
    with open("/proc/self/maps") as maps:
        return sorted({line.split()[-1] for line in maps if "libopencv_core" in line})


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("pages", nargs="*", type=Path)
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--count", type=int, default=16,
                        help="number of default pages (default 16)")
    parser.add_argument("--opencv-threads", type=int,
                        help="call cv2.setNumThreads with this first")
    args = parser.parse_args()

    if args.opencv_threads is not None:
        cv2.setNumThreads(args.opencv_threads)
    pages = ([cv2.imread(str(p), cv2.IMREAD_COLOR) for p in args.pages]
             if args.pages else default_pages(args.count))
    megapixels = sum(p.shape[0] * p.shape[1] for p in pages) / 1e6
    print(f"{len(pages)} pages, {megapixels:.1f} Mpixel; OpenCV threads "
          f"{cv2.getNumThreads()}; {', '.join(opencv_libraries())}")

    def run_once(page):
        try:
            return edgebin.binarize(page)
        except edgebin.NoStrokesError:
            return None

    sequential, pooled = [], []
    with concurrent.futures.ThreadPoolExecutor(args.threads) as pool:
        for _ in range(args.repeats):
            start = time.perf_counter()
            expected = [run_once(p) for p in pages]
            sequential.append(time.perf_counter() - start)
            start = time.perf_counter()
            results = list(pool.map(run_once, pages))
            pooled.append(time.perf_counter() - start)
            if not all(np.array_equal(a, b) for a, b in zip(expected, results)):
                raise SystemExit("threads gave other results than one thread")

    print(f"1 thread:  best {min(sequential):.3f} s, median {statistics.median(sequential):.3f} s")
    print(f"{args.threads} threads: best {min(pooled):.3f} s, "
          f"median {statistics.median(pooled):.3f} s")
    print(f"speed-up {min(sequential) / min(pooled):.2f}x (best), "
          f"{statistics.median(sequential) / statistics.median(pooled):.2f}x (median)")


if __name__ == "__main__":
    main()
