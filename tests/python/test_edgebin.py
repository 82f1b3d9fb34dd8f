"""The Python module against the command line and edgebin-eval of the same build
(PYTHONPATH=build/python; EDGEBIN_BUILD_DIR names another build folder)."""

import functools
import json
import os
import re
import subprocess
from pathlib import Path

import cv2
import numpy as np
import pytest
from PIL import Image

import edgebin

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("EDGEBIN_BUILD_DIR", ROOT / "build"))
SHARED = ROOT.parent / "shared" / "data"
SAMPLE = ROOT / "samples" / "sample_page.png"
RAMP = np.tile(np.arange(64, dtype=np.uint8), (48, 1))  # no strokes on it


@pytest.fixture(scope="session")
def pages(tmp_path_factory):
    """Page files by name: the grey sample, colour pages made from it whose channels
    differ (a swap of red and blue changes their grey), and shared pages."""
    folder = tmp_path_factory.mktemp("pages")
    grey = cv2.imread(str(SAMPLE), cv2.IMREAD_GRAYSCALE).astype(np.float32)
    tinted = np.dstack([grey, 0.8 * grey + 30, 0.4 * grey + 150]).astype(np.uint8)
    cv2.imwrite(str(folder / "tinted.png"), tinted)
    cv2.imwrite(str(folder / "turned.png"), cv2.rotate(tinted, cv2.ROTATE_90_CLOCKWISE))
    return {"sample": SAMPLE, "tinted": folder / "tinted.png", "turned": folder / "turned.png",
            **{name: SHARED / name for name in ["dibco2009/H03.png", "hdibco2014/H06.png"]}}


@pytest.fixture(scope="session")
def cli(tmp_path_factory):
    """Runs the command line once per page: (output image, stdout, output path)."""
    folder = tmp_path_factory.mktemp("cli")

    @functools.lru_cache(maxsize=None)
    def run(page):
        target = folder / f"{len(os.listdir(folder))}.png"
        done = subprocess.run([str(BUILD / "edgebin"), str(page), str(target)],
                              capture_output=True, text=True, check=True)
        return cv2.imread(str(target), cv2.IMREAD_UNCHANGED), done.stdout, target
    return run


@pytest.mark.parametrize("mode", ["grey", "bgr", "rgb"])
@pytest.mark.parametrize("name", ["sample", "tinted", "dibco2009/H03.png", "hdibco2014/H06.png"])
def test_matches_command_line(pages, cli, name, mode):
    path = pages[name]
    if not path.exists():
        pytest.skip(f"{path} is absent (no ../shared/data)")
    bgr = cv2.imread(str(path), cv2.IMREAD_COLOR)
    image = {"grey": cv2.cvtColor(bgr, cv2.COLOR_BGR2GRAY), "bgr": bgr,
             "rgb": cv2.cvtColor(bgr, cv2.COLOR_BGR2RGB)}[mode]
    # The colour page is split over threads too, which changes nothing.
    result, trace = edgebin.binarize_with_trace(image, color="rgb" if mode == "rgb" else "bgr",
                                                threads=3 if mode == "bgr" else 1)
    expected, stdout, _ = cli(path)
    assert result.shape == expected.shape and np.array_equal(result, expected)
    passes = trace["measurements"] + trace["refinement_passes"]
    widths = [w for measurement in passes for w in measurement["band_stroke_widths"]]
    assert widths == [int(w) for w in re.findall(r"th SW is: (\d+)", stdout)]
    assert f"Final Global Threshold is : {trace['final_threshold']}\n" in stdout


@pytest.mark.parametrize("view", [
    lambda p: p[40:500, 100:900],            # rows further apart than they are long
    lambda p: p[:, ::2],                     # pixels not packed
    lambda p: p[::-1],                       # negative row stride
    lambda p: np.asfortranarray(p),
    lambda p: np.dstack([p, p[..., :1]])[..., :3] if p.ndim == 3 else p.T,
], ids=["crop", "columns", "flipped", "fortran", "alpha-or-transposed"])
@pytest.mark.parametrize("name", ["sample", "tinted"])
def test_views_match_copies(pages, name, view):
    image = view(cv2.imread(str(pages[name]), cv2.IMREAD_UNCHANGED))
    assert np.array_equal(edgebin.binarize(image), edgebin.binarize(np.ascontiguousarray(image)))


