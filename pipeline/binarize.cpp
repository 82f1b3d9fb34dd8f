#include "pipeline/binarize.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "common/direction_maps.h"
#include "common/small_components.h"
#include "global/global_threshold.h"
#include "local/local_threshold.h"
#include "local/refine_edge_mask.h"
#include "pipeline/faint_ink.h"
#include "pipeline/self_check.h"
#include "stroke/stroke_width.h"

namespace edgebin::detail {

namespace {

// Fixed settings of the refinement and clean-up stages.
constexpr int kRefineMode = 2;
constexpr double kNearScale = 6.0;
constexpr double kDominanceRatio = 0.75;
constexpr double kSpeckFactor = 1.0;

// Keeps the log of an ink share finite on a blank result.
constexpr double kInkEpsilon = 1e-4;
// Where the lower peak was the right one, the ink it added stood 4.7 to 16.5 paper
// spreads below the paper around it on generated faded pages, 8.3 and 12.4 on real
// ones; where the higher was right (show-through, stains, texture), at most 5.7 and
// mostly under 3.1. The limit sits above all of the latter.
constexpr double kFaintWritingContrast = 6.0;

std::vector<TextBand> DescribeBands(const std::vector<LineBand>& lineBands,
                                    const std::vector<int>& bandStrokeWidths) {
    std::vector<TextBand> bands;
    for (size_t i = 0; i < lineBands.size() && i < bandStrokeWidths.size(); ++i) {
        bands.push_back(TextBand{lineBands[i].top, lineBands[i].bottom, bandStrokeWidths[i]});
    }
    return bands;
}

// Runs every stage once, at the level the peak choice takes with `Rthre`.
int RunStages(const cv::Mat& src, cv::Mat& dst, double alpha, double k, double Rthre, Trace& trace,
              StageImages* stages, int threads) {
    if (src.cols == 0) {
        return kStatusNoRowsOrColumns;
    }

    cv::Mat gray;
    cv::Mat gradX;
    cv::Mat gradY;
    cv::Mat edgeMask;
    std::vector<LineBand> lineBands;
    std::vector<int> bandStrokeWidths;
    std::vector<int> rowStrokeWidths;
    const int status =
        EstimateGlobalThreshold(src, gray, gradX, gradY, edgeMask, lineBands, bandStrokeWidths,
                                rowStrokeWidths, Rthre, trace, stages, threads);
    if (stages != nullptr) {
        stages->edgeMask = edgeMask;
    }
    if (status != kStatusOk) {
        return status;
    }
    trace.bands = DescribeBands(lineBands, bandStrokeWidths);

    // The later stages change the edge mask; a copy is taken only when the caller
    // keeps the global one. Each image is let go once consumed, so that a large page
    // never holds the direction maps, the derivatives and the votes at once.
    cv::Mat edgeMaskCopy = stages != nullptr ? edgeMask.clone() : edgeMask;
    edgeMask.release();
    // The direction maps as a list: nine bytes a pixel would make them the largest
    // images of the run.
    DirectionList directions;
    ListDirections(gradX, gradY, edgeMaskCopy, directions, threads);
    gradX.release();
    gradY.release();

    cv::Mat restoredMap;
    RefineEdgeMask(edgeMaskCopy, restoredMap, directions, lineBands, bandStrokeWidths,
                   rowStrokeWidths, kRefineMode, kNearScale, kDominanceRatio, threads);
    directions = DirectionList();
    cv::Mat result;
    VoteLocalThreshold(edgeMaskCopy, gray, restoredMap, rowStrokeWidths, result, alpha, k,
                       stages != nullptr ? &stages->balance : nullptr, threads);
    RemoveSmallComponents(edgeMaskCopy, rowStrokeWidths, kSpeckFactor, result);
    if (stages != nullptr) {
        stages->voters = edgeMaskCopy;
        stages->restoredMap = restoredMap;
    }
    dst = result;
    return kStatusOk;
}

double InkDistance(double ink, double reference) {
    return std::fabs(std::log((ink + kInkEpsilon) / (reference + kInkEpsilon)));
}

// `higher` is empty when the higher peak measured nothing stroke-like; its text
// bands measured strokes `strokeWidth` wide.
Mend ChooseMend(const cv::Mat& grey, const cv::Mat& higher, const cv::Mat& lower, int strokeWidth) {
    const double reference = OtsuInkShare(grey);
    const double ink = higher.empty() ? 0.0 : InkShare(higher);
    // The collapsed pages seen keep under 1 % of Otsu's ink; sound ones 29 % or more.
    if (HasLostItsInk(ink, reference) && IsPlausibleInk(grey, lower, reference) &&
        InkDistance(InkShare(lower), reference) < InkDistance(ink, reference)) {
        return Mend::kNoText;
    }
    // Faded writing fails the plausibility test: Otsu misses it, and its grey lies
    // near the paper's. It is told by its contrast instead.
    if (higher.empty()) {
        return Mend::kNone;
    }
    return AddedInkContrast(grey, higher, lower, strokeWidth) >= kFaintWritingContrast
               ? Mend::kFaintWriting
               : Mend::kNone;
}

}  // namespace

int BinarizeImage(const cv::Mat& src, cv::Mat& dst, double alpha, double k, double Rthre,
                  Trace& trace, StageImages* stages, int threads) {
    const int status = RunStages(src, dst, alpha, k, Rthre, trace, stages, threads);
    if ((status != kStatusOk && status != kStatusNoStrokes) || !TookHigherPeak(trace)) {
        return status;
    }
    // The higher peak rejects weak edges away from strong ones: show-through,
    // stains, texture, but also faded writing. So the lower peak is run too, and
    // kept when the higher kept no text (nothing stroke-like, or a few strong
    // strokes without the text around them) and the lower's ink is plausible and
    // nearer to what a plain global threshold finds; or when the ink only the lower
    // finds stands out from the paper as writing does.
    cv::Mat grey = src;
    if (src.channels() == 3) {
        cv::cvtColor(src, grey, cv::COLOR_BGR2GRAY);
    }
    cv::Mat lower;
    Trace lowerTrace;
    StageImages lowerStages;
    const double alwaysLower = std::numeric_limits<double>::max();
    if (RunStages(src, lower, alpha, k, alwaysLower, lowerTrace,
                  stages != nullptr ? &lowerStages : nullptr, threads) != kStatusOk) {
        return status;
    }
    const Mend mend = ChooseMend(grey, status == kStatusOk ? dst : cv::Mat(), lower,
                                 MedianStrokeWidth(trace.bands));
    if (mend == Mend::kNone) {
        return status;
    }
    lowerTrace.mendedFrom = trace.finalThreshold;
    lowerTrace.mend = mend;
    trace = std::move(lowerTrace);
    dst = lower;
    if (stages != nullptr) {
        *stages = std::move(lowerStages);
    }
    return kStatusOk;
}

}  // namespace edgebin::detail
