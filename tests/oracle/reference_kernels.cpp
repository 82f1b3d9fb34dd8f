// Puts the straightforward stages in place of the fast ones for edgebin-reference;
// they run on one thread whatever the thread count.
#include "global/enhance.h"
#include "local/local_threshold.h"
#include "local/refine_edge_mask.h"
#include "oracle/oracle.h"
#include "pipeline/direction_maps.h"
#include "pipeline/labelling.h"
#include "stroke/edge_gaps.h"
#include "stroke/window_filters.h"

namespace edgebin::detail {

void EnhancePage(const cv::Mat& gray, int window, double weight, cv::Mat& enhanced,
                 cv::Mat& background, int /*threads*/) {
    reference::EnhancePage(gray, window, weight, enhanced, background);
}

void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve, int /*threads*/) {
    reference::BuildContourCurve(gradMap, contourCurve);
}

void MaskedWindowStats(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                       const std::vector<int>& rowStrokeWidths, cv::Mat& meanMap,
                       cv::Mat& deviationMap, double alpha) {
    reference::MaskedWindowStats(edgeMaskCopy, gray, rowStrokeWidths, meanMap, deviationMap, alpha);
}

void VoteLocalThreshold(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                        const cv::Mat& restoredMap, const std::vector<int>& rowStrokeWidths,
                        cv::Mat& dst, double alpha, double k, cv::Mat* balance, int /*threads*/) {
    reference::VoteLocalThreshold(edgeMaskCopy, gray, restoredMap, rowStrokeWidths, dst, alpha, k,
                                  balance);
}

void DensityFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                   const std::vector<LineBand>& lineBands, const std::vector<int>& bandStrokeWidths,
                   double windowFactor, double countFactor) {
    reference::DensityFilter(map, rowStrokeWidths, lineBands, bandStrokeWidths, windowFactor,
                             countFactor);
}

void CornerVoteFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                      const std::vector<LineBand>& lineBands,
                      const std::vector<int>& bandStrokeWidths, int minVotes, double windowFactor,
                      double countFactor) {
    reference::CornerVoteFilter(map, rowStrokeWidths, lineBands, bandStrokeWidths, minVotes,
                                windowFactor, countFactor);
}

int FindMaskComponents(const cv::Mat& mask, std::vector<ComponentRecord>& records) {
    return reference::FindMaskComponents(mask, records);
}

void RefineEdgeMask(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap, std::vector<cv::Mat>& dirMaps,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths,
                    const std::vector<int>& rowStrokeWidths, int mode, double nearScale,
                    double dominanceRatio, int /*threads*/) {
    reference::RefineEdgeMask(edgeMaskCopy, restoredMap, dirMaps, lineBands, bandStrokeWidths,
                              rowStrokeWidths, mode, nearScale, dominanceRatio);
}

void BuildDirectionMaps(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask,
                        std::vector<cv::Mat>& dirMaps, int /*threads*/) {
    reference::BuildDirectionMaps(gradX, gradY, mask, dirMaps);
}

int StrokeWidthFromEdgeGaps(const cv::Mat& mask, int& peakCount, int& gapCount) {
    return reference::StrokeWidthFromEdgeGaps(mask, peakCount, gapCount);
}

}  // namespace edgebin::detail
