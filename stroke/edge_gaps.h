// Stroke width from the gaps between the right ends of vertical edge runs.
#pragma once

#include <opencv2/core.hpp>

// `mask`: 8-bit, one channel, possibly a view into a larger mask (only pixels of
// the view are read); non-zero = edge pixel. Histograms the distances between
// successive edge ends in each row and returns the width read off the histogram's
// peak with its tolerance rule. `peakCount` receives the peak's count and
// `gapCount` the number of gaps counted (0 when the width means nothing).
int StrokeWidthFromEdgeGaps(const cv::Mat& mask, int& peakCount, int& gapCount);
