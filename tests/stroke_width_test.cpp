#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "stroke/stroke_width.h"

using namespace edgebin::detail;

namespace {

// One-pixel vertical strokes every `period` columns over rows top..bottom: every
// inner row of the band reads gaps of exactly `period`.
void DrawStrokes(cv::Mat& mask, int top, int bottom, int period) {
    for (int r = top; r <= bottom; ++r) {
        for (int c = 1; c <= mask.cols - 2; c += period) {
            mask.at<unsigned char>(r, c) = 255;
        }
    }
}

struct Description {
    std::vector<LineBand> bands{{7, 7, 7, 7}};
    std::vector<int> bandWidths{-1, -1};
    std::vector<int> rowWidths{-1};
    double ratio = -1.0;
    edgebin::StrokeMeasurement report{true, {-1}};  // must be reset
};

Description Estimate(const cv::Mat& mask) {
    Description d;
    d.ratio = EstimateStrokeWidth(mask, d.bands, d.bandWidths, d.rowWidths, &d.report);
    return d;
}

std::vector<std::pair<int, int>> Spans(const std::vector<LineBand>& bands) {
    std::vector<std::pair<int, int>> spans;
    for (const LineBand& band : bands) {
        spans.emplace_back(band.top, band.bottom);
    }
    return spans;
}

}  // namespace

TEST(RaiseMinimumWidthsTest, RaisesMinimaOneBelowANeighbour) {
    // Each entry rises once only, so a staircase ({2, 3, 4}) does not climb to the top.
    const std::vector<std::pair<std::vector<int>, std::vector<int>>> cases = {
        {{3, 4, 3}, {4, 4, 4}},
        {{3, 3, 4}, {4, 4, 4}},
        {{2, 5, 2}, {2, 5, 2}},
        {{2, 3, 4}, {3, 4, 4}},
        {{3}, {3}},
        {{}, {}}};
    for (const auto& [widths, expected] : cases) {
        std::vector<int> raised = widths;
        RaiseMinimumWidths(raised);
        EXPECT_EQ(raised, expected);
    }
}

TEST(IntegrateBandStrokeWidthsTest, RatioCountsEveryBandBeforeWideOnesAreDropped) {
    cv::Mat mask = cv::Mat::zeros(100, 100, CV_8UC1);
    DrawStrokes(mask, 10, 40, 3);
    // Gaps 20, 20, 20, 20, 10 in row 61: width 20, above the limit of 10.
    DrawStrokes(mask, 60, 62, 20);
    mask.rowRange(60, 63).col(91).setTo(255);
    std::vector<LineBand> bands{{0, 10, 99, 40}, {0, 60, 99, 62}};
    std::vector<int> widths;
    const double ratio = IntegrateBandStrokeWidths(mask, bands, widths);
    // First band: 29 inner rows of 32 gaps of 3; second band: peak 4 of 5 gaps.
    EXPECT_DOUBLE_EQ(ratio, (29.0 * 32 + 4) / (29.0 * 32 + 5));
    EXPECT_EQ(widths, (std::vector<int>{3}));
    EXPECT_EQ(Spans(bands), (std::vector<std::pair<int, int>>{{0, 99}}));
}

