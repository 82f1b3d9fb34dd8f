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
// `gray`, when given, is the page under the mask (8-bit, one channel, the mask's
// size); it lets a hollow stroke report its own width (WideModeBin).
int StrokeWidthFromEdgeGaps(const cv::Mat& mask, int& peakCount, int& gapCount,
                            const cv::Mat& gray = cv::Mat());

// The width read off a gap histogram: the highest bin at or beyond the peak whose
// count reaches the tolerance, since a stroke seen at slightly varying widths
// should report its wider readings, not the mode. `peakCount` receives the peak's
// count and `peakBin` its bin.
inline int WidthFromHistogram(const std::vector<int>& histogram, int& peakCount, int& peakBin) {
    const int bins = static_cast<int>(histogram.size());
    peakBin = 0;
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

// Count of the three bins around `bin` (1 <= bin <= size - 2): single bins of a
// broad mode are too ragged to compare.
inline int ThreeBinCount(const std::vector<int>& histogram, int bin) {
    const size_t at = static_cast<size_t>(bin);
    return histogram[at - 1] + histogram[at] + histogram[at + 1];
}

// Thick strokes whose ink pooled at the rims, most of all when scanned at 600 dpi,
// show an edge on each side of each rim, and the gaps within a rim outnumber those
// across the stroke: a handwritten page upscaled twice peaked at 4 pixels on
// strokes 13 wide, and every window sized from that missed the strokes' middles.
// The candidate is the fullest three bins from twice `width` on, when they hold at
// least half of the peak's three bins and some three bins from the peak up to them
// hold at most 0.8 of theirs. Returns its bin, or -1. Whether its gaps span ink is
// the caller's test: a letter's counter or the spacing of neighbouring stems
// gives such a mode too, with paper between the ends.
inline int WideModeBin(const std::vector<int>& histogram, int peakBin, int width) {
    const int bins = static_cast<int>(histogram.size());
    if (peakBin < 1 || peakBin > bins - 2) {
        return -1;
    }
    int wideBin = -1;
    int wideCount = 0;
    for (int b = std::max({2 * width, 2, peakBin + 1}); b <= bins - 2; ++b) {
        const int count = ThreeBinCount(histogram, b);
        if (count > wideCount) {
            wideCount = count;
            wideBin = b;
        }
    }
    if (wideBin < 0 || 2LL * wideCount < ThreeBinCount(histogram, peakBin)) {
        return -1;
    }
    int valley = wideCount;
    for (int b = peakBin; b < wideBin; ++b) {
        valley = std::min(valley, ThreeBinCount(histogram, b));
    }
    return 5LL * valley <= 4LL * wideCount ? wideBin : -1;
}

}  // namespace edgebin::detail
