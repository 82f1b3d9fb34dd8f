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

// Edge pixels become 1 when the map is 8-bit, not empty and described row by row.
bool AcceptAndMarkEdges(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                        const std::vector<LineBand>& lineBands,
                        const std::vector<int>& bandStrokeWidths) {
    if (map.type() != CV_8UC1 || map.empty() ||
        !DescribesEveryRow(map.rows, map.cols, lineBands, bandStrokeWidths, rowStrokeWidths)) {
        return false;
    }
    map.setTo(1, map);
    return true;
}

}  // namespace

void DensityFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                   const std::vector<LineBand>& lineBands, const std::vector<int>& bandStrokeWidths,
                   double windowFactor, double countFactor) {
    if (!AcceptAndMarkEdges(map, rowStrokeWidths, lineBands, bandStrokeWidths)) {
        return;
    }
    cv::Mat counts;
    edgebin::detail::CountInBandWindows(map, counts, lineBands, bandStrokeWidths, kAnchorCentre,
                                        windowFactor);
    for (int r = 0; r < map.rows; ++r) {
        const int threshold = CountThreshold(rowStrokeWidths[static_cast<size_t>(r)], countFactor);
        for (int c = 0; c < map.cols; ++c) {
            if (counts.at<unsigned short>(r, c) < threshold) {
                map.at<unsigned char>(r, c) = 0;
            }
        }
    }
}

void CornerVoteFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                      const std::vector<LineBand>& lineBands,
                      const std::vector<int>& bandStrokeWidths, int minVotes, double windowFactor,
                      double countFactor) {
    if (!AcceptAndMarkEdges(map, rowStrokeWidths, lineBands, bandStrokeWidths)) {
        return;
    }
    std::array<cv::Mat, kWindowCount> counts;
    for (int mode = 0; mode < kWindowCount; ++mode) {
        edgebin::detail::CountInBandWindows(map, counts[static_cast<size_t>(mode)], lineBands,
                                            bandStrokeWidths, mode, windowFactor);
    }
    for (int r = 0; r < map.rows; ++r) {
        const int threshold = CountThreshold(rowStrokeWidths[static_cast<size_t>(r)], countFactor);
        for (int c = 0; c < map.cols; ++c) {
            int votes = 0;
            for (const cv::Mat& windowCounts : counts) {
                votes += windowCounts.at<unsigned short>(r, c) < threshold ? 1 : 0;
            }
            if (votes >= minVotes) {
                map.at<unsigned char>(r, c) = 0;
            }
        }
    }
}

}  // namespace reference
