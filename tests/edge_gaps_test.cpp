#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "stroke/edge_gaps.h"
#include "support/test_support.h"

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

TEST(EdgeGapsTest, EndsAreRightmostPixelsOfRunsAndGapIsTheirDistance) {
    const std::string row = "..##...##.";
    const GapResult single = Measure(MaskFromText({"..........", row, row, row, ".........."}));
    EXPECT_EQ(single.gapCount, 1);
    EXPECT_EQ(single.peakCount, 1);
    // A lone gap gives the histogram peak 1 and tolerance 0: the last bin wins.
    EXPECT_EQ(single.width, 9);

    const GapResult many = Measure(MaskFromText(std::vector<std::string>(12, row)));
    EXPECT_EQ(many.gapCount, 10);
    EXPECT_EQ(many.peakCount, 10);
    EXPECT_EQ(many.width, 5);
}

TEST(EdgeGapsTest, EndNeedsEdgeNeighboursAboveAndBelow) {
    const std::string full = ".#...#...#..";
    EXPECT_EQ(Measure(MaskFromText({full, full, full})).gapCount, 2);
    // Only the diagonal neighbour above the last end: still an end.
    EXPECT_EQ(Measure(MaskFromText({".#...#....#.", full, full})).gapCount, 2);
    // Nothing above the last end: it is not counted.
    EXPECT_EQ(Measure(MaskFromText({".#...#......", full, full})).gapCount, 1);
    // Nothing below the middle end either.
    EXPECT_EQ(Measure(MaskFromText({
                          ".#...#......",
                          full,
                          ".#..........",
                      }))
                  .gapCount,
              0);
}

TEST(EdgeGapsTest, BorderRowsAndColumnsHoldNoEnds) {
    // An end in the last column would need a pixel beyond the mask.
    EXPECT_EQ(Measure(MaskFromText({".#..#", ".#..#", ".#..#"})).gapCount, 0);
    // An edge pixel in column 0 is never an end.
    EXPECT_EQ(Measure(MaskFromText({"#..#..#.", "#..#..#.", "#..#..#."})).gapCount, 1);
    // Ends only in rows 1..rows-2: a two-row mask counts nothing.
    EXPECT_EQ(Measure(MaskFromText({".#..#..#.", ".#..#..#."})).gapCount, 0);
}

TEST(EdgeGapsTest, ViewReadsOnlyItsOwnPixels) {
    cv::Mat page = MaskFromText({
        "############",
        "..#...#...#.",
        "..#...#...#.",
        "..#...#...#.",
        "..#...#...#.",
    });
    // In the whole page rows 1..3 have three ends each.
    EXPECT_EQ(Measure(page).gapCount, 6);
    // In the view page row 1 is the border row and column 10 the last column,
    // so two rows with two ends each remain.
    const cv::Mat view = page(cv::Rect(0, 1, 11, 4));
    const GapResult inView = Measure(view);
    EXPECT_EQ(inView.gapCount, 2);
    EXPECT_EQ(inView.peakCount, 2);
}

TEST(EdgeGapsTest, ToleranceWidensToFarthestBinReachingNinetyPercent) {
    const GapResult result =
        Measure(MaskWithGapHistogram({{3, 50}, {4, 46}, {5, 44}, {6, 10}, {7, 45}}, 64));
    EXPECT_EQ(result.peakCount, 50);
    EXPECT_EQ(result.gapCount, 195);
    EXPECT_EQ(result.width, 7);

    EXPECT_EQ(Measure(MaskWithGapHistogram({{3, 100}, {5, 90}}, 64)).width, 5);
    EXPECT_EQ(Measure(MaskWithGapHistogram({{3, 100}, {5, 89}}, 64)).width, 3);
}

TEST(EdgeGapsTest, ToleranceAboveTwoHundredIsPeakMinusTwenty) {
    const GapResult result = Measure(MaskWithGapHistogram({{2, 300}, {3, 285}, {4, 279}}, 80));
    EXPECT_EQ(result.peakCount, 300);
    EXPECT_EQ(result.gapCount, 864);
    EXPECT_EQ(result.width, 3);
    EXPECT_EQ(Measure(MaskWithGapHistogram({{2, 300}, {3, 279}, {4, 280}}, 80)).width, 4);
}

TEST(EdgeGapsTest, FirstOfEqualMaximaIsThePeak) {
    const GapResult result = Measure(MaskWithGapHistogram({{4, 10}, {6, 10}}, 40));
    EXPECT_EQ(result.peakCount, 10);
    EXPECT_EQ(result.gapCount, 20);
    EXPECT_EQ(result.width, 6);
    // With the peak alone far ahead, a later bin below 90 % does not widen it.
    EXPECT_EQ(Measure(MaskWithGapHistogram({{4, 10}, {6, 8}}, 40)).width, 4);
}

TEST(EdgeGapsTest, NoGapReportsLastColumnAndZeroCounts) {
    const GapResult blank = Measure(cv::Mat::zeros(10, 17, CV_8UC1));
    EXPECT_EQ(blank.gapCount, 0);
    EXPECT_EQ(blank.peakCount, 0);
    EXPECT_EQ(blank.width, 16);

    const GapResult empty = Measure(cv::Mat());
    EXPECT_EQ(empty.gapCount, 0);
    EXPECT_EQ(empty.peakCount, 0);
    EXPECT_EQ(empty.width, 0);
}
