// Straightforward implementations of the stages that have a fast path. They do
// the work exactly as the stage is defined, pixel by pixel and level by level, and
// serve as the oracle that the fast implementations are compared against.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "common/labelling.h"
#include "global/contour_curve.h"
#include "global/enhance.h"
#include "stroke/stroke_width.h"

namespace reference {

using namespace edgebin::detail;

// Literal versions of the rules the fast stages share with their helpers, written
// from the rule and not from the fast code, so that a fault in a shared helper
// shows up as a difference.

// A stroke description fits a rows x cols page when its bands span all columns,
// follow each other from row 0 to the last row without gap or overlap, and come
// with one width of at least 1 each, and when every row has a width.
bool DescribesEveryRow(int rows, int cols, const std::vector<LineBand>& lineBands,
                       const std::vector<int>& bandStrokeWidths,
                       const std::vector<int>& rowStrokeWidths);

// Page enhancement with every window sum from a box filter in double precision;
// returns whether the ink was deepened.
bool EnhancePage(const cv::Mat& gray, int window, double weight, cv::Mat& enhanced,
                 cv::Mat& background, InkDeepening deepening = InkDeepening::kUnlessWideCores);

// Thresholds the map at each of the 256 levels, removes specks and measures the
// mean contour length of what is left.
void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve);

// Local threshold voting with every window visited pixel by pixel: the mean and
// deviation in two passes over the window, the votes one pixel at a time.
void MaskedWindowStats(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                       const std::vector<int>& rowStrokeWidths, cv::Mat& meanMap,
                       cv::Mat& deviationMap, double alpha);
void VoteLocalThreshold(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                        const cv::Mat& restoredMap, const std::vector<int>& rowStrokeWidths,
                        cv::Mat& dst, double alpha, double k, cv::Mat* balance = nullptr);

// Window count filters from one box filter per band and window placement.
void DensityFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                   const std::vector<LineBand>& lineBands, const std::vector<int>& bandStrokeWidths,
                   double windowFactor, double countFactor);
void CornerVoteFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                      const std::vector<LineBand>& lineBands,
                      const std::vector<int>& bandStrokeWidths, int minVotes, double windowFactor,
                      double countFactor);

// Components of a mask from the contour-tracing labeller's label buffer.
int FindMaskComponents(const cv::Mat& mask, std::vector<ComponentRecord>& records);

// Edge mask refinement from eighteen full window-count maps (BandWindowSums).
void RefineEdgeMask(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap, std::vector<cv::Mat>& dirMaps,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths,
                    const std::vector<int>& rowStrokeWidths, int mode, double nearScale,
                    double dominanceRatio);

// Direction maps from a scan of every pixel of every map.
void BuildDirectionMaps(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask,
                        std::vector<cv::Mat>& dirMaps);

// Stroke width from edge gaps, every pixel tested one at a time; `gray` may be empty.
int StrokeWidthFromEdgeGaps(const cv::Mat& mask, int& peakCount, int& gapCount,
                            const cv::Mat& gray = cv::Mat());

}  // namespace reference
