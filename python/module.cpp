// edgebin._edgebin: the library for Python, numpy pages in and numpy pages out.
//
// Checks and conversions run with the GIL held; the binarization and the scoring
// run without it, so that threads of one process binarize pages in parallel.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <string>
#include <utility>

#include "edgebin/edgebin.hpp"
#include "tools/metrics.h"

namespace py = pybind11;

namespace {

// Created at import time; the module object keeps it alive.
PyObject* noStrokesError = nullptr;

std::string ShapeText(const py::array& array) {
    std::string text = "(";
    for (py::ssize_t i = 0; i < array.ndim(); ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(array.shape(i));
    }
    return text + (array.ndim() == 1 ? ",)" : ")");
}

// A page held as a cv::Mat header over numpy memory. The array it was made from
// stays referenced here, so the memory outlives the header even while the GIL is
// released and other threads drop their references.
struct PageView {
    py::array owner;
    cv::Mat mat;
};

// Checks dtype and shape of `array` (grey H×W, or H×W×3 when `allowColour`) and
// describes it as a cv::Mat. Rows may lie anywhere in memory, as cv::Mat steps
// allow; pixels within a row must be packed, so other views (column slices,
// transposes, negative strides) are copied first.
PageView ViewPage(py::array array, const char* what, bool allowColour) {
    if (array.dtype().num() != py::dtype::of<std::uint8_t>().num()) {
        throw py::type_error(std::string(what) + " must have dtype uint8, not " +
                             py::str(array.dtype()).cast<std::string>());
    }
    const bool grey = array.ndim() == 2;
    const bool colour = array.ndim() == 3 && array.shape(2) == 3;
    if (!grey && !(colour && allowColour)) {
        throw py::value_error(std::string(what) + " must be " +
                              (allowColour ? "H×W (grey) or H×W×3 (colour)" : "H×W (grey)") +
                              ", not of shape " + ShapeText(array));
    }
    if (array.shape(0) == 0 || array.shape(1) == 0) {
        throw py::value_error(std::string(what) + " is empty: shape " + ShapeText(array));
    }
    if (array.shape(0) > INT_MAX || array.shape(1) > INT_MAX) {
        throw py::value_error(std::string(what) + " is too large for the library: shape " +
                              ShapeText(array));
    }
    const int channels = colour ? 3 : 1;
    const bool packedPixels = array.strides(1) == channels && (!colour || array.strides(2) == 1);
    const bool rowsForward = array.strides(0) >= array.shape(1) * channels;
    if (!packedPixels || !rowsForward) {
        array = py::array_t<std::uint8_t, py::array::c_style>::ensure(array);
        if (!array) {
            throw std::runtime_error(std::string("cannot copy ") + what + " into packed rows");
        }
    }
    const int rows = static_cast<int>(array.shape(0));
    const int cols = static_cast<int>(array.shape(1));
    // cv::Mat takes a non-const pointer but the library only reads its input.
    void* data = const_cast<void*>(array.data());
    cv::Mat mat(rows, cols, CV_8UC(channels), data, static_cast<size_t>(array.strides(0)));
    return PageView{std::move(array), mat};
}

// Hands the pixels of `image` (CV_8UC1) to numpy without copying them: the array's
// base object owns the cv::Mat.
py::array ToArray(cv::Mat image) {
    auto owned = std::make_unique<cv::Mat>(std::move(image));
    const cv::Mat& mat = *owned;
    py::capsule base(owned.get(), [](void* p) { delete static_cast<cv::Mat*>(p); });
    owned.release();
    return py::array(py::dtype::of<std::uint8_t>(), {mat.rows, mat.cols},
                     {static_cast<py::ssize_t>(mat.step[0]), py::ssize_t{1}}, mat.data, base);
}

// A trace value that the library sets to -1 when the run never reached it.
py::object Optional(double value) {
    return value < 0 ? py::none() : py::object(py::float_(value));
}

py::object Optional(int value) {
    return value < 0 ? py::none() : py::object(py::int_(value));
}

py::list MeasurementsToList(const std::vector<edgebin::StrokeMeasurement>& measurements) {
    py::list list;
    for (const edgebin::StrokeMeasurement& measurement : measurements) {
        py::list widths;
        for (int width : measurement.bandStrokeWidths) {
            widths.append(width);
        }
        list.append(py::dict(py::arg("empty_mask") = measurement.emptyMask,
                             py::arg("band_stroke_widths") = widths));
    }
    return list;
}

py::dict TraceToDict(const edgebin::Trace& trace) {
    py::list bands;
    for (const edgebin::TextBand& band : trace.bands) {
        bands.append(py::dict(py::arg("top") = band.top, py::arg("bottom") = band.bottom,
                              py::arg("stroke_width") = band.strokeWidth));
    }
    return py::dict(py::arg("copied_input") = trace.copiedInput,
                    py::arg("main_peak") = Optional(trace.mainPeak),
                    py::arg("second_peak") = Optional(trace.secondPeak),
                    py::arg("ratio") = Optional(trace.ratio),
                    py::arg("final_threshold") = Optional(trace.finalThreshold),
                    py::arg("reassigned_threshold") = Optional(trace.reassignedThreshold),
                    py::arg("measurements") = MeasurementsToList(trace.measurements),
                    py::arg("refinement_passes") = MeasurementsToList(trace.refinementPasses),
                    py::arg("bands") = bands);
}

[[noreturn]] void RaiseNoStrokes(const edgebin::Result& result) {
    // The trace says how far the run got, which is what one wants to look at then.
    py::object error = py::reinterpret_borrow<py::object>(noStrokesError)(result.message);
    error.attr("trace") = TraceToDict(result.trace);
    PyErr_SetObject(noStrokesError, error.ptr());
    throw py::error_already_set();
}

edgebin::Result RunBinarize(py::array image, double alpha, double k, double rthre,
                            const std::string& color) {
    if (color != "bgr" && color != "rgb") {
        throw py::value_error("color must be \"bgr\" or \"rgb\", not \"" + color + "\"");
    }
    const PageView page = ViewPage(std::move(image), "image", true);
    const edgebin::Parameters parameters{alpha, k, rthre};
    edgebin::Result result;
    {
        py::gil_scoped_release release;
        if (page.mat.channels() == 3 && color == "rgb") {
            // Reordered rather than converted to grey here, so that the page takes
            // exactly the library's own colour route.
            cv::Mat bgr;
            cv::cvtColor(page.mat, bgr, cv::COLOR_RGB2BGR);
            result = edgebin::Binarize(bgr, parameters);
        } else {
            result = edgebin::Binarize(page.mat, parameters);
        }
    }
    switch (result.status) {
        case edgebin::kStatusOk:
            return result;
        case edgebin::kStatusNoStrokes:
            RaiseNoStrokes(result);
        case edgebin::kStatusInvalidParameter:
        case edgebin::kStatusEmptyImage:
            throw py::value_error(result.message);
        case edgebin::kStatusUnsupportedImage:
            throw py::type_error(result.message);
        default:
            throw std::runtime_error("edgebin status " + std::to_string(result.status) + ": " +
                                     result.message);
    }
}

py::array Binarize(py::array image, double alpha, double k, double rthre,
                   const std::string& color) {
    return ToArray(RunBinarize(std::move(image), alpha, k, rthre, color).image);
}

py::tuple BinarizeWithTrace(py::array image, double alpha, double k, double rthre,
                            const std::string& color) {
    edgebin::Result result = RunBinarize(std::move(image), alpha, k, rthre, color);
    return py::make_tuple(ToArray(std::move(result.image)), TraceToDict(result.trace));
}

py::dict Evaluate(py::array result, py::array groundTruth) {
    const PageView resultPage = ViewPage(std::move(result), "result", false);
    const PageView truthPage = ViewPage(std::move(groundTruth), "ground_truth", false);
    if (resultPage.mat.size() != truthPage.mat.size()) {
        throw py::value_error("result and ground_truth differ in shape: " +
                              ShapeText(resultPage.owner) + " and " + ShapeText(truthPage.owner));
    }
    BinarizationScores scores;
    {
        py::gil_scoped_release release;
        scores = ScoreBinarization(resultPage.mat, truthPage.mat);
    }
    return py::dict(py::arg("precision") = scores.precision, py::arg("recall") = scores.recall,
                    py::arg("f_measure") = scores.fMeasure,
                    py::arg("pseudo_recall") = scores.pseudoRecall,
                    py::arg("pseudo_f_measure") = scores.pseudoFMeasure,
                    py::arg("psnr") = scores.psnr, py::arg("drd") = scores.drd);
}

void CheckParameters(double alpha, double k, double rthre) {
    std::string message;
    if (!edgebin::CheckParameters(edgebin::Parameters{alpha, k, rthre}, message)) {
        throw py::value_error(message);
    }
}

bool IsAlreadyBinary(py::array image) {
    const PageView page = ViewPage(std::move(image), "image", false);
    py::gil_scoped_release release;
    return edgebin::IsAlreadyBinary(page.mat);
}

const char kBinarizeDoc[] = R"(Binarizes one scanned page.

image: numpy array of dtype uint8, either H×W (grey) or H×W×3 (colour, channel
    order given by `color`). Views and non-contiguous arrays are accepted; they
    are copied only when their pixels are not packed within a row.
alpha: window scale of the local vote; each edge pixel votes over a square of
    about alpha × 2 × the stroke width of its row. Finite, |alpha| <= 1e4.
k: weight of the deviation in the local threshold mean + k × deviation.
    Finite, |k| <= 1e6.
rthre: share of the page (0..1) that pixels between two contour-curve peaks
    must cover for the higher peak to become the global threshold.
    Finite, |rthre| <= 1e6.
color: "bgr" (as OpenCV's imread delivers colour) or "rgb" (as PIL and
    scikit-image do). Ignored for grey images.

Returns a new H×W uint8 array: 0 ink, 255 paper. A page with at most two grey
values is returned as a copy of its grey version, with its own two values.

Raises TypeError for a dtype other than uint8; ValueError for a wrong shape, an
empty image, a bad parameter or an unknown `color`; edgebin.NoStrokesError when
no stroke structure is found on the page. The GIL is released while the page is
processed, so threads binarize pages in parallel.)";

