"""OCRmyPDF plugin: Tesseract reads edgebin's binarization of every page.

    ocrmypdf --plugin edgebin.ocrmypdf in.pdf out.pdf
    ocrmypdf --plugin edgebin.ocrmypdf --edgebin-visible in.pdf out.pdf

Options (checked as the library checks them; a bad value is a usage error):
    --edgebin-alpha A, --edgebin-k K, --edgebin-rthre R
        the parameters of edgebin.binarize().
    --edgebin-visible
        the page shown in the PDF becomes the 1-bit result too (CCITT G4), which
        makes scanned PDFs much smaller; without it the visible page stays the scan.

    --edgebin-working-dpi N
        edgebin's working_resolution: a page at 1.5 N dpi or more is binarized at
        N dpi and brought back to its size (default 300; 0 never rescales).

The page's resolution, as OCRmyPDF gives it, goes to edgebin.binarize().

A page that edgebin leaves alone (already two-level, or without any stroke
structure, such as a blank page) goes to OCR as it is, with one warning.

The hooks keep nothing between calls: every page is worked out from its own
files, so pages may run in threads or processes (--jobs, --use-threads). When
both hooks see the same pixels, the second one reuses the first one's result
through a file in the page's temporary folder rather than binarizing again.
"""

from __future__ import annotations

import argparse
import hashlib
import logging

import numpy as np
from ocrmypdf import hookimpl
from ocrmypdf.exceptions import BadArgsError
from PIL import Image

import edgebin

# Under OCRmyPDF's own logger, so that the messages reach its handler whether it
# manages the root logger (the command line) or only "ocrmypdf" (the API), and
# carry the page number its record factory adds.
log = logging.getLogger("ocrmypdf.edgebin")

# Option --edgebin-NAME sets the library's keyword.
_PARAMETERS = {"alpha": "alpha", "k": "k", "rthre": "rthre",
               "working-dpi": "working_resolution"}


def _parameter_type(keyword):
    """argparse type of an --edgebin- option: a float that the library accepts."""

    def parse(text):
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r} is not a number") from None
        try:
            edgebin.check_parameters(**{keyword: value})
        except ValueError as error:
            raise argparse.ArgumentTypeError(str(error)) from None
        return value

    return parse


@hookimpl
def add_options(parser):
    group = parser.add_argument_group(
        "edgebin", "The page image that OCR reads is binarized by edgebin")
    for name, keyword in _PARAMETERS.items():
        group.add_argument(
            f"--edgebin-{name}", metavar=name.split("-")[0].upper(), type=_parameter_type(keyword),
            help=f"edgebin's {keyword} (default: the library's, as in edgebin.binarize)")
    group.add_argument(
        "--edgebin-visible", action="store_true",
        help="show edgebin's 1-bit result as the page image too, instead of the scan; "
             "the PDF gets much smaller")


@hookimpl
def check_options(options):
    if not options.edgebin_visible:
        return
    if options.redo_ocr:
        raise BadArgsError("--edgebin-visible replaces the page image and cannot keep its "
                           "text, so it does not go with --redo-ocr")
    # OCRmyPDF rebuilds the visible page from its image, and calls filter_page_image
    # for it, only when it does not keep the page as it was.
    options.lossless_reconstruction = False


def _parameters(options):
    chosen = {keyword: getattr(options, "edgebin_" + name.replace("-", "_"))
              for name, keyword in _PARAMETERS.items()}
    return {keyword: value for keyword, value in chosen.items() if value is not None}


def _page_array(image):
    """The pixels of a PIL page for edgebin.binarize: (array, color)."""
    if image.mode in ("L", "1"):
        return np.asarray(image.convert("L")), "bgr"
    return np.asarray(image.convert("RGB")), "rgb"


def _binarize(array, color, parameters):
    """edgebin's result for one page, or None with the reason edgebin leaves it alone.

    Returns (result, trace, reason); the trace is what a per-page report would be
    drawn from.
    """
    try:
        result, trace = edgebin.binarize_with_trace(array, color=color, **parameters)
    except edgebin.NoStrokesError as error:
        return None, error.trace, f"{error} (a blank page?)"
    if trace["copied_input"]:
        return None, trace, "the page is already two-level"
    return result, trace, ""


