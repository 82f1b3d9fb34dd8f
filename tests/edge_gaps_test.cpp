// Worked examples of the width rule on gap histograms built by hand. Edge ends
// and gaps (at borders, in views, on random masks) are in the comparison with the
// pixel-by-pixel version in stage_equivalence_test.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "stroke/edge_gaps.h"

using namespace edgebin::detail;

namespace {

// Mask whose gap histogram is exactly `histogram` (gap -> count): every gap is a
// pair of 3-pixel vertical ticks whose middle rows hold the two edge ends; pairs
// are packed into rows of ticks separated by an empty row.
cv::Mat MaskWithGapHistogram(const std::map<int, int>& histogram, int cols) {
    std::vector<std::vector<int>> tickRows(1);
    int lastTick = 1;
    for (const auto& [gap, count] : histogram) {
        for (int i = 0; i < count; ++i) {
            if (lastTick + gap > cols - 2) {
                tickRows.emplace_back();
                lastTick = 1;
            }
            if (tickRows.back().empty()) {
                tickRows.back().push_back(lastTick);
            }
            lastTick += gap;
            tickRows.back().push_back(lastTick);
        }
    }
    cv::Mat mask = cv::Mat::zeros(static_cast<int>(tickRows.size()) * 4, cols, CV_8UC1);
    for (size_t i = 0; i < tickRows.size(); ++i) {
        for (int column : tickRows[i]) {
            for (int dy = 0; dy < 3; ++dy) {
                mask.at<unsigned char>(static_cast<int>(i) * 4 + dy, column) = 255;
            }
        }
    }
    return mask;
}

struct GapResult {
    int width;
    int peakCount;
    int gapCount;
};

GapResult Measure(const cv::Mat& mask) {
    GapResult result{};
    result.peakCount = -1;
    result.gapCount = -1;
    result.width = StrokeWidthFromEdgeGaps(mask, result.peakCount, result.gapCount);
    return result;
}

}  // namespace

TEST(EdgeGapsTest, WidthIsTheFarthestBinWithinTheToleranceOfThePeak) {
    // Tolerance 0.9 x peak, or peak - 20 from a peak of 200 on; the first of equal
    // maxima is the peak.
    const struct {
        std::map<int, int> histogram;
        int cols, peak, gaps, width;
    } cases[] = {
        {{{3, 50}, {4, 46}, {5, 44}, {6, 10}, {7, 45}}, 64, 50, 195, 7},
        {{{3, 100}, {5, 90}}, 64, 100, 190, 5},
        {{{3, 100}, {5, 89}}, 64, 100, 189, 3},
        {{{2, 300}, {3, 285}, {4, 279}}, 80, 300, 864, 3},
        {{{2, 300}, {3, 279}, {4, 280}}, 80, 300, 859, 4},
        {{{4, 10}, {6, 10}}, 40, 10, 20, 6},
        {{{4, 10}, {6, 8}}, 40, 10, 18, 4},
    };
    for (const auto& c : cases) {
        const GapResult result = Measure(MaskWithGapHistogram(c.histogram, c.cols));
        EXPECT_EQ(result.peakCount, c.peak) << c.gaps;
        EXPECT_EQ(result.gapCount, c.gaps);
        EXPECT_EQ(result.width, c.width) << c.gaps;
    }
}
