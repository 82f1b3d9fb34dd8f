"""edgebin.ocrmypdf run by the real OCRmyPDF, -j 2, on a small generated PDF: two
degraded pages of known words, a blank page and a two-level page. The CER table
per class and the sizes and times are bench/ocrmypdf_bench.py's."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import cv2
import numpy as np
import pytest

import edgebin

pytest.importorskip("ocrmypdf", reason="OCRmyPDF is absent (scripts/install_deps.sh pdf)")
for tool in ("img2pdf", "pdftotext", "pdfimages"):
    if shutil.which(tool) is None:
        pytest.skip(f"{tool} is absent (scripts/install_deps.sh pdf)", allow_module_level=True)

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("EDGEBIN_BUILD_DIR", ROOT / "build"))
sys.path.insert(0, str(ROOT / "tools" / "evaluation"))
from ocr_check import character_error_rate  # noqa: E402

PLUGIN = ["--plugin", "edgebin.ocrmypdf"]
RUNS = {"plain": [], "plugin": PLUGIN + ["--keep-temporary-files"],
        "visible": PLUGIN + ["--edgebin-visible", "--use-threads"]}
LEFT_ALONE = [3, 4]  # the blank page and the two-level page


def ocrmypdf(arguments, document, output):
    return subprocess.run([sys.executable, "-m", "ocrmypdf", "-j", "2", "--output-type", "pdf",
                           *arguments, str(document), str(output)],
                          capture_output=True, text=True, check=False)


@pytest.fixture(scope="module")
def document(tmp_path_factory):
    """The PDF at 300 dpi and the words drawn on its degraded pages."""
    folder = tmp_path_factory.mktemp("document")
    words = []
    # Tesseract misreads the grey texture page; both read the noise page.
    for number, page_class in enumerate(["texture", "noise"], 1):
        subprocess.run([str(BUILD / "edgebin-genpage"), "--class", page_class, "--seed", "1",
                        "--difficulty", "0.4", "--width", "900", "--height", "450",
                        "--out", str(folder / f"{number}.png")], check=True)
        words.append((folder / f"{number}.txt").read_text(encoding="utf-8"))
    # A blank sheet under uneven light, and page 1 already thresholded.
    cv2.imwrite(str(folder / "3.png"), np.linspace(215, 235, 450).astype(np.uint8)[:, None]
                .repeat(900, axis=1))
    grey = cv2.imread(str(folder / "1.png"), cv2.IMREAD_GRAYSCALE)
    cv2.imwrite(str(folder / "4.png"), np.where(grey < 128, 0, 255).astype(np.uint8))
    # Page 2 as a JPEG scan: OCRmyPDF then shows a JPEG copy of the page image.
    cv2.imwrite(str(folder / "2.jpg"), cv2.imread(str(folder / "2.png")))
    pages = [folder / name for name in ["1.png", "2.jpg", "3.png", "4.png"]]
    subprocess.run(["img2pdf", "--imgsize", "300dpi", "-o", str(folder / "scan.pdf"), *pages],
                   check=True)
    return folder / "scan.pdf", words


@pytest.fixture(scope="module")
def runs(document):
    """name: (finished ocrmypdf, output PDF, temporary folder it kept or None)."""
    results = {}
    for name, arguments in RUNS.items():
        output = document[0].with_name(name + ".pdf")
        done = ocrmypdf(arguments, document[0], output)
        kept = re.search(r"Temporary working files retained at:\s*(\S+)", done.stderr)
        results[name] = (done, output, Path(kept.group(1)) if kept else None)
    yield results
    for _, _, kept in results.values():
        if kept is not None:
            shutil.rmtree(kept, ignore_errors=True)


def page_images(pdf):
    """(bits per component, encoding) of each page's image, from pdfimages -list."""
    listed = subprocess.run(["pdfimages", "-list", str(pdf)], capture_output=True, text=True,
                            check=True).stdout.splitlines()[2:]
    return {int(row.split()[0]): (int(row.split()[7]), row.split()[8]) for row in listed}


def test_runs_complete_and_warn_once_per_page_left_alone(runs):
    for name, (done, output, _) in runs.items():
        assert done.returncode == 0 and "Traceback" not in done.stderr, (name, done.stderr)
        assert output.exists()
        # Under -j 2 the workers finish, and warn, in either order.
        warned = sorted((int(page), reason) for page, reason in re.findall(
            r"^\s*(\d+) edgebin leaves this page to OCR as it is: (.*)$", done.stderr,
            re.MULTILINE))
        assert [page for page, _ in warned] == ([] if name == "plain" else LEFT_ALONE)
        if warned:
            assert "no stroke structure" in warned[0][1] and "two-level" in warned[1][1]
        checked = re.findall(r"^\s*(\d+) edgebin's self-check: (ok|suspect: .+)$", done.stderr,
                             re.MULTILINE)
        assert sorted(int(page) for page, _ in checked) == ([] if name == "plain" else [1, 2])


def test_ocr_reads_edgebin_result_and_the_visible_page_shows_it(runs, tmp_path):
    kept = runs["plugin"][2]
    for page in range(1, 5):
        raster = cv2.imread(str(kept / f"{page:06d}_rasterize.png"), cv2.IMREAD_UNCHANGED)
        read = cv2.imread(str(kept / f"{page:06d}_ocr.png"), cv2.IMREAD_UNCHANGED)
        expected = raster if page in LEFT_ALONE else edgebin.binarize(raster)
        assert np.array_equal(read, expected), page
        if page not in LEFT_ALONE:  # the JPEG scan's page too shows what OCR read
            subprocess.run(["pdfimages", "-png", "-f", str(page), "-l", str(page),
                            str(runs["visible"][1]), str(tmp_path / str(page))], check=True)
            shown = cv2.imread(str(tmp_path / f"{page}-000.png"), cv2.IMREAD_GRAYSCALE)
            assert np.array_equal(shown, read), page


def test_text_layer_and_page_images(runs, document):
    def cer(name, page):
        text = subprocess.run(["pdftotext", "-layout", "-f", str(page), "-l", str(page),
                               str(runs[name][1]), "-"], capture_output=True, text=True,
                              check=True).stdout
        return character_error_rate(text, document[1][page - 1])

    images = {name: page_images(runs[name][1]) for name in RUNS}
    for page in (1, 2):
        # The visible page changes nothing of what OCR reads.
        assert cer("visible", page) == cer("plugin", page) <= cer("plain", page) + 0.5
        assert images["plain"][page] == images["plugin"][page] and images["plain"][page][0] == 8
        assert images["visible"][page] == (1, "ccitt")
    assert all(images["visible"][page][1] != "ccitt" for page in LEFT_ALONE)
    assert 2 * os.path.getsize(runs["visible"][1]) <= os.path.getsize(runs["plain"][1])


@pytest.mark.parametrize("arguments, status, message", [
    (["--edgebin-k", "nan"], 2, "argument --edgebin-k: k = nan is outside"),
    (["--edgebin-rthre", "many"], 2, "argument --edgebin-rthre: 'many' is not a number"),
    (["--edgebin-working-dpi", "-3"], 2, "workingResolution = -3 is outside"),
    (["--edgebin-visible", "--redo-ocr"], 1, "does not go with --redo-ocr"),
])
def test_bad_options_are_usage_errors(document, tmp_path, arguments, status, message):
    done = ocrmypdf(PLUGIN + arguments, document[0], tmp_path / "out.pdf")
    assert (done.returncode, "Traceback" in done.stderr) == (status, False), done.stderr
    assert message in done.stderr and not (tmp_path / "out.pdf").exists()
