// Stroke width from the gaps between the right ends of vertical edge runs.
#pragma once

#include <algorithm>
#include <opencv2/core.hpp>
#include <vector>

namespace edgebin::detail {

// `mask`: 8-bit, one channel, possibly a view into a larger mask (only pixels of
// the view are read); non-zero = edge pixel. Histograms the distances between
// successive edge ends in each row and returns the width read off the histogram's
// peak with its tolerance rule. `peakCount` receives the peak's count and
// `gapCount` the number of gaps counted (0 when the width means nothing).
int StrokeWidthFromEdgeGaps(const cv::Mat& mask, int& peakCount, int& gapCount);

// The width read off a gap histogram: the highest bin at or beyond the peak whose
// count reaches the tolerance, since a stroke seen at slightly varying widths
// should report its wider readings, not the mode. `peakCount` receives the peak's
// count.
inline int WidthFromHistogram(const std::vector<int>& histogram, int& peakCount) {
    const int bins = static_cast<int>(histogram.size());
    int peakBin = 0;
    peakCount = 0;
    for (int b = 0; b < bins; ++b) {
        if (histogram[b] > peakCount) {
            peakCount = histogram[b];
            peakBin = b;
        }
    }
    const int tolerance = static_cast<int>(std::max(peakCount - 20.0, 0.9 * peakCount));
    int width = peakBin;
    for (int b = peakBin + 1; b < bins; ++b) {
        if (histogram[b] >= tolerance) {
            width = b;
        }
    }
    return width;
}

}  // namespace edgebin::detail
