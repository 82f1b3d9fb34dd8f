// First stage of the binarization: the global edge mask and its stroke description.
#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <vector>

#include "global/contour_curve.h"
#include "global/enhance.h"
#include "global/peak_threshold.h"
#include "stroke/stroke_width.h"

namespace edgebin::detail {

// Status codes of EstimateGlobalThreshold (and of the driver).
constexpr int kStatusNoRowsOrColumns = kStatusEmptyImage;
constexpr int kStatusBadChannels = kStatusUnsupportedImage;

// The global stage's working images, kept for inspection when asked for.
struct GlobalStageImages {
    // Set by measurement tools before the run: an 8-bit page of the input's size
    // used in place of the page enhancement, to see what another one would give.
    cv::Mat enhancedInstead;
    cv::Mat enhanced;  // the enhanced page, 8-bit
    cv::Mat gradMap;   // the 8-bit gradient map the threshold is chosen on
};

// What the global stage makes of a page before it takes a level. The enhancement,
// the gradient map and the contour curve do not depend on the level, so a call
// that runs the stages at a second level makes them once.
struct PreparedPage {
    cv::Mat gray;              // the page in grey
    cv::Mat enhanced;          // the enhanced page, which the derivatives are taken of
    cv::Mat gradMap;           // the 8-bit gradient map the level is chosen on
    bool inkDeepened = false;  // whether the enhancement deepened the ink
    ContourCurve curve{};
    // The Scharr derivatives of the enhanced page, left for the first run, which
    // takes them over. A later run filters the enhanced page again rather than
    // the call keep four more bytes a pixel throughout.
    cv::Mat gradX;
    cv::Mat gradY;
};

// From the 8-bit `src` (1 or 3 channels): every image of `page`. Returns 0, 11 (no
// rows) or 12 (channels). An 8-bit page in `images->enhancedInstead` stands for
// the enhancement when given (undeepened, as far as the page knows); otherwise the
// enhancement deepens the ink as `deepening` says.
int PreparePage(const cv::Mat& src, PreparedPage& page, GlobalStageImages* images = nullptr,
                int threads = 1, InkDeepening deepening = InkDeepening::kUnlessWideCores);

// How a run uses the prepared page.
enum class PageUse {
    kShare,     // it only reads the page: another run may follow
    kTakeOver,  // the call's last run: the page's images lend it their memory
};

// From a prepared page: the Scharr derivatives of the enhanced page, the
// thresholded `edgeMask` and its refined stroke description. Under kTakeOver the
// enhanced page becomes the edge mask (unless `images` keeps it) and the caller may
// take the gradient map over once this returns.
// The level is taken from the contour curve's peaks as `choice` says. Returns 0 or
// -1 (no stroke structure at the chosen threshold nor at half of it). The peaks,
// thresholds and every measurement go to `trace`; the working images to `images`
// when given; `cleanedMask`, when given, is set as RefineStrokeDescription sets it
// (emptied when the call returns early).
int EstimateGlobalThreshold(PreparedPage& page, PageUse use, cv::Mat& gradX, cv::Mat& gradY,
                            cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                            std::vector<int>& bandStrokeWidths, std::vector<int>& rowStrokeWidths,
                            const PeakChoice& choice, Trace& trace,
                            GlobalStageImages* images = nullptr, int threads = 1,
                            cv::Mat* cleanedMask = nullptr);

// A stroke measurement with the contract of EstimateStrokeWidth: fills the three
// (emptied) lists from the mask and returns the modal ratio. The stage uses
// EstimateStrokeWidth; tests substitute scripted measurements.
using StrokeMeasure =
    std::function<double(const cv::Mat&, std::vector<LineBand>&, std::vector<int>&,
                         std::vector<int>&, StrokeMeasurement*)>;

// EstimateStrokeWidth over `threads` threads, as a StrokeMeasure; `gray`, when
// given, is the page under the masks it will measure.
StrokeMeasure StrokeMeasureOnThreads(int threads, const cv::Mat& gray = cv::Mat());

// Measures `edgeMask` (gradMap > threshold, already written by the caller), which
// the measurement only reads. When nothing is measured, rethresholds `edgeMask` at
// threshold / 2 and measures again. Returns 0, or -1 when the second measurement
// finds nothing either. Each measurement is appended to trace.measurements; a
// successful second one sets trace.reassignedThreshold.
int MeasureStrokeDescription(const cv::Mat& gradMap, int threshold, cv::Mat& edgeMask,
                             std::vector<LineBand>& lineBands, std::vector<int>& bandStrokeWidths,
                             std::vector<int>& rowStrokeWidths, const StrokeMeasure& measure,
                             Trace& trace);

// The component factor with which the stroke description's passes clean the mask.
constexpr double kDescriptionCleaningFactor = 0.6;

// Alternates cleaning a fresh copy of `edgeMask` with the current description
// (CleanStrokeMap, component factor kDescriptionCleaningFactor) and measuring it,
// until the band widths repeat, alternate between two results, or 11 passes have
// run. A pass that measures no complete description ends the loop with the current
// one kept, so the description always covers every row. Each pass's measurement is
// appended to `passReports`. Precondition: the given description is complete.
// `threads` (>= 1) share the cleaning; the result does not depend on their number.
// When given, `cleanedMask` receives the last pass's copy if that pass cleaned it
// with the description returned (as it does when the loop settles), else it is
// emptied: a later stage that cleans the mask with that description can take it.
void RefineStrokeDescription(const cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                             std::vector<int>& bandStrokeWidths, std::vector<int>& rowStrokeWidths,
                             const StrokeMeasure& measure,
                             std::vector<StrokeMeasurement>& passReports, int threads = 1,
                             cv::Mat* cleanedMask = nullptr);

}  // namespace edgebin::detail
