// The driver's run cut at its stage boundaries, so that each stage can be timed on
// its own while the stages still see exactly the data the driver would give them.
#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <vector>

#include "common/direction_maps.h"
#include "edgebin/edgebin.hpp"
#include "global/contour_curve.h"
#include "stroke/stroke_width.h"

using namespace edgebin::detail;

enum class Stage {
    kEnhance,
    kGradient,
    kCurve,
    kPeaks,
    kStroke,
    kDirections,
    kRefine,
    kVote,
    kSpecks,
};
constexpr int kStageCount = 9;

using TuningParameters = edgebin::Parameters;

// Every image and list the driver and its global stage pass along, in one place.
struct StagedRun {
    cv::Mat gray;
    cv::Mat enhanced;
    cv::Mat background;
    cv::Mat gradX;
    cv::Mat gradY;
    cv::Mat gradMap;
    ContourCurve contourCurve{};
    int threshold = 0;
    cv::Mat edgeMask;
    std::vector<LineBand> lineBands;
    std::vector<int> bandStrokeWidths;
    std::vector<int> rowStrokeWidths;
    cv::Mat edgeMaskCopy;
    DirectionList directions;
    cv::Mat restoredMap;
    cv::Mat dst;
    // Non-zero once the stroke measurement found nothing; later stages then skip.
    int status = 0;
    edgebin::Trace trace;
};

const char* StageName(Stage stage);

// Starts a run on the grey page (8-bit, one channel).
void BeginRun(const cv::Mat& gray, StagedRun& run);

// Runs one stage on a run whose earlier stages are done, in the driver's order
// and with its arguments.
void RunStage(Stage stage, const TuningParameters& parameters, StagedRun& run);
