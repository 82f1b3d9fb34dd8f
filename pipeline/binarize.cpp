#include "pipeline/binarize.h"

#include <vector>

#include "global/global_threshold.h"
#include "local/local_threshold.h"
#include "local/refine_edge_mask.h"
#include "pipeline/direction_maps.h"
#include "pipeline/small_components.h"
#include "stroke/stroke_width.h"

namespace edgebin::detail {

namespace {

// Fixed settings of the refinement and clean-up stages.
constexpr int kRefineMode = 2;
constexpr double kNearScale = 6.0;
constexpr double kDominanceRatio = 0.75;
constexpr double kSpeckFactor = 1.0;

std::vector<TextBand> DescribeBands(const std::vector<LineBand>& lineBands,
                                    const std::vector<int>& bandStrokeWidths) {
    std::vector<TextBand> bands;
    for (size_t i = 0; i < lineBands.size() && i < bandStrokeWidths.size(); ++i) {
        bands.push_back(TextBand{lineBands[i].top, lineBands[i].bottom, bandStrokeWidths[i]});
    }
    return bands;
}

}  // namespace

int BinarizeImage(const cv::Mat& src, cv::Mat& dst, double alpha, double k, double Rthre,
                  Trace& trace, StageImages* stages) {
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
                                rowStrokeWidths, Rthre, trace, stages);
    if (stages != nullptr) {
        stages->edgeMask = edgeMask;
    }
    if (status != kStatusOk) {
        return status;
    }
    trace.bands = DescribeBands(lineBands, bandStrokeWidths);

    // The later stages work on a copy so that the global edge mask stays as measured.
    cv::Mat result = cv::Mat::zeros(gray.rows, gray.cols, CV_8UC1);
    cv::Mat edgeMaskCopy = edgeMask.clone();
    std::vector<cv::Mat> dirMaps(9);
    BuildDirectionMaps(gradX, gradY, edgeMaskCopy, dirMaps);

    cv::Mat restoredMap;
    RefineEdgeMask(edgeMaskCopy, restoredMap, dirMaps, lineBands, bandStrokeWidths, rowStrokeWidths,
                   kRefineMode, kNearScale, kDominanceRatio);
    VoteLocalThreshold(edgeMaskCopy, gray, restoredMap, rowStrokeWidths, result, alpha, k,
                       stages != nullptr ? &stages->balance : nullptr);
    RemoveSmallComponents(edgeMaskCopy, rowStrokeWidths, kSpeckFactor, result);
    if (stages != nullptr) {
        stages->voters = edgeMaskCopy;
        stages->restoredMap = restoredMap;
    }
    dst = result;
    return kStatusOk;
}

}  // namespace edgebin::detail
