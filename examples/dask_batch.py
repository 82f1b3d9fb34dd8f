"""Binarizes every image of a folder with Dask, one task per page.

    python3 examples/dask_batch.py INPUT_DIR OUTPUT_DIR [--workers N]
    python3 examples/dask_batch.py INPUT_DIR OUTPUT_DIR --scheduler tcp://HOST:8786

Without --scheduler a LocalCluster of N single-threaded worker processes runs on
this machine. With --scheduler the same tasks go to that cluster; its workers
need edgebin, numpy and cv2 installed and must see INPUT_DIR and OUTPUT_DIR at
the same paths (a shared file system), since they read and write the pages
themselves and only a one-line status per page comes back.

Each page is read as colour, as the edgebin command line reads it, and written
as OUTPUT_DIR/<name>.png. A page on which no stroke structure is found gets no
output and is reported. Exit status: 0 when every page was written, 1 otherwise.
"""

import argparse
import sys
from pathlib import Path

from dask.distributed import Client, LocalCluster

IMAGE_SUFFIXES = {".png", ".jpg", ".jpeg", ".tif", ".tiff", ".bmp", ".pgm", ".ppm", ".pbm"}


def binarize_file(source, target_dir, alpha, k, rthre):
    # Imported on the worker, which may be another machine.
    import cv2
    import edgebin

    page = cv2.imread(source, cv2.IMREAD_COLOR)
    if page is None:
        return f"{source}: cannot read"
    try:
        binary = edgebin.binarize(page, alpha=alpha, k=k, rthre=rthre)
    except (edgebin.NoStrokesError, ValueError) as error:
        return f"{source}: {error}"
    target = str(Path(target_dir) / (Path(source).stem + ".png"))
    if not cv2.imwrite(target, binary):
        return f"{target}: cannot write"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("input_dir", type=Path)
    parser.add_argument("output_dir", type=Path)
    parser.add_argument("--workers", type=int, default=2,
                        help="worker processes of the local cluster (default 2)")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--alpha", type=float, default=2.0)
    parser.add_argument("--k", type=float, default=0.6)
    parser.add_argument("--rthre", type=float, default=0.05)
    args = parser.parse_args()

    sources = sorted(str(p.resolve()) for p in args.input_dir.iterdir()
                     if p.suffix.lower() in IMAGE_SUFFIXES)
    args.output_dir.mkdir(parents=True, exist_ok=True)
    target_dir = str(args.output_dir.resolve())

    def run(client):
        futures = client.map(binarize_file, sources, target_dir=target_dir,
                             alpha=args.alpha, k=args.k, rthre=args.rthre, pure=False)
        return [f for f in client.gather(futures) if f is not None]

    if args.scheduler:
        with Client(args.scheduler) as client:
            failures = run(client)
    else:
        # One thread per process: each worker binarizes one page at a time.
        with LocalCluster(n_workers=args.workers, threads_per_worker=1,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            failures = run(client)

    for failure in failures:
        print(failure)
    print(f"binarized {len(sources) - len(failures)} of {len(sources)} pages into {target_dir}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
