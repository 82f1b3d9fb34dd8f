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
// pair of 3-pixel vertical ticks whose middle rows hold the two edge ends, in a
// slab of its own below an empty row.
cv::Mat MaskWithGapHistogram(const std::map<int, int>& histogram) {
    std::vector<int> gaps;
    for (const auto& [gap, count] : histogram) {
        gaps.insert(gaps.end(), count, gap);
    }
    const int n = static_cast<int>(gaps.size());
    cv::Mat mask = cv::Mat::zeros(4 * n, 3 + gaps.back(), CV_8UC1);
    for (int i = 0; i < n; ++i) {
        mask.rowRange(4 * i + 1, 4 * i + 4).col(1).setTo(255);
        mask.rowRange(4 * i + 1, 4 * i + 4).col(1 + gaps[i]).setTo(255);
    }
    return mask;
}

// Page under MaskWithGapHistogram's mask: paper 200, the ticks 100, and `inside`
// between the two ticks of every gap of at least `from` pixels.
cv::Mat GrayUnder(const cv::Mat& mask, const std::map<int, int>& histogram, int from, int inside) {
    cv::Mat gray(mask.size(), CV_8UC1, cv::Scalar(200));
    gray.setTo(100, mask);
    int row = 0;
    for (const auto& [gap, count] : histogram) {
        if (gap >= from) {
            gray(cv::Rect(2, row, gap - 1, 4 * count)).setTo(inside);
        }
        row += 4 * count;
    }
    return gray;
}

}  // namespace

TEST(EdgeGapsTest, WidthIsTheFarthestBinWithinTheToleranceOfThePeak) {
    // Tolerance 0.9 x peak, or peak - 20 from a peak of 200 on; the first of equal
    // maxima is the peak.
    const struct {
        std::map<int, int> histogram;
        int peak, gaps, width;
    } cases[] = {
        {{{3, 50}, {4, 46}, {5, 44}, {6, 10}, {7, 45}}, 50, 195, 7},
        {{{3, 100}, {5, 90}}, 100, 190, 5},
        {{{3, 100}, {5, 89}}, 100, 189, 3},
        {{{2, 300}, {3, 285}, {4, 279}}, 300, 864, 3},
        {{{2, 300}, {3, 279}, {4, 280}}, 300, 859, 4},
        {{{4, 10}, {6, 10}}, 10, 20, 6},
        {{{4, 10}, {6, 8}}, 10, 18, 4},
    };
    for (const auto& c : cases) {
        int peak = -1;
        int gaps = -1;
        EXPECT_EQ(StrokeWidthFromEdgeGaps(MaskWithGapHistogram(c.histogram), peak, gaps), c.width)
            << c.gaps;
        EXPECT_EQ(peak, c.peak) << c.gaps;
        EXPECT_EQ(gaps, c.gaps);
    }
}

TEST(EdgeGapsTest, AWideModeWithInkBetweenItsEndsIsTheStroke) {
    // Rims' peak at 3; a mode at 9 with a dip before it. The grey between the ends
    // of gaps from 8 on is ink (120, below the middle of 100 and 200) or paper.
    const std::map<int, int> rimmed = {{3, 100}, {4, 60}, {5, 30}, {8, 30}, {9, 60}, {10, 30}};
    const struct {
        std::map<int, int> histogram;
        int inside, width;
    } cases[] = {
        {rimmed, 120, 9},
        {rimmed, 160, 3},  // nearer the paper: a counter or the space between stems
        {rimmed, 200, 3},
        // Below half of the peak's three bins, or no dip to 0.8 of the mode's.
        {{{3, 100}, {4, 60}, {5, 30}, {8, 20}, {9, 40}, {10, 20}}, 120, 3},
        {{{3, 100}, {4, 60}, {5, 60}, {6, 60}, {7, 60}, {8, 60}, {9, 60}, {10, 30}}, 120, 3},
        // Ink under only some of the mode's gaps (from 9 on): 90 of 120, then 30 of 120.
        {rimmed, -9, 9},
        {rimmed, -10, 3},
    };
    for (const auto& c : cases) {
        const cv::Mat mask = MaskWithGapHistogram(c.histogram);
        const int from = c.inside < 0 ? -c.inside : 8;
        const cv::Mat gray = GrayUnder(mask, c.histogram, from, c.inside < 0 ? 120 : c.inside);
        int peak = -1;
        int gaps = -1;
        EXPECT_EQ(StrokeWidthFromEdgeGaps(mask, peak, gaps, gray), c.width)
            << c.inside << " " << gaps;
        EXPECT_EQ(StrokeWidthFromEdgeGaps(mask, peak, gaps), 3) << "without the grey";
    }
}