const char kBinarizeWithTraceDoc[] = R"(Binarizes one page and reports what was decided on the way.

Takes the same arguments and raises the same exceptions as binarize(). Returns
(image, trace); trace is a dict of plain Python values:

copied_input: True when the page held at most two grey values and was copied;
    the other entries are then unset.
main_peak, second_peak: levels (0..254) of the contour curve's peaks on the
    8-bit gradient map, or None.
ratio: share of the page (0..1) between the two peaks touching no stronger
    edge, or None without a second peak.
final_threshold: global threshold on the 8-bit gradient map, or None.
reassigned_threshold: half of final_threshold when only that half found
    strokes, else None.
measurements, refinement_passes: lists of {"empty_mask": bool,
    "band_stroke_widths": [int, ...]} (pixels, top to bottom), one per stroke
    width measurement and per refinement pass.
bands: list of {"top": int, "bottom": int, "stroke_width": int}, the text
    bands (inclusive rows) that tile the page, with their stroke width in pixels.)";

const char kEvaluateDoc[] = R"(Scores a binarized page against its ground truth.

result, ground_truth: H×W uint8 arrays of the same shape; 0 is ink, any other
    value paper.

Returns the figures of edgebin-eval --json, under the same keys and in the same
units: "precision", "recall", "f_measure", "pseudo_recall" and
"pseudo_f_measure" in percent (0..100), "psnr" in dB (inf for identical
images) and "drd" (distance-reciprocal distortion per non-uniform 8×8 block of
the ground truth). Raises TypeError for a dtype other than uint8 and ValueError
for another shape or differing shapes.)";

