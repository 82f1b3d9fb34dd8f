// edgebin._edgebin: the library for Python, numpy pages in and numpy pages out.
//
// Checks and conversions run with the GIL held; the binarization, the scoring
// and the file functions run without it, so that threads of one process binarize
// pages in parallel.
#include <leptonica/allheaders.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/arguments.h"
#include "app/batch.h"
#include "app/huge_page_allocator.h"
#include "app/image_output.h"
#include "edgebin/edgebin.hpp"
#include "tools/evaluation/metrics.h"

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
                    py::arg("working_scale") = trace.workingScale,
                    py::arg("shrunk_for_strokes") = trace.shrunkForStrokes,
                    py::arg("main_peak") = Optional(trace.mainPeak),
                    py::arg("second_peak") = Optional(trace.secondPeak),
                    py::arg("ratio") = Optional(trace.ratio),
                    py::arg("final_threshold") = Optional(trace.finalThreshold),
                    py::arg("reassigned_threshold") = Optional(trace.reassignedThreshold),
                    py::arg("mended_from") = Optional(trace.mendedFrom),
                    py::arg("mend") = trace.mend == edgebin::Mend::kNone
                                          ? py::object(py::none())
                                          : py::object(py::str(edgebin::MendName(trace.mend))),
                    py::arg("other_ink_deepening") = trace.otherInkDeepening,
                    py::arg("measurements") = MeasurementsToList(trace.measurements),
                    py::arg("refinement_passes") = MeasurementsToList(trace.refinementPasses),
                    py::arg("bands") = bands, py::arg("verdict") = trace.suspect ? "suspect" : "ok",
                    py::arg("suspect_reasons") = py::cast(trace.suspectReasons),
                    py::arg("polarity") = edgebin::PolarityName(trace.polarity),
                    py::arg("polarity_evidence") = py::cast(trace.polarityEvidence));
}

// The command line's --polarity values.
edgebin::Polarity ReadPolarity(const std::string& name) {
    edgebin::Polarity polarity = edgebin::Polarity::kDarkInk;
    if (!edgebin::ParsePolarity(name, polarity)) {
        throw py::value_error("polarity must be \"auto\", \"dark-ink\" or \"light-ink\", not \"" +
                              name + "\"");
    }
    return polarity;
}

[[noreturn]] void RaiseNoStrokes(const edgebin::Result& result) {
    // The trace says how far the run got, which is what one wants to look at then.
    py::object error = py::reinterpret_borrow<py::object>(noStrokesError)(result.message);
    error.attr("trace") = TraceToDict(result.trace);
    PyErr_SetObject(noStrokesError, error.ptr());
    throw py::error_already_set();
}

