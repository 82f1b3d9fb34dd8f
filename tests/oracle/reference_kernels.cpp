// Puts the straightforward stages in place of the fast ones for edgebin-reference;
// they run on one thread whatever the thread count.
#include "common/direction_maps.h"
#include "common/labelling.h"
#include "global/enhance.h"
#include "local/local_threshold.h"
#include "local/refine_edge_mask.h"
#include "oracle/oracle.h"
#include "stroke/edge_gaps.h"
#include "stroke/window_filters.h"

namespace edgebin::detail {

bool EnhancePage(const cv::Mat& gray, int window, double weight, cv::Mat& enhanced,
                 cv::Mat& background, int /*threads*/, InkDeepening deepening) {
    return reference::EnhancePage(gray, window, weight, enhanced, background, deepening);
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
                        cv::Mat& dst, double alpha, double k, cv::Mat* balance, int /*threads*/,
                        cv::Mat* /*counters*/) {
    reference::VoteLocalThreshold(edgeMaskCopy, gray, restoredMap, rowStrokeWidths, dst, alpha, k,
                                  balance);
}

void DensityFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                   const std::vector<LineBand>& lineBands, const std::vector<int>& bandStrokeWidths,
                   double windowFactor, double countFactor, int /*threads*/) {
    reference::DensityFilter(map, rowStrokeWidths, lineBands, bandStrokeWidths, windowFactor,
                             countFactor);
}

void CornerVoteFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                      const std::vector<LineBand>& lineBands,
                      const std::vector<int>& bandStrokeWidths, int minVotes, double windowFactor,
                      double countFactor, int /*threads*/) {
    reference::CornerVoteFilter(map, rowStrokeWidths, lineBands, bandStrokeWidths, minVotes,
                                windowFactor, countFactor);
}

void DensityThenCornerVote(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                           const std::vector<LineBand>& lineBands,
                           const std::vector<int>& bandStrokeWidths, const DensityRule& density,
                           const CornerVoteRule& cornerVote, int /*threads*/) {
    reference::DensityFilter(map, rowStrokeWidths, lineBands, bandStrokeWidths,
                             density.windowFactor, density.countFactor);
    reference::CornerVoteFilter(map, rowStrokeWidths, lineBands, bandStrokeWidths,
                                cornerVote.minVotes, cornerVote.windowFactor,
                                cornerVote.countFactor);
}

int FindMaskComponents(const cv::Mat& mask, std::vector<ComponentRecord>& records,
                       int /*threads*/) {
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

// The list is taken from the straightforward maps, and made into maps again for
// the straightforward refinement.
void ListDirections(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask,
                    DirectionList& directions, int /*threads*/) {
    std::vector<cv::Mat> maps;
    reference::BuildDirectionMaps(gradX, gradY, mask, maps);
    std::array<const cv::Mat*, 9> pointers;
    for (size_t j = 0; j < pointers.size(); ++j) {
        pointers[j] = &maps[j];
    }
    directions.Collect(pointers);
}

void RefineEdgeMask(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap, const DirectionList& directions,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths,
                    const std::vector<int>& rowStrokeWidths, int mode, double nearScale,
                    double dominanceRatio, int /*threads*/, cv::Mat /*cleanedMask*/) {
    // The straightforward refinement cleans the mask itself, whatever the caller holds.
    std::vector<cv::Mat> maps(9);
    for (cv::Mat& map : maps) {
        map = cv::Mat::zeros(directions.rows, directions.cols, CV_8UC1);
    }
    for (int y = 0; y < directions.rows; ++y) {
        for (size_t p = directions.RowBegin(y); p < directions.RowEnd(y); ++p) {
            for (size_t j = 0; j < maps.size(); ++j) {
                maps[j].at<unsigned char>(y, directions.columns[p]) = directions.values[p][j];
            }
        }
    }
    reference::RefineEdgeMask(edgeMaskCopy, restoredMap, maps, lineBands, bandStrokeWidths,
                              rowStrokeWidths, mode, nearScale, dominanceRatio);
}

int StrokeWidthFromEdgeGaps(const cv::Mat& mask, int& peakCount, int& gapCount,
                            const cv::Mat& gray) {
    return reference::StrokeWidthFromEdgeGaps(mask, peakCount, gapCount, gray);
}

}  // namespace edgebin::detail
