// Preconditions: `source` and `map` are 8-bit with one channel. The filters take
// a stroke description that passes IsCompleteStrokeDescription for the map and
// refuse any other (the map is then left exactly as it was). CountInBandWindows
// expects bands inside `source` with one width each; it skips any band outside
// the source or without a width and never makes a window narrower than 1.
#include "stroke/window_filters.h"

#include <algorithm>
#include <array>
#include <opencv2/imgproc.hpp>

namespace {

// Counts saturate at 65535, so any threshold above that removes every pixel;
// capping it keeps the double-to-int conversion defined for absurd widths.
constexpr double kMaxCountThreshold = 65536.0;
constexpr int kWindowCount = 5;

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

int CountThreshold(int rowWidth, double countFactor) {
    const double scaled = rowWidth * countFactor;
    if (!(scaled > 0.0)) {
        return 0;
    }
    return static_cast<int>(std::min(scaled, kMaxCountThreshold));
}

// Edge pixels become 1 so that box sums count them.
void MarkEdgesAsOne(cv::Mat& map) {
    map.setTo(1, map);
}

bool AcceptsDescription(const cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                        const std::vector<LineBand>& lineBands,
                        const std::vector<int>& bandStrokeWidths) {
    return map.type() == CV_8UC1 && IsCompleteStrokeDescription(map.rows, map.cols, lineBands,
                                                                bandStrokeWidths, rowStrokeWidths);
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

void DensityFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                   const std::vector<LineBand>& lineBands, const std::vector<int>& bandStrokeWidths,
                   double windowFactor, double countFactor) {
    if (!AcceptsDescription(map, rowStrokeWidths, lineBands, bandStrokeWidths) || map.empty()) {
        return;
    }
    MarkEdgesAsOne(map);
    cv::Mat counts;
    CountInBandWindows(map, counts, lineBands, bandStrokeWidths, kAnchorCentre, windowFactor);
    for (int r = 0; r < map.rows; ++r) {
        const int threshold = CountThreshold(rowStrokeWidths[static_cast<size_t>(r)], countFactor);
        unsigned char* pixels = map.ptr<unsigned char>(r);
        const unsigned short* rowCounts = counts.ptr<unsigned short>(r);
        for (int c = 0; c < map.cols; ++c) {
            if (pixels[c] != 0 && rowCounts[c] < threshold) {
                pixels[c] = 0;
            }
        }
    }
}

void CornerVoteFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                      const std::vector<LineBand>& lineBands,
                      const std::vector<int>& bandStrokeWidths, int minVotes, double windowFactor,
                      double countFactor) {
    if (!AcceptsDescription(map, rowStrokeWidths, lineBands, bandStrokeWidths) || map.empty()) {
        return;
    }
    MarkEdgesAsOne(map);
    std::array<cv::Mat, kWindowCount> counts;
    for (int mode = 0; mode < kWindowCount; ++mode) {
        CountInBandWindows(map, counts[static_cast<size_t>(mode)], lineBands, bandStrokeWidths,
                           mode, windowFactor);
    }
    for (int r = 0; r < map.rows; ++r) {
        const int threshold = CountThreshold(rowStrokeWidths[static_cast<size_t>(r)], countFactor);
        unsigned char* pixels = map.ptr<unsigned char>(r);
        for (int c = 0; c < map.cols; ++c) {
            if (pixels[c] == 0) {
                continue;
            }
            int votes = 0;
            for (const cv::Mat& windowCounts : counts) {
                votes += windowCounts.at<unsigned short>(r, c) < threshold ? 1 : 0;
            }
            if (votes >= minVotes) {
                pixels[c] = 0;
            }
        }
    }
}
