// Stroke width from the gaps between the right ends of vertical edge runs.
#pragma once

#include <opencv2/core.hpp>

namespace edgebin::detail {

// `mask`: 8-bit, one channel, possibly a view into a larger mask (only pixels of
// the view are read); non-zero = edge pixel. Histograms the distances between
// successive edge ends in each row and returns the width read off the histogram's
// peak with its tolerance rule. `peakCount` receives the peak's count and
// `gapCount` the number of gaps counted (0 when the width means nothing).
// `gray`, when given, is the page under the mask (8-bit, one channel, the mask's
// size); it lets a hollow stroke report its own width.
int StrokeWidthFromEdgeGaps(const cv::Mat& mask, int& peakCount, int& gapCount,
                            const cv::Mat& gray = cv::Mat());

}  // namespace edgebin::detail