edgebin::Result RunBinarize(py::array image, double alpha, double k, double rthre, int threads,
                            const std::string& color, const std::string& polarity,
                            double resolution, double workingResolution) {
    if (color != "bgr" && color != "rgb") {
        throw py::value_error("color must be \"bgr\" or \"rgb\", not \"" + color + "\"");
    }
    const PageView page = ViewPage(std::move(image), "image", true);
    edgebin::Parameters parameters{alpha, k, rthre};
    parameters.polarity = ReadPolarity(polarity);
    parameters.threads = threads;
    parameters.resolution = resolution;
    parameters.workingResolution = workingResolution;
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

py::array Binarize(py::array image, double alpha, double k, double rthre, int threads,
                   const std::string& color, const std::string& polarity, double resolution,
                   double workingResolution) {
    return ToArray(RunBinarize(std::move(image), alpha, k, rthre, threads, color, polarity,
                               resolution, workingResolution)
                       .image);
}

py::tuple BinarizeWithTrace(py::array image, double alpha, double k, double rthre, int threads,
                            const std::string& color, const std::string& polarity,
                            double resolution, double workingResolution) {
    edgebin::Result result = RunBinarize(std::move(image), alpha, k, rthre, threads, color,
                                         polarity, resolution, workingResolution);
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

void CheckParameters(double alpha, double k, double rthre, int threads, double resolution,
                     double workingResolution) {
    edgebin::Parameters parameters{alpha, k, rthre};
    parameters.threads = threads;
    parameters.resolution = resolution;
    parameters.workingResolution = workingResolution;
    std::string message;
    if (!edgebin::CheckParameters(parameters, message)) {
        throw py::value_error(message);
    }
}

bool IsAlreadyBinary(py::array image) {
    const PageView page = ViewPage(std::move(image), "image", false);
    py::gil_scoped_release release;
    return edgebin::IsAlreadyBinary(page.mat);
}

// The settings of a batch, as the command line's options would give them.
edgebin::cli::CommandLine BatchLine(double alpha, double k, double rthre,
                                    const std::string& polarity, double workingResolution,
                                    bool bilevel, std::optional<double> dpi, bool skipExisting) {
    edgebin::cli::CommandLine line;
    line.mode = edgebin::cli::Mode::kBatch;
    line.parameters = edgebin::Parameters{alpha, k, rthre, ReadPolarity(polarity)};
    line.parameters.workingResolution = workingResolution;
    std::string message;
    if (!edgebin::CheckParameters(line.parameters, message)) {
        throw py::value_error("invalid " + message);
    }
    // The command line's --dpi range.
    if (dpi && !(*dpi >= 1.0 && *dpi <= 1.0e6)) {
        throw py::value_error("dpi must lie in [1, 1e6], not " + std::to_string(*dpi));
    }
    line.dpi = dpi.value_or(0.0);
    line.bilevel = bilevel;
    line.skipExisting = skipExisting;
    return line;
}

py::list BinarizeFile(const std::filesystem::path& source, const std::filesystem::path& target,
                      double alpha, double k, double rthre, const std::string& polarity,
                      double workingResolution, bool bilevel, std::optional<double> dpi,
                      bool skipExisting) {
    const edgebin::cli::CommandLine line =
        BatchLine(alpha, k, rthre, polarity, workingResolution, bilevel, dpi, skipExisting);
    edgebin::cli::OutputOptions options;
    options.bilevel = bilevel;
    if (!edgebin::cli::CanEncode(target.string(), options)) {
        throw py::value_error("cannot write " + target.string() + ": " +
                              (bilevel ? "1-bit output is written only as .png, .tif, .tiff or .pbm"
                                       : "unknown image format"));
    }
    // Formatted as the report's lines while the trace lives, read back by json
    // below: the records are the command line's, value for value.
    std::vector<std::string> lines;
    edgebin::cli::FileEvents events;
    events.pageDone = [&lines](edgebin::cli::PageRecord& record) {
        lines.push_back(edgebin::cli::PageLine(record).dump(
            -1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    };
    {
        py::gil_scoped_release release;
        edgebin::cli::BinarizeFile(line, source.string(), target.string(), events);
    }
    const py::object loads = py::module_::import("json").attr("loads");
    py::list records;
    for (const std::string& text : lines) {
        records.append(loads(text));
    }
    return records;
}

// A batch worker's process: each of its threads binarizes whole files, as the
// command line's batch workers do, so OpenCV's own threads would only compete
// with them, and large images go to huge pages as there. Once per process.
void UseBatchWorkerSettings() {
    // Static: images allocated through it may outlive any caller.
    static edgebin::cli::HugePageAllocator allocator;
    static const bool done = [] {
        cv::setNumThreads(1);
        cv::Mat::setDefaultAllocator(&allocator);
        return true;
    }();
    static_cast<void>(done);
}

// A file name as os.fsdecode gives it: bytes that are no UTF-8 survive as
// surrogates, so that the name opens the same file again.
py::str FileName(const std::string& name) {
    PyObject* text =
        PyUnicode_DecodeFSDefaultAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (text == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(text);
}

py::list PlanBatch(const std::vector<std::filesystem::path>& inputs,
                   const std::filesystem::path& outDir, const std::string& format, bool bilevel,
                   const std::optional<std::filesystem::path>& fromList, bool skipExisting) {
    if (format != "png" && format != "tif" && format != "pbm") {
        throw py::value_error("format must be \"png\", \"tif\" or \"pbm\", not \"" + format + "\"");
    }
    edgebin::cli::CommandLine line;
    line.mode = edgebin::cli::Mode::kBatch;
    for (const std::filesystem::path& input : inputs) {
        line.positionals.push_back(input.string());
    }
    line.outDir = outDir.string();
    line.format = format;
    line.bilevel = bilevel;
    line.fromList = fromList ? fromList->string() : "";
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string message;
    std::optional<int> status;
    {
        py::gil_scoped_release release;
        std::vector<std::string> found;
        status = edgebin::cli::PlanBatch(line, found, message);
        pairs.reserve(found.size());
        for (const std::string& input : found) {
            std::string output = edgebin::cli::PlannedOutput(line, input);
            std::error_code error;
            if (!skipExisting || !std::filesystem::exists(output, error)) {
                pairs.emplace_back(input, std::move(output));
            }
        }
    }
    if (status == edgebin::cli::kExitWriteFailed) {
        PyErr_SetString(PyExc_OSError, message.c_str());
        throw py::error_already_set();
    }
    if (status) {
        throw py::value_error(message);
    }
    py::list list;
    for (const auto& [input, output] : pairs) {
        list.append(py::make_tuple(FileName(input), FileName(output)));
    }
    return list;
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
threads: bands of rows the page is split over, 1..1024 (default 1); the result
    is the same for every count. More than 1 helps a single large page; a batch
    is better served by one page per core.
color: "bgr" (as OpenCV's imread delivers colour) or "rgb" (as PIL and
    scikit-image do). Ignored for grey images.
polarity: "auto" (told from the page; kept as it is when unsure, and then
    suspect), "dark-ink" (dark writing on light paper) or "light-ink" (light
    writing on a dark page, as in film negatives: the grey page is inverted
    first).
resolution: the page's resolution in dpi, as its file declares it; 0 (the
    default) when unknown. 0 <= resolution <= 1e5.
working_resolution: the resolution the defaults suit (300); 0 never rescales.
    A page whose resolution is at least 1.5 × working_resolution is shrunk
    (area interpolation) to it, binarized there and brought back to its own
    size by nearest neighbour.
    The result has ink 0 whatever the polarity; a page of two grey values is
    copied inverted under "light-ink" and as it is otherwise.

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
working_scale: how many times the page was shrunk to the working resolution
    before the binarization, 1.0 when it was not; the levels and widths below
    are then those of the shrunk page.
shrunk_for_strokes: True when no stroke structure was found at the page's own
    size and it was binarized at half of it (working_scale 2.0).
main_peak, second_peak: levels (0..254) of the contour curve's peaks on the
    8-bit gradient map, or None.
ratio: share of the page (0..1) between the two peaks touching no stronger
    edge, or None without a second peak.
final_threshold: global threshold on the 8-bit gradient map, or None.
reassigned_threshold: half of final_threshold when only that half found
    strokes, else None.
mended_from: the level the curve's peaks chose when another became
    final_threshold; else None.
mend: why, "no text" (the higher of two peaks kept no text, the lower was
    used), "faint writing" (the ink only the lower peak finds stands out from
    the paper as writing does) or "noise floor" (the only peak lay in the
    noise and left far more ink than Otsu; the curve's strongest candidate
    above it, second_peak, was used) or "paper taken in" (the lower of two
    peaks, or the only one, left dense ink near the paper's grey, or with over
    a quarter of it in the page's dark surround; the peak above it,
    second_peak, or without one (or in the surround's case) the level half as
    high again, raised step by step while it still took in paper, was used);
    None when the peaks' choice stands.
other_ink_deepening: True when the result was almost empty and the page's
    run with the enhancement's other choice of ink deepening, which had ink, was
    kept.
measurements, refinement_passes: lists of {"empty_mask": bool,
    "band_stroke_widths": [int, ...]} (pixels, top to bottom), one per stroke
    width measurement and per refinement pass.
bands: list of {"top": int, "bottom": int, "stroke_width": int}, the text
    bands (inclusive rows) that tile the page, with their stroke width in pixels.
verdict: the page's self-check of its result, made without ground truth:
    "ok", or "suspect" when it should be looked at; "ok" for a copied page.
suspect_reasons: why a page is suspect, short English phrases; [] when ok.
polarity: "dark-ink", or "light-ink" when the page was inverted first.
polarity_evidence: under polarity="auto", the detector's measure (-1..1):
    how much darker than their surroundings the thin structures at the page's
    strongest edges are, +1 dark ink, -1 light ink; None otherwise.)";

const char kEvaluateDoc[] = R"(Scores a binarized page against its ground truth.

result, ground_truth: H×W uint8 arrays of the same shape; 0 is ink, any other
    value paper.

Returns the figures of edgebin-eval --json, under the same keys and in the same
units: "precision", "recall", "f_measure", "pseudo_recall" and
"pseudo_f_measure" in percent (0..100), "psnr" in dB (inf for identical
images) and "drd" (distance-reciprocal distortion per non-uniform 8×8 block of
the ground truth). Raises TypeError for a dtype other than uint8 and ValueError
for another shape or differing shapes.)";

const char kBinarizeFileDoc[] =
    R"(Binarizes an image file into `target`, as `edgebin --out-dir` does.

Every page of a multi-page TIFF is binarized: into one multi-page G4 TIFF when
`bilevel` is set and `target` ends in .tif or .tiff, otherwise into numbered
files (out.png gives out-001.png, out-002.png, ...). The target keeps the
resolution of the source unless `dpi` sets one; `bilevel` writes 1 bit per
pixel (.png, .tif, .tiff or .pbm). Missing folders are made, and each file is
written to a temporary file and renamed over its target only once complete.
With `skip_existing` a target that exists is kept. A page whose file declares
1.5 times `working_resolution` or more is binarized at that resolution, as
`edgebin --working-dpi` does; 0 never rescales.

Returns the report records of `edgebin --report`, one dict per page worked on
(none when the target was kept): input, page, pages, output (None when nothing
was written), status ("ok" or "failed"), message, width, height, resolution,
seconds, copied_input, polarity, thresholds and stroke_widths. A page that cannot be read,
binarized or written gives a record with status "failed", not an exception.
Raises ValueError for a bad parameter or a target format that cannot hold the
result. The GIL is released while the file is processed.)";

const char kPlanBatchDoc[] = R"(The (source, target) pairs of `edgebin --out-dir OUT_DIR INPUTS`.

Each input is an image file, or a folder searched recursively for image files
(sorted; hidden entries and `out_dir` left out); `from_list` names a file of
further input paths, one per line ("-" for standard input). Each target is
OUT_DIR/<input path as given> with the extension of `format` ("png", "tif" or
"pbm"); with `bilevel` and "tif" a multi-page TIFF gives one target, otherwise
binarize_file numbers its pages. With `skip_existing` inputs whose target exists
are left out. `out_dir` is created.

Raises ValueError, before any work, for no input, a folder that cannot be
searched, two inputs that would write the same target or a path above the
working folder; OSError when `out_dir` cannot be created.)";

const char kCheckParametersDoc[] =
    R"(Raises ValueError, with the message binarize() would give, when alpha, k or
rthre is not finite or beyond the library's range, threads lies outside
1..1024, or resolution or working_resolution lies outside 0..1e5; returns None
otherwise.

Lets a caller such as a command line refuse a bad setting before any page is read.)";

const char kIsAlreadyBinaryDoc[] =
    R"(True when the grey H×W uint8 `image` holds at most two distinct values.

Such a page is returned by binarize() as a copy instead of being binarized.)";

}  // namespace

