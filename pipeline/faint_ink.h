// Whether the ink a lower global level adds is faint writing or the paper's own
// variation (show-through, stains, texture).
#pragma once

#include <opencv2/core.hpp>

namespace edgebin::detail {

// How far the ink that `lower` adds to `higher`, away from `higher`'s ink, stands
// out from the paper around it: the median, over those pixels, of (the grey
// page's median in a window around the pixel - its grey), in units of the paper's
// spread (1.4826 × the median absolute deviation of the grey under `lower`'s
// paper, at least 0.5). The window is 31 pixels or six stroke widths, whichever
// is larger; "away" means further than half a stroke width, at least 2 pixels.
// 0 when the added ink covers under 0.1 % of the page.
// Preconditions: `grey`, `higher` and `lower` are CV_8UC1 of one size, not empty
// (ink 0 in both results); `strokeWidth` >= 1.
double AddedInkContrast(const cv::Mat& grey, const cv::Mat& higher, const cv::Mat& lower,
                        int strokeWidth);

}  // namespace edgebin::detail