const char kCheckParametersDoc[] =
    R"(Raises ValueError, with the message binarize() would give, when alpha, k or
rthre is not finite or beyond the library's range; returns None otherwise.

Lets a caller such as a command line refuse a bad setting before any page is read.)";

const char kIsAlreadyBinaryDoc[] =
    R"(True when the grey H×W uint8 `image` holds at most two distinct values.

Such a page is returned by binarize() as a copy instead of being binarized.)";

}  // namespace

PYBIND11_MODULE(_edgebin, m) {
    m.doc() = "Binarization of scanned document pages: ink 0, paper 255.";
    m.attr("__version__") = std::to_string(edgebin::kVersionMajor) + "." +
                            std::to_string(edgebin::kVersionMinor) + "." +
                            std::to_string(edgebin::kVersionPatch);

    noStrokesError = PyErr_NewExceptionWithDoc(
        "edgebin.NoStrokesError",
        "No stroke structure was found on the page, at the global threshold nor at its "
        "half (a blank or nearly blank page). The attribute `trace` holds the trace of "
        "the run, as binarize_with_trace() returns it.",
        PyExc_RuntimeError, nullptr);
    if (noStrokesError == nullptr) {
        throw py::error_already_set();
    }
    m.attr("NoStrokesError") = py::reinterpret_steal<py::object>(noStrokesError);

    const edgebin::Parameters defaults;
    m.def("binarize", &Binarize, kBinarizeDoc, py::arg("image"), py::kw_only(),
          py::arg("alpha") = defaults.alpha, py::arg("k") = defaults.k,
          py::arg("rthre") = defaults.rthre, py::arg("color") = "bgr");
    m.def("binarize_with_trace", &BinarizeWithTrace, kBinarizeWithTraceDoc, py::arg("image"),
          py::kw_only(), py::arg("alpha") = defaults.alpha, py::arg("k") = defaults.k,
          py::arg("rthre") = defaults.rthre, py::arg("color") = "bgr");
    m.def("evaluate", &Evaluate, kEvaluateDoc, py::arg("result"), py::arg("ground_truth"));
    m.def("check_parameters", &CheckParameters, kCheckParametersDoc, py::kw_only(),
          py::arg("alpha") = defaults.alpha, py::arg("k") = defaults.k,
          py::arg("rthre") = defaults.rthre);
    m.def("is_already_binary", &IsAlreadyBinary, kIsAlreadyBinaryDoc, py::arg("image"));
}