PYBIND11_MODULE(_edgebin, m) {
    m.doc() = "Binarization of scanned document pages: ink 0, paper 255.";
    // Leptonica would print its own lines about files it cannot read; the records
    // of binarize_file say what went wrong, as the command line does.
    setMsgSeverity(L_SEVERITY_NONE);
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
    const char* const defaultPolarity = edgebin::PolarityName(defaults.polarity);
    m.def("binarize", &Binarize, kBinarizeDoc, py::arg("image"), py::kw_only(),
          py::arg("alpha") = defaults.alpha, py::arg("k") = defaults.k,
          py::arg("rthre") = defaults.rthre, py::arg("threads") = defaults.threads,
          py::arg("color") = "bgr", py::arg("polarity") = defaultPolarity,
          py::arg("resolution") = defaults.resolution,
          py::arg("working_resolution") = defaults.workingResolution);
    m.def("binarize_with_trace", &BinarizeWithTrace, kBinarizeWithTraceDoc, py::arg("image"),
          py::kw_only(), py::arg("alpha") = defaults.alpha, py::arg("k") = defaults.k,
          py::arg("rthre") = defaults.rthre, py::arg("threads") = defaults.threads,
          py::arg("color") = "bgr", py::arg("polarity") = defaultPolarity,
          py::arg("resolution") = defaults.resolution,
          py::arg("working_resolution") = defaults.workingResolution);
    m.def("evaluate", &Evaluate, kEvaluateDoc, py::arg("result"), py::arg("ground_truth"));
    m.def("check_parameters", &CheckParameters, kCheckParametersDoc, py::kw_only(),
          py::arg("alpha") = defaults.alpha, py::arg("k") = defaults.k,
          py::arg("rthre") = defaults.rthre, py::arg("threads") = defaults.threads,
          py::arg("resolution") = defaults.resolution,
          py::arg("working_resolution") = defaults.workingResolution);
    m.def("is_already_binary", &IsAlreadyBinary, kIsAlreadyBinaryDoc, py::arg("image"));
    m.def("binarize_file", &BinarizeFile, kBinarizeFileDoc, py::arg("source"), py::arg("target"),
          py::kw_only(), py::arg("alpha") = defaults.alpha, py::arg("k") = defaults.k,
          py::arg("rthre") = defaults.rthre, py::arg("polarity") = defaultPolarity,
          py::arg("working_resolution") = defaults.workingResolution, py::arg("bilevel") = false,
          py::arg("dpi") = py::none(), py::arg("skip_existing") = false);
    m.def("_use_batch_worker_settings", &UseBatchWorkerSettings,
          "For a process that binarizes whole files on each of its threads, as edgebin.dask's "
          "workers do: one OpenCV thread per caller and huge pages for large images, as in "
          "`edgebin --out-dir`.");
    m.def("plan_batch", &PlanBatch, kPlanBatchDoc, py::arg("inputs"), py::arg("out_dir"),
          py::kw_only(), py::arg("format") = "png", py::arg("bilevel") = false,
          py::arg("from_list") = py::none(), py::arg("skip_existing") = false);
}
