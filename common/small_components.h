// Final speck removal on the result image.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace edgebin::detail {

// Makes `dst` 0/255, then whitens the bounding box of every black 8-connected
// component smaller than e*e pixels, e = clamp(trunc(width of its middle row *
// factor), 3, 10), unless a black pixel of that box is non-zero in `keepMask`.
// Refused (dst only made 0/255) when rowStrokeWidths has not one entry per row.
// `threads` share the passes over the page; the result does not depend on them.
void RemoveSmallComponents(const cv::Mat& keepMask, const std::vector<int>& rowStrokeWidths,
                           double factor, cv::Mat& dst, int threads = 1);

}  // namespace edgebin::detail
