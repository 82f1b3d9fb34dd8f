// Preconditions: BeginRun gets an 8-bit one-channel page; RunStage is called with
// the stages in their declared order.
#include "bench/staged_pipeline.h"

#include <iostream>
#include <opencv2/imgproc.hpp>

#include "common/direction_maps.h"
#include "common/small_components.h"
#include "global/contour_peaks.h"
#include "global/enhance.h"
#include "global/global_threshold.h"
#include "global/gradient_map.h"
#include "global/peak_threshold.h"
#include "local/local_threshold.h"
#include "local/refine_edge_mask.h"

using namespace edgebin::detail;

namespace {

// The global stage's fixed enhancement settings and the driver's fixed settings of
// the later stages. The end-to-end benchmark compares the staged result with
// BinarizeImage, so a drift here shows up as a mismatch.
constexpr int kEnhanceWindow = 60;
constexpr double kEnhanceWeight = 0.2;
constexpr int kRefineMode = 2;
constexpr double kNearScale = 6.0;
constexpr double kDominanceRatio = 0.75;
constexpr double kSpeckFactor = 1.0;

void SelectThreshold(const TuningParameters& parameters, StagedRun& run) {
    bool hasSecond = false;
    int mainPeak = 0;
    int secondPeak = 0;
    FindCurvePeaks(run.contourCurve, hasSecond, mainPeak, secondPeak);
    run.threshold =
        ChoosePeakLevel(run.gradMap, hasSecond, mainPeak, secondPeak, parameters.rthre, run.trace);
    cv::threshold(run.gradMap, run.edgeMask, run.threshold, 255, cv::THRESH_BINARY);
}

void MeasureStrokes(StagedRun& run) {
    // The stages are timed on one thread.
    const StrokeMeasure measure = StrokeMeasureOnThreads(1, run.gray);
    run.status =
        MeasureStrokeDescription(run.gradMap, run.threshold, run.edgeMask, run.lineBands,
                                 run.bandStrokeWidths, run.rowStrokeWidths, measure, run.trace);
    if (run.status == edgebin::kStatusOk) {
        RefineStrokeDescription(run.edgeMask, run.lineBands, run.bandStrokeWidths,
                                run.rowStrokeWidths, measure, run.trace.refinementPasses);
    }
}

void BuildDirections(StagedRun& run) {
    run.edgeMaskCopy = run.edgeMask.clone();
    ListDirections(run.gradX, run.gradY, run.edgeMaskCopy, run.directions);
}

}  // namespace

const char* StageName(Stage stage) {
    switch (stage) {
        case Stage::kEnhance:
            return "enhance";
        case Stage::kGradient:
            return "gradient";
        case Stage::kCurve:
            return "curve";
        case Stage::kPeaks:
            return "peaks";
        case Stage::kStroke:
            return "stroke";
        case Stage::kDirections:
            return "dirmaps";
        case Stage::kRefine:
            return "refine";
        case Stage::kVote:
            return "vote";
        case Stage::kSpecks:
            return "specks";
    }
    return "?";
}

void BeginRun(const cv::Mat& gray, StagedRun& run) {
    CV_Assert(gray.type() == CV_8UC1);
    run = StagedRun();
    run.gray = gray;
}

void RunStage(Stage stage, const TuningParameters& parameters, StagedRun& run) {
    if (run.status != edgebin::kStatusOk) {
        return;
    }
    switch (stage) {
        case Stage::kEnhance:
            EnhancePage(run.gray, kEnhanceWindow, kEnhanceWeight, run.enhanced, run.background);
            break;
        case Stage::kGradient:
            ComputeGradientMap(run.enhanced, run.gradX, run.gradY, run.gradMap);
            break;
        case Stage::kCurve:
            BuildContourCurve(run.gradMap, run.contourCurve);
            break;
        case Stage::kPeaks:
            SelectThreshold(parameters, run);
            break;
        case Stage::kStroke:
            MeasureStrokes(run);
            break;
        case Stage::kDirections:
            BuildDirections(run);
            break;
        case Stage::kRefine:
            RefineEdgeMask(run.edgeMaskCopy, run.restoredMap, run.directions, run.lineBands,
                           run.bandStrokeWidths, run.rowStrokeWidths, kRefineMode, kNearScale,
                           kDominanceRatio);
            break;
        case Stage::kVote:
            VoteLocalThreshold(run.edgeMaskCopy, run.gray, run.restoredMap, run.rowStrokeWidths,
                               run.dst, parameters.alpha, parameters.k);
            break;
        case Stage::kSpecks:
            RemoveSmallComponents(run.edgeMaskCopy, run.rowStrokeWidths, kSpeckFactor, run.dst);
            break;
    }
}
