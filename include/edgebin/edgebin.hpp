// edgebin: binarization of scanned document pages, as a library.
//
//     #include <edgebin/edgebin.hpp>
//
//     cv::Mat page = cv::imread("page.png", cv::IMREAD_COLOR);
//     edgebin::Result result = edgebin::Binarize(page);
//     if (result.status == edgebin::kStatusOk) cv::imwrite("page_bin.png", result.image);
//
// The page is flattened, a gradient map is thresholded at a level chosen from a
// curve of mean contour length, the stroke width is measured band by band along the
// text lines, the edge mask is cleaned with windows scaled by that width, and every
// remaining edge pixel votes ink or paper over a local window.
//
// Errors: Binarize never throws for a bad image or bad parameters; it reports them
// in Result::status and Result::message. Only a failed allocation (std::bad_alloc)
// or an internal OpenCV failure (cv::Exception) can escape. Nothing is printed.
//
// Threads: no global or static mutable state. Calls from several threads at once,
// on different pages, give exactly the results of sequential calls. One call
// starts Parameters::threads - 1 threads of its own and ends them before it returns.
#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

namespace edgebin {

// Version of the library, also in the CMake package and edgebin.pc.
constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionPatch = 0;

// Result::status values.
constexpr int kStatusOk = 0;                 // image holds the result
constexpr int kStatusNoStrokes = -1;         // no stroke structure found on the page
constexpr int kStatusInvalidParameter = 2;   // a parameter is not finite or out of range
constexpr int kStatusEmptyImage = 11;        // the image has no rows or no columns
constexpr int kStatusUnsupportedImage = 12;  // not 8-bit unsigned, or not 1 or 3 channels

// Largest magnitudes accepted for the parameters: beyond them windows and
// thresholds leave the integer range, and no sensible setting comes near them.
constexpr double kMaxAbsAlpha = 1.0e4;
constexpr double kMaxAbsK = 1.0e6;
constexpr double kMaxAbsRthre = 1.0e6;
// Most threads one page may be split over.
constexpr int kMaxThreads = 1024;
// Largest resolution, dots per inch, accepted for Parameters::resolution and
// workingResolution; no scanner comes within a factor of ten of it.
constexpr double kMaxResolution = 1.0e5;
// A page is rescaled to the working resolution only from this many times it on:
// below, the shrink would lose more detail than the defaults' fit would gain.
constexpr double kMinRescaleFactor = 1.5;

// Which way round the page's grey levels are. kLightInk pages (light writing on a
// dark ground, as film scanners deliver negatives) are inverted, 255 - v, before
// the binarization, so that every result has ink 0 on paper 255. kAuto tells the
// two apart from the page itself and keeps the page as it is when unsure.
enum class Polarity { kAuto, kDarkInk, kLightInk };

// "auto", "dark-ink" or "light-ink", as the command line spells them.
const char* PolarityName(Polarity polarity);

// Reads a name that PolarityName gives; false for any other text.
bool ParsePolarity(const std::string& name, Polarity& polarity);

// Tuning of the binarization; the defaults suit pages of about 300 dpi.
struct Parameters {
    // Window scale of the local vote: each edge pixel votes over a square of side
    // about alpha × the stroke width of its row (three times that for edge pixels
    // restored after suppression). Finite, |alpha| <= 1e4.
    double alpha = 2.0;
    // Weight of the deviation in the local threshold mean + k × deviation of the
    // grey values of the edge pixels in the window. Finite, |k| <= 1e6.
    double k = 0.6;
    // Share of the page (0..1) that pixels between two contour-curve peaks must
    // cover, not touching stronger edges, for the higher peak to become the global
    // threshold; otherwise the lower one is used. Finite, |rthre| <= 1e6.
    double rthre = 0.05;
    // Polarity of the page; see Polarity. kAuto inverted no positive page in the
    // measurements (tools/evaluation/polarity_check.py) and takes about 0.6 % of a run's time
    // at 4 megapixels. A page with at most two grey values is copied inverted under
    // kLightInk and as it is otherwise.
    Polarity polarity = Polarity::kAuto;
    // Threads one page is split over, in bands of rows; 1 <= threads <= 1024. The
    // result is the same for every count. The default, 1, suits batches of pages
    // run one page per core; a single large page finishes sooner with more.
    int threads = 1;
    // Resolution of the page, dots per inch, as the file declares it; 0 (the
    // default) when unknown. Finite, 0 <= resolution <= 1e5.
    double resolution = 0.0;
    // Resolution the defaults suit; 0 never rescales. When resolution is at least
    // 1.5 × workingResolution, the page is shrunk (area interpolation) by
    // resolution / workingResolution, binarized there and the result brought back
    // to the input's size by nearest neighbour. The shared pages upscaled to 600
    // dpi scored mean F 88.9 binarized as they are, 91.6 so (91.5 at their own
    // size). Finite, 0 <= workingResolution <= 1e5.
    double workingResolution = 300.0;
};

// One stroke-width measurement of an edge mask.
struct StrokeMeasurement {
    // The mask held no edge pixel at all (the command line prints "empty block").
    bool emptyMask = false;
    // Width of each text band after smoothing and merging, top to bottom, in pixels.
    // Empty when the mask could not be measured band by band.
    std::vector<int> bandStrokeWidths;
};

// A horizontal strip of the page, rows top..bottom inclusive, with one stroke width.
struct TextBand {
    int top = 0;
    int bottom = 0;
    int strokeWidth = 0;  // pixels, at least 1
};

// Why the global level differs from the one the contour curve's ratio chose.
enum class Mend { kNone, kNoText, kFaintWriting, kNoiseFloor, kPaperTakenIn };

// "none", "no text", "faint writing", "noise floor" or "paper taken in", as the batch
// report and Python write it.
const char* MendName(Mend mend);

// What the binarization decided on the way, everything the command line reports.
// When the page was rescaled (workingScale > 1), the levels, stroke widths and
// bands below are those of the shrunk working page, not of the input.
struct Trace {
    // How many times the page was shrunk before the binarization (see
    // Parameters::workingResolution); 1 when it was binarized at its own size.
    double workingScale = 1.0;
    // No stroke structure was found at the page's own size, and the page was
    // binarized shrunk to half of it instead (workingScale 2; the page is suspect).
    bool shrunkForStrokes = false;
    // The input held at most two grey values and was returned as a copy; nothing
    // below is set then.
    bool copiedInput = false;
    // Level of the contour curve's main peak on the 8-bit gradient map, 0..254;
    // -1 when the run ended before the global stage.
    int mainPeak = -1;
    // Level of the second peak, 0..254, or -1 when the curve has none.
    int secondPeak = -1;
    // Share of the page (0..1) taken by pixels between the two peaks that touch no
    // stronger edge; -1 without a second peak.
    double ratio = -1.0;
    // Global threshold on the 8-bit gradient map: edges are the pixels above it.
    int finalThreshold = -1;
    // The level the curve's peaks chose when another became finalThreshold, for the
    // reason in `mend`; -1 otherwise.
    int mendedFrom = -1;
    // Why: kNoText, the higher of two peaks kept no text (nothing stroke-like, under
    // a tenth of the ink a plain Otsu threshold finds, or, a second peak above the
    // main one, under 30 % of it with over a fifth of the page's clear edges away
    // from its ink) and the lower was used;
    // kFaintWriting, the ink only the lower peak finds stands out from the paper far
    // more than the paper varies, as faded writing does and show-through does not;
    // kNoiseFloor, the only peak lay in the gradient map's noise and left over one
    // and a half times Otsu's ink, so the curve's strongest candidate peak above it
    // was used (secondPeak); kPaperTakenIn, the lower of two peaks, or a curve's only
    // peak, left ink over 15 % of the page whose grey lies near the paper's or over a
    // quarter of it in the page's dark surround, and the higher peak (secondPeak;
    // without a peak above the only one, or in the surround's case, the level half as
    // high again, raised step by step while it still took in paper, secondPeak -1),
    // leaving a fifth less ink or more, was used. kNone when the level is the peaks'
    // own choice.
    Mend mend = Mend::kNone;
    // Half of finalThreshold, used when nothing stroke-like was measured at the
    // final threshold but something was at its half; -1 otherwise.
    int reassignedThreshold = -1;
    // The curve's strongest peak below the level the peaks chose, parted from it by
    // a deep valley, where faded writing can make a peak of its own; -1 when there
    // is none. The faint-writing mend tries it.
    int lowerPeak = -1;
    // When the curve has one peak: its strongest peak above it (one that does not sit
    // on a slope); -1 otherwise. The noise-floor mend and the mend for paper taken in
    // try it.
    int peakAbove = -1;
    // The curve's only peak rises straight from the counts of the first levels, where
    // the gradient map's noise lies, and peakAbove is set.
    bool mainPeakInNoise = false;
    // The result with the enhancement's own choice of ink deepening (left out where
    // most of the ink lies in wide stroke cores) was almost empty, and the page was
    // run again with the other choice, whose result had ink and was kept.
    bool otherInkDeepening = false;
    // The measurement at finalThreshold, then the one at its half if that ran.
    std::vector<StrokeMeasurement> measurements;
    // One measurement per pass of the refinement loop (1 to 11 passes).
    std::vector<StrokeMeasurement> refinementPasses;
    // The stroke description the local stages used: bands tiling the page.
    std::vector<TextBand> bands;
    // The page's self-check of its result, made without ground truth on every
    // binarized page: true ("suspect") when the result should be looked at, for
    // the reasons listed, in short English phrases; false ("ok") otherwise.
    bool suspect = false;
    std::vector<std::string> suspectReasons;
    // The polarity the page was binarized with: kLightInk when it was inverted
    // first (asked for, or so detected under kAuto), kDarkInk otherwise.
    Polarity polarity = Polarity::kDarkInk;
    // Under kAuto, what the detector measured on the grey page (-1..1): how much
    // darker than their surroundings the thin structures at its strongest edges
    // are, +1 for dark ink, -1 for light ink. The page of 255 - v measures exactly
    // the opposite. Empty when the polarity was given or the page was copied.
    std::optional<double> polarityEvidence;
};

struct Result {
    // kStatusOk, or one of the other kStatus values above.
    int status = kStatusOk;
    // Why the run failed, in one sentence; empty on success.
    std::string message;
    // CV_8UC1 of the input's size: 0 ink, 255 paper (a two-level input comes back
    // as a grey copy with its own two values). Empty on failure.
    cv::Mat image;
    Trace trace;
};

// Binarizes one page. `image`: 8-bit unsigned, one channel (grey) or three (BGR,
// as cv::imread delivers them; converted with cv::COLOR_BGR2GRAY); views and
// non-continuous images are fine. An image with at most two distinct grey values
// is returned as a copy of its grey version (Trace::copiedInput), inverted under
// Polarity::kLightInk; kAuto never inverts such a copy. Anything else
// gives a non-zero status with an empty image; see the kStatus values.
Result Binarize(const cv::Mat& image, const Parameters& parameters = {});

// True when `grey` (CV_8UC1) holds at most two distinct values; such a page is
// copied rather than binarized. Throws cv::Exception for another type.
bool IsAlreadyBinary(const cv::Mat& grey);

// Checks `parameters` against the ranges above; on failure returns false and says
// which value is wrong in `message`.
bool CheckParameters(const Parameters& parameters, std::string& message);

}  // namespace edgebin