TEST(EstimateStrokeWidthTest, BandsTheirWidthsAndTheWidthLimit) {
    // Blocks of strokes (rows top..bottom, period; period 0: full rows). From fifty
    // rows on the mask is split into bands, bands below twenty rows go when a
    // taller one exists, and widths above a tenth of the shorter side (at most 30)
    // are dropped; rows take their band's width, uncovered rows 0. Fewer rows are
    // measured as one block, which reports no band widths.
    struct Block {
        int top, bottom, period;
    };
    const struct {
        int rows, cols;
        std::vector<Block> blocks;
        double ratio;
        std::vector<std::pair<int, int>> spans;
        std::vector<int> widths;
    } cases[] = {
        // 24 gaps of 5 and 20 of 3 in one block: the peak's share of the gaps.
        {49, 64, {{10, 13, 5}, {20, 22, 3}}, 24.0 / 44, {{0, 48}}, {5}},
        {50, 50, {{10, 30, 5}}, 1.0, {{0, 49}}, {5}},
        {50, 50, {{10, 30, 6}}, 0.0, {}, {}},
        {95, 120, {{20, 60, 9}}, 1.0, {{0, 94}}, {9}},
        {95, 120, {{20, 60, 10}}, 0.0, {}, {}},
        {250, 1000, {{20, 60, 25}}, 1.0, {{0, 249}}, {25}},
        {250, 1000, {{20, 60, 26}}, 0.0, {}, {}},
        {2000, 3000, {{20, 60, 30}}, 1.0, {{0, 1999}}, {30}},
        {2000, 3000, {{20, 60, 31}}, 0.0, {}, {}},
        {200, 100, {{10, 40, 3}, {60, 65, 8}, {120, 160, 6}}, 1.0, {{0, 80}, {81, 199}}, {3, 6}},
        // A band of 20 rows stays beside a taller one; with none taller, all stay.
        {100, 100, {{5, 24, 3}, {30, 50, 4}, {60, 90, 6}}, 1.0, {{0, 55}, {56, 99}}, {4, 6}},
        {60, 100, {{5, 25, 3}, {35, 40, 6}}, 1.0, {{0, 30}, {31, 59}}, {3, 6}},
        // Adjacent bands of equal width merge, each band's edges halfway to the next;
        // widths one below a neighbour's are raised first.
        {150, 100, {{10, 30, 4}, {50, 70, 4}, {90, 110, 7}}, 1.0, {{0, 80}, {81, 149}}, {4, 7}},
        {150,
         100,
         {{10, 30, 4}, {50, 70, 7}, {90, 110, 4}},
         1.0,
         {{0, 40}, {41, 80}, {81, 149}},
         {4, 7, 4}},
        {150, 100, {{10, 30, 4}, {50, 70, 4}, {90, 110, 5}}, 1.0, {{0, 149}}, {5}},
        // A band without gaps keeps its raw width (the last column) but no ratio. 64
        // rows fill whole words of row flags: a read past the last row leaves them.
        {64, 40, {{10, 35, 0}}, 0.0, {{10, 35}}, {39}},
    };
    for (const auto& c : cases) {
        cv::Mat mask = cv::Mat::zeros(c.rows, c.cols, CV_8UC1);
        for (const Block& block : c.blocks) {
            if (block.period == 0) {
                mask.rowRange(block.top, block.bottom + 1).setTo(255);
            } else {
                DrawStrokes(mask, block.top, block.bottom, block.period);
            }
        }
        const Description d = Estimate(mask);
        SCOPED_TRACE(testing::Message()
                     << c.rows << "x" << c.cols << " period " << c.blocks[0].period);
        EXPECT_DOUBLE_EQ(d.ratio, c.ratio);
        EXPECT_EQ(Spans(d.bands), c.spans);
        EXPECT_EQ(d.bandWidths, c.widths);
        EXPECT_FALSE(d.report.emptyMask);
        EXPECT_EQ(d.report.bandStrokeWidths,
                  c.ratio > 0.0 && c.rows >= 50 ? c.widths : std::vector<int>{});
        std::vector<int> rowWidths(static_cast<size_t>(c.rows), 0);
        for (size_t i = 0; i < c.spans.size(); ++i) {
            std::fill(rowWidths.begin() + c.spans[i].first,
                      rowWidths.begin() + c.spans[i].second + 1, c.widths[i]);
        }
        EXPECT_EQ(d.rowWidths, rowWidths);
        for (const LineBand& band : d.bands) {
            EXPECT_EQ(band.left, 0);
            EXPECT_EQ(band.right, c.cols - 1);
        }
    }
}

TEST(EstimateStrokeWidthTest, BlankMasksMeasureNothing) {
    // Only a mask of fifty rows or more is split into bands, and says so.
    const std::vector<std::pair<cv::Mat, bool>> cases = {{cv::Mat::zeros(60, 30, CV_8UC1), true},
                                                         {cv::Mat::zeros(20, 30, CV_8UC1), false},
                                                         {cv::Mat(), false}};
    for (const auto& [mask, empty] : cases) {
        const Description d = Estimate(mask);
        EXPECT_EQ(d.ratio, 0.0) << mask.rows;
        EXPECT_EQ(d.report.emptyMask, empty) << mask.rows;
        EXPECT_TRUE(d.report.bandStrokeWidths.empty() && d.bands.empty() && d.bandWidths.empty() &&
                    d.rowWidths.empty())
            << mask.rows;
    }
}
