// Straightforward implementations of the stages that have a fast path. They do
// the work exactly as the stage is defined, pixel by pixel and level by level, and
// serve as the oracle that the fast implementations are compared against.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "global/contour_curve.h"

namespace reference {

// Thresholds the map at each of the 256 levels, removes specks and measures the
// mean contour length of what is left.
void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve);

}  // namespace reference
