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
