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

// Page under MaskWithGapHistogram's mask: paper 200, the ticks 100, `inside`
// between the ticks of every gap of at least `from` pixels.
cv::Mat GrayUnder(const cv::Mat& mask, int from, int inside) {
    cv::Mat gray = 200 - mask / 255 * 100;
    for (int r = 2; r < mask.rows; r += 4) {
        std::vector<cv::Point> ticks;
        cv::findNonZero(mask.row(r), ticks);
        if (ticks.back().x - 1 >= from) {
            gray(cv::Rect(2, r - 1, ticks.back().x - 2, 3)).setTo(inside);
        }
    }
    return gray;
}

}  // namespace

TEST(EdgeGapsTest, WidthIsTheFarthestBinWithinTheToleranceOfThePeakOrAnInkedWideMode) {
    // Tolerance 0.9 x peak, or peak - 20 from a peak of 200 on; the first of equal
    // maxima is the peak. With a page (`from` > 0): rims' peak at 3, a mode at 9 past
    // a dip, and ink (120, below the middle of 100 and 200) or paper between the ends
    // of the gaps from `from` on.
    const std::map<int, int> rimmed = {{3, 100}, {4, 60}, {5, 30}, {8, 30}, {9, 60}, {10, 30}};
    const struct {
        std::map<int, int> histogram;
        int from, inside, peak, gaps, width;
    } cases[] = {
        {{{3, 50}, {4, 46}, {5, 44}, {6, 10}, {7, 45}}, 0, 0, 50, 195, 7},
        {{{3, 100}, {5, 90}}, 0, 0, 100, 190, 5},
        {{{3, 100}, {5, 89}}, 0, 0, 100, 189, 3},
        {{{2, 300}, {3, 285}, {4, 279}}, 0, 0, 300, 864, 3},
        {{{2, 300}, {3, 279}, {4, 280}}, 0, 0, 300, 859, 4},
        {{{4, 10}, {6, 10}}, 0, 0, 10, 20, 6},
        {{{4, 10}, {6, 8}}, 0, 0, 10, 18, 4},
        {rimmed, 8, 120, 100, 310, 9},
        {rimmed, 8, 160, 100, 310, 3},   // nearer the paper: a counter, or between stems
        {rimmed, 10, 120, 100, 310, 3},  // ink under 30 of the mode's 120 gaps
        {{{3, 100}, {4, 60}, {5, 30}, {8, 15}, {9, 40}, {10, 20}}, 8, 120, 100, 265, 3},  // too few
        {{{3, 100}, {4, 60}, {5, 60}, {6, 60}, {7, 60}, {8, 60}, {9, 60}},
         6,
         120,
         100,
         460,
         3},  // no dip
    };
    for (const auto& c : cases) {
        const cv::Mat mask = MaskWithGapHistogram(c.histogram);
        const cv::Mat gray = c.from > 0 ? GrayUnder(mask, c.from, c.inside) : cv::Mat();
        int peak = -1, gaps = -1;
        EXPECT_EQ(StrokeWidthFromEdgeGaps(mask, peak, gaps, gray), c.width)
            << c.gaps << " " << c.from;
        EXPECT_EQ(peak, c.peak) << c.gaps;
        EXPECT_EQ(gaps, c.gaps);
    }
}
