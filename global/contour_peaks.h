// Peak analysis of the contour-length curve: a main peak level and, when one
// stands clearly apart, a second peak level.
#pragma once

#include <opencv2/core.hpp>

#include "global/contour_curve.h"

namespace edgebin::detail {

// Builds the curve of `gradMap` (over `threads` threads) and analyses it with
// FindCurvePeaks.
void FindContourPeaks(const cv::Mat& gradMap, bool& hasSecond, int& mainPeak, int& secondPeak,
                      int threads = 1);

// Peak analysis of a given curve. `mainPeak` is 0 or a level in 5..254;
// `secondPeak` is 0 whenever `hasSecond` is false.
void FindCurvePeaks(const ContourCurve& contourCurve, bool& hasSecond, int& mainPeak,
                    int& secondPeak);

// True when the curve between the two levels dips deep and wide enough below the
// second peak.
bool IsValleyDeep(const ContourCurve& contourCurve, int mainLevel, int secondLevel);

// Curvature search on the smoothed curve right of `mainPeak` for a shoulder.
void FindShoulderPeak(const ContourCurve& contourCurve, int mainPeak, bool& hasSecond,
                      int& secondPeak);

}  // namespace edgebin::detail
