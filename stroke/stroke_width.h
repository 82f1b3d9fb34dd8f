// Stroke width of the text, measured band by band along the text lines.
//
// The edge mask (non-zero = edge pixel) is cut into horizontal bands at its empty
// rows, each band gets a width from the histogram of gaps between vertical edge
// ends, implausible widths are dropped, the list is smoothed, and the bands are
// widened until they tile the page so that every row has a width.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "edgebin/edgebin.hpp"

namespace edgebin::detail {

// Horizontal strip of the page; all four coordinates are inclusive.
struct LineBand {
    int left;
    int top;
    int right;
    int bottom;
};

inline bool operator==(const LineBand& a, const LineBand& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Measures the stroke description of `edgeMask` into the three (emptied) lists.
// Returns the modal ratio: at most 1e-5 when nothing stroke-like was measured;
// whenever it is above 0 the bands tile the mask and every row has a width.
// `report`, when given, receives what the measurement has to tell. `threads` share
// the passes over the mask; the measurement does not depend on their number.
// `gray`, when given, is the page under the mask (see StrokeWidthFromEdgeGaps).
double EstimateStrokeWidth(const cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                           std::vector<int>& bandStrokeWidths, std::vector<int>& rowStrokeWidths,
                           StrokeMeasurement* report = nullptr, int threads = 1,
                           const cv::Mat& gray = cv::Mat());

// Each maximal run of rows holding an edge pixel becomes one full-width band.
void SplitIntoLineBands(const cv::Mat& edgeMask, std::vector<LineBand>& lineBands, int threads = 1);

// Removes bands of fewer than 21 rows when some band is taller than that.
void DropShortBands(std::vector<LineBand>& lineBands);

// Measures each band, drops implausible widths, smooths, tiles and merges the
// bands and returns the modal ratio over all bands. When the bands survive,
// `report` (if given) receives their widths.
double IntegrateBandStrokeWidths(const cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                                 std::vector<int>& bandStrokeWidths,
                                 StrokeMeasurement* report = nullptr, int threads = 1,
                                 const cv::Mat& gray = cv::Mat());

// Raises each local minimum that sits one below a neighbour to that neighbour.
void RaiseMinimumWidths(std::vector<int>& bandStrokeWidths);

// True when the description can size windows over an image of rows x cols:
// full-width bands that tile rows 0..rows-1 in order, one width of at least 1 per
// band and one width per row. Stages that index widths by band or row refuse a
// description that fails this test.
bool IsCompleteStrokeDescription(int rows, int cols, const std::vector<LineBand>& lineBands,
                                 const std::vector<int>& bandStrokeWidths,
                                 const std::vector<int>& rowStrokeWidths);

}  // namespace edgebin::detail
