"""Binarization of scanned document pages: ink 0, paper 255.

    import cv2, edgebin
    page = cv2.imread("page.png", cv2.IMREAD_COLOR)
    binary = edgebin.binarize(page)          # H×W uint8, 0 ink, 255 paper
    scores = edgebin.evaluate(binary, cv2.imread("page_gt.png", cv2.IMREAD_GRAYSCALE))

Files are binarized as `edgebin --out-dir` binarizes them, by the same code:

    for source, target in edgebin.plan_batch(["scans/"], "out"):
        records = edgebin.binarize_file(source, target)   # the --report lines

and `python3 -m edgebin.dask` runs such a batch on a Dask cluster.

The work runs without the GIL: threads binarize pages in parallel.
"""

from . import _edgebin
from ._edgebin import (
    NoStrokesError,
    __version__,
    binarize,
    binarize_with_trace,
    check_parameters,
    evaluate,
    is_already_binary,
    plan_batch,
)


def binarize_file(source, target, **options):
    # A Python function, so that Dask and multiprocessing can send it to workers
    # by name: the module's own functions cannot be pickled.
    return _edgebin.binarize_file(source, target, **options)


binarize_file.__doc__ = _edgebin.binarize_file.__doc__

__all__ = [
    "NoStrokesError",
    "__version__",
    "binarize",
    "binarize_file",
    "binarize_with_trace",
    "check_parameters",
    "evaluate",
    "is_already_binary",
    "plan_batch",
]
