"""Binarization of scanned document pages: ink 0, paper 255.

    import cv2, edgebin
    page = cv2.imread("page.png", cv2.IMREAD_COLOR)
    binary = edgebin.binarize(page)          # H×W uint8, 0 ink, 255 paper
    scores = edgebin.evaluate(binary, cv2.imread("page_gt.png", cv2.IMREAD_GRAYSCALE))

The work runs without the GIL: threads binarize pages in parallel.
"""

from ._edgebin import (
    NoStrokesError,
    __version__,
    binarize,
    binarize_with_trace,
    check_parameters,
    evaluate,
    is_already_binary,
)

__all__ = [
    "NoStrokesError",
    "__version__",
    "binarize",
    "binarize_with_trace",
    "check_parameters",
    "evaluate",
    "is_already_binary",
]
