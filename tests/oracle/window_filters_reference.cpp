// Straightforward window count filters: one box filter per band and window
// placement (CountInBandWindows), then a pass over the pixels.
#include <algorithm>
#include <array>
#include <opencv2/imgproc.hpp>

#include "oracle/oracle.h"
#include "stroke/window_filters.h"

namespace reference {

namespace {

constexpr double kMaxCountThreshold = 65536.0;
constexpr int kWindowCount = 5;

int CountThreshold(int rowWidth, double countFactor) {
    const double scaled = rowWidth * countFactor;
    if (!(scaled > 0.0)) {
        return 0;
    }
    return static_cast<int>(std::min(scaled, kMaxCountThreshold));
}

void MarkEdgesAsOne(cv::Mat& map) {
    map.setTo(1, map);
}

bool AcceptsDescription(const cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                        const std::vector<LineBand>& lineBands,
                        const std::vector<int>& bandStrokeWidths) {
    return map.type() == CV_8UC1 &&
           DescribesEveryRow(map.rows, map.cols, lineBands, bandStrokeWidths, rowStrokeWidths);
}

}  // namespace

void DensityFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                   const std::vector<LineBand>& lineBands, const std::vector<int>& bandStrokeWidths,
                   double windowFactor, double countFactor) {
    if (!AcceptsDescription(map, rowStrokeWidths, lineBands, bandStrokeWidths) || map.empty()) {
        return;
    }
    MarkEdgesAsOne(map);
    cv::Mat counts;
    edgebin::detail::CountInBandWindows(map, counts, lineBands, bandStrokeWidths, kAnchorCentre,
                                        windowFactor);
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
        edgebin::detail::CountInBandWindows(map, counts[static_cast<size_t>(mode)], lineBands,
                                            bandStrokeWidths, mode, windowFactor);
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

}  // namespace reference
