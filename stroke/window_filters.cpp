// Preconditions: `source` is 8-bit with one channel. CountInBandWindows expects
// bands inside `source` with one width each; it skips any band outside the source
// or without a width and never makes a window narrower than 1. (The two filters
// live in sparse_window_filters.cpp.)
#include "stroke/window_filters.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace edgebin::detail {

namespace {

cv::Point WindowAnchor(int anchorMode, int side) {
    switch (anchorMode) {
        case kAnchorTopLeft:
            return cv::Point(0, 0);
        case kAnchorBottomLeft:
            return cv::Point(0, side - 1);
        case kAnchorTopRight:
            return cv::Point(side - 1, 0);
        case kAnchorBottomRight:
            return cv::Point(side - 1, side - 1);
        default:
            return cv::Point(-1, -1);
    }
}

int WindowSide(const cv::Rect& region, int bandWidth, double windowFactor) {
    const int side = std::min(region.width, region.height);
    const double scaled = bandWidth * windowFactor;
    if (!(scaled < side)) {
        return side;
    }
    if (!(scaled >= 1.0)) {
        return 1;
    }
    return static_cast<int>(scaled);
}

}  // namespace

void CountInBandWindows(const cv::Mat& source, cv::Mat& counts,
                        const std::vector<LineBand>& lineBands,
                        const std::vector<int>& bandStrokeWidths, int anchorMode,
                        double windowFactor) {
    counts.create(source.rows, source.cols, CV_16UC1);
    // Band views must see past their own edges but not past the source's: a
    // source that is itself a view would otherwise lend its parent's pixels.
    const cv::Mat image = source.isSubmatrix() ? source.clone() : source;
    const cv::Rect whole(0, 0, source.cols, source.rows);
    const size_t measured = std::min(lineBands.size(), bandStrokeWidths.size());
    for (size_t k = 0; k < measured; ++k) {
        const LineBand& band = lineBands[k];
        const cv::Rect region(band.left, band.top, band.right - band.left + 1,
                              band.bottom - band.top + 1);
        if (region.width <= 0 || region.height <= 0 || (region & whole) != region) {
            continue;
        }
        const int side = WindowSide(region, bandStrokeWidths[k], windowFactor);
        cv::Mat bandCounts;
        // The view keeps its place in the source, so windows near a band edge read
        // the neighbouring band's real pixels; only the image border is reflected.
        cv::boxFilter(image(region), bandCounts, CV_16U, cv::Size(side, side),
                      WindowAnchor(anchorMode, side), false, cv::BORDER_REFLECT_101);
        bandCounts.copyTo(counts(region));
    }
}

}  // namespace edgebin::detail