@pytest.mark.parametrize("call, error, text", [
    (lambda: edgebin.binarize(RAMP.astype(np.float32)), TypeError, "uint8"),
    (lambda: edgebin.binarize(RAMP[0]), ValueError, "shape"),
    (lambda: edgebin.binarize(np.dstack([RAMP] * 4)), ValueError, "shape"),
    (lambda: edgebin.binarize(RAMP[:, :0]), ValueError, "empty"),
    (lambda: edgebin.binarize(RAMP, alpha=float("nan")), ValueError, "alpha"),
    (lambda: edgebin.binarize(RAMP, color="hsv"), ValueError, "color"),
    (lambda: edgebin.binarize(RAMP, polarity="negative"), ValueError, "polarity"),
    (lambda: edgebin.binarize(RAMP, threads=0), ValueError, "threads"),
    (lambda: edgebin.binarize(RAMP, working_resolution=-1), ValueError, "workingResolution"),
    (lambda: edgebin.binarize(RAMP, 2.0), TypeError, "incompatible"),
    (lambda: edgebin.binarize(RAMP), edgebin.NoStrokesError, "no stroke"),
    (lambda: edgebin.evaluate(RAMP, RAMP[1:]), ValueError, "differ"),
    (lambda: edgebin.evaluate(RAMP, np.dstack([RAMP] * 3)), ValueError, "shape"),
    (lambda: edgebin.evaluate(RAMP, RAMP > 0), TypeError, "uint8"),
], ids=["float", "1-D", "4-channel", "empty", "nan", "color", "polarity", "threads",
        "working-resolution", "positional", "no-strokes", "sizes", "colour-truth", "bool-truth"])
def test_bad_input_raises(call, error, text):
    with pytest.raises(error, match=text) as raised:
        call()
    if error is edgebin.NoStrokesError:  # the trace says how far the run got
        trace = raised.value.trace
        assert trace["final_threshold"] is not None and not trace["bands"]


def test_polarity_keyword(tmp_path):
    """A negative gives its positive's pixels under light-ink and auto, in memory
    and from a file, and the trace and the record say it was inverted."""
    grey = cv2.imread(str(SAMPLE), cv2.IMREAD_GRAYSCALE)
    positive, trace = edgebin.binarize_with_trace(grey, polarity="dark-ink")
    assert trace["polarity"] == "dark-ink" and trace["polarity_evidence"] is None
    cv2.imwrite(str(tmp_path / "negative.png"), 255 - grey)
    for polarity in ("light-ink", "auto"):
        result, inverted = edgebin.binarize_with_trace(255 - grey, polarity=polarity)
        assert np.array_equal(result, positive) and inverted["polarity"] == "light-ink"
        [record] = edgebin.binarize_file(tmp_path / "negative.png", tmp_path / "out.png",
                                         polarity=polarity)
        assert record["polarity"] == "light-ink"
        assert np.array_equal(cv2.imread(str(tmp_path / "out.png"), 0), positive)


def test_resolution_keyword_matches_a_file_that_declares_it(tmp_path):
    grey = cv2.imread(str(SAMPLE), cv2.IMREAD_GRAYSCALE)
    Image.fromarray(grey).save(tmp_path / "in600.png", dpi=(600, 600))
    subprocess.run([str(BUILD / "edgebin"), str(tmp_path / "in600.png"), str(tmp_path / "out.png")],
                   capture_output=True, check=True)
    result, trace = edgebin.binarize_with_trace(grey, resolution=600)
    assert trace["working_scale"] == 2.0
    assert np.array_equal(result, cv2.imread(str(tmp_path / "out.png"), cv2.IMREAD_UNCHANGED))
    for working, scale, expected in ((300, 2.0, result), (0, 1.0, edgebin.binarize(grey))):
        [record] = edgebin.binarize_file(tmp_path / "in600.png", tmp_path / "file.png",
                                         working_resolution=working)
        assert record["working_scale"] == scale
        assert np.array_equal(cv2.imread(str(tmp_path / "file.png"), 0), expected)
    with pytest.raises(ValueError, match="resolution"):
        edgebin.check_parameters(resolution=float("inf"))
    # A damaged header's resolution, beyond the library's range, is ignored.
    Image.fromarray(grey).save(tmp_path / "damaged.png", dpi=(2e6, 2e6))
    [record] = edgebin.binarize_file(tmp_path / "damaged.png", tmp_path / "file.png")
    assert record["status"] == "ok" and record["working_scale"] == 1.0


@pytest.mark.parametrize("truth_as_result", [False, True])
def test_evaluate_matches_eval_tool(cli, truth_as_result):
    truth_path = ROOT / "samples" / "sample_page_gt.png"
    result_path = truth_path if truth_as_result else cli(SAMPLE)[2]
    tool = subprocess.run([str(BUILD / "edgebin-eval"), "--json", str(result_path),
                           str(truth_path)], capture_output=True, text=True, check=True)
    read = [cv2.imread(str(p), cv2.IMREAD_GRAYSCALE) for p in (result_path, truth_path)]
    scores = edgebin.evaluate(*read)
    assert scores == {key: pytest.approx(float(value), abs=5e-5)
                      for key, value in json.loads(tool.stdout).items()}

