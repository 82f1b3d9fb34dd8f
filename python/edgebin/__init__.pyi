import os
from typing import Any, Dict, List, Literal, Optional, Sequence, Tuple, TypedDict, Union

import numpy as np
import numpy.typing as npt

__version__: str

class StrokeMeasurement(TypedDict):
    empty_mask: bool
    band_stroke_widths: List[int]

class TextBand(TypedDict):
    top: int
    bottom: int
    stroke_width: int

class Trace(TypedDict):
    copied_input: bool
    working_scale: float
    shrunk_for_strokes: bool
    main_peak: Optional[int]
    second_peak: Optional[int]
    ratio: Optional[float]
    final_threshold: Optional[int]
    reassigned_threshold: Optional[int]
    measurements: List[StrokeMeasurement]
    refinement_passes: List[StrokeMeasurement]
    bands: List[TextBand]
    polarity: Literal["dark-ink", "light-ink"]
    polarity_evidence: Optional[float]

class Scores(TypedDict):
    precision: float
    recall: float
    f_measure: float
    pseudo_recall: float
    pseudo_f_measure: float
    psnr: float
    drd: float

class NoStrokesError(RuntimeError):
    """No stroke structure was found on the page (a blank or nearly blank page)."""

    trace: Trace

def binarize(
    image: npt.NDArray[np.uint8],
    *,
    alpha: float = 2.0,
    k: float = 0.6,
    rthre: float = 0.05,
    threads: int = 1,
    color: Literal["bgr", "rgb"] = "bgr",
    polarity: Literal["auto", "dark-ink", "light-ink"] = "auto",
    resolution: float = 0.0,
    working_resolution: float = 300.0,
) -> npt.NDArray[np.uint8]:
    """Binarizes an H×W or H×W×3 uint8 page; returns H×W uint8, 0 ink, 255 paper."""

def binarize_with_trace(
    image: npt.NDArray[np.uint8],
    *,
    alpha: float = 2.0,
    k: float = 0.6,
    rthre: float = 0.05,
    threads: int = 1,
    color: Literal["bgr", "rgb"] = "bgr",
    polarity: Literal["auto", "dark-ink", "light-ink"] = "auto",
    resolution: float = 0.0,
    working_resolution: float = 300.0,
) -> Tuple[npt.NDArray[np.uint8], Trace]:
    """Like binarize(), and returns the trace of thresholds and stroke widths too."""

def evaluate(
    result: npt.NDArray[np.uint8], ground_truth: npt.NDArray[np.uint8]
) -> Scores:
    """The figures of edgebin-eval --json: percentages, PSNR in dB, DRD."""

def check_parameters(
    *,
    alpha: float = 2.0,
    k: float = 0.6,
    rthre: float = 0.05,
    threads: int = 1,
    resolution: float = 0.0,
    working_resolution: float = 300.0,
) -> None:
    """Raises ValueError when a parameter is not finite or beyond the library's range."""

def is_already_binary(image: npt.NDArray[np.uint8]) -> bool:
    """True when the grey page holds at most two distinct values."""

_Path = Union[str, "os.PathLike[str]"]

def binarize_file(
    source: _Path,
    target: _Path,
    *,
    alpha: float = 2.0,
    k: float = 0.6,
    rthre: float = 0.05,
    polarity: Literal["auto", "dark-ink", "light-ink"] = "auto",
    working_resolution: float = 300.0,
    bilevel: bool = False,
    dpi: Optional[float] = None,
    skip_existing: bool = False,
) -> List[Dict[str, Any]]:
    """Binarizes an image file as `edgebin --out-dir` does; returns its report records."""

def plan_batch(
    inputs: Sequence[_Path],
    out_dir: _Path,
    *,
    format: Literal["png", "tif", "pbm"] = "png",
    bilevel: bool = False,
    from_list: Optional[_Path] = None,
    skip_existing: bool = False,
) -> List[Tuple[str, str]]:
    """The (source, target) pairs of `edgebin --out-dir out_dir *inputs`."""
