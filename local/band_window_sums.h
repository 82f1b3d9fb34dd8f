// Per-band window counts of a 0/1 map.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "stroke/stroke_width.h"

namespace edgebin::detail {

// Replaces the 8-bit `map` by CV_16UC1 unnormalised sums over centred square
// windows of side trunc(bandWidth * scale), one side per band; windows read
// across band edges, the image border is reflected (reflect-101), sums saturate at
// 65535. Precondition: the bands cover the map and every side is >= 1.
void BandWindowSums(cv::Mat& map, const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths, double scale);

}  // namespace edgebin::detail
