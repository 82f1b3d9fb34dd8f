// Mean component outline length of the gradient map at every threshold level.
#pragma once

#include <array>
#include <opencv2/core.hpp>

namespace edgebin::detail {

using ContourCurve = std::array<double, 256>;

// contourCurve[l]: the mask gradMap > l, with every 8-connected component of fewer than
// 3 pixels cleared, measured as the number of background pixels touching it along a side
// divided by the number of its 8-connected components (0 without components).
// `threads` (>= 1) share the work; the curve does not depend on their number.
void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve, int threads = 1);

}  // namespace edgebin::detail
