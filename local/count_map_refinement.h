// The general route of the edge mask refinement: the eighteen window-count maps in
// full from BandWindowSums, then one pass to suppress and one to restore. The fast
// refinement falls back to it, and the straightforward one is made of it.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "stroke/stroke_width.h"

namespace edgebin::detail {

constexpr int kDirectionMapCount = 9;
// Far windows are this many band stroke widths across.
constexpr double kFarScale = 20.0;
constexpr double kCleaningComponentFactor = 0.6;

// True when `dirMaps` holds nine CV_8UC1 maps of the mask's size.
bool DirectionMapsFit(const std::vector<cv::Mat>& dirMaps, const cv::Mat& edgeMaskCopy);

// Suppression and restoration of RefineEdgeMask's mode 2 on a cleaned mask; turns
// `dirMaps` into near counts and sets `restoredMap`.
void RefineThroughCountMaps(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap,
                            std::vector<cv::Mat>& dirMaps, const std::vector<LineBand>& lineBands,
                            const std::vector<int>& bandStrokeWidths, double nearScale,
                            double dominanceRatio);

}  // namespace edgebin::detail