def _page_key(array, color, parameters):
    """Names a binarization by everything it depends on, so that the second hook of a
    page reuses the first one's result only for the very same pixels."""
    digest = hashlib.blake2b(digest_size=12)
    digest.update(repr((array.shape, color, sorted(parameters.items()))).encode())
    digest.update(np.ascontiguousarray(array).data)
    return "edgebin_" + digest.hexdigest()


def _save_bilevel(result, dpi, path):
    """Writes `result` (0 ink, 255 paper) as a 1-bit CCITT G4 TIFF, which img2pdf
    embeds in the PDF as it is."""
    image = Image.fromarray(result).convert("1", dither=Image.Dither.NONE)
    partial = path.with_name(path.name + ".partial")
    # In one strip: a PDF holds a G4 image as one stream, and img2pdf decodes and
    # encodes again a TIFF cut into Pillow's default strips of 64 kB.
    one_strip = (image.width + 7) // 8 * image.height
    image.save(partial, format="TIFF", compression="group4", dpi=dpi, strip_size=one_strip)
    partial.replace(path)


def _log_verdict(trace):
    """The page's self-check on OCRmyPDF's log, which names the page: a warning for
    a page to look at, an info line for one that looks sound."""
    if trace["verdict"] == "suspect":
        log.warning("edgebin's self-check: suspect: %s", ", ".join(trace["suspect_reasons"]))
    else:
        log.info("edgebin's self-check: ok")


def _binarized_page(page, image, dpi):
    """edgebin's result for the page image `image`, as an array and, with
    --edgebin-visible, as a G4 TIFF in the page's temporary folder; (None, None)
    when edgebin leaves the page alone, which is logged once per page."""
    options = page.options
    parameters = _parameters(options)
    # A page rendered or scanned well above 300 dpi is binarized at 300 dpi and
    # brought back, which the defaults suit. A resolution beyond the library's
    # range (a damaged header) is left out rather than failing the document.
    resolution = float(sum(dpi)) / len(dpi) if dpi else 0.0
    try:
        edgebin.check_parameters(resolution=resolution)
        parameters["resolution"] = resolution
    except ValueError:
        pass
    array, color = _page_array(image)
    stem = _page_key(array, color, parameters)
    tiff = page.get_path(stem + ".tif")
    left_alone = page.get_path(stem + ".left-alone")
    if tiff.exists():
        return None, tiff
    if left_alone.exists():
        return None, None
    result, trace, reason = _binarize(array, color, parameters)
    if result is None:
        log.warning("edgebin leaves this page to OCR as it is: %s", reason)
        left_alone.write_text(reason + "\n", encoding="utf-8")
        return None, None
    _log_verdict(trace)
    if options.edgebin_visible:
        _save_bilevel(result, dpi, tiff)
        return result, tiff
    return result, None


@hookimpl
def filter_ocr_image(page, image):
    dpi = image.info.get("dpi")
    result, tiff = _binarized_page(page, image, dpi)
    if result is None and tiff is not None:
        with Image.open(tiff) as cached:
            result = np.asarray(cached.convert("L"))
    if result is None:
        return None
    filtered = Image.fromarray(result)
    if dpi is not None:
        # OCRmyPDF saves the OCR image with this resolution; Tesseract needs it.
        filtered.info["dpi"] = dpi
    return filtered


def _outcome_for_copy(page, size):
    """For a page shown from OCRmyPDF's JPEG copy of the page image (a scan made of
    JPEGs), whose pixels differ from those OCR read: (found, TIFF or None), the OCR
    hook's outcome for the page, which stands for it rather than a second, poorer run."""
    prefix = page.get_path("edgebin_")
    found = [path for path in prefix.parent.glob(prefix.name + "*")
             if path.suffix in (".tif", ".left-alone")]
    if len(found) != 1:
        return False, None
    if found[0].suffix == ".left-alone":
        return True, None
    with Image.open(found[0]) as image:
        return image.size == size, found[0]


@hookimpl
def filter_page_image(page, image_filename):
    if not page.options.edgebin_visible:
        return None
    with Image.open(image_filename) as image:
        dpi = image.info.get("dpi")
        if dpi is None:
            log.warning("edgebin keeps the scan as the page image: it has no resolution")
            return None
        if image.format == "JPEG":
            found, tiff = _outcome_for_copy(page, image.size)
            if found:
                return tiff
        _result, tiff = _binarized_page(page, image, dpi)
    return tiff
