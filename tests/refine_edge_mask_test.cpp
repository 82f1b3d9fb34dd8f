#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "local/refine_edge_mask.h"
#include "pipeline/direction_maps.h"
#include "stroke/stroke_map.h"
#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

struct StrokeDescription {
    std::vector<LineBand> bands;
    std::vector<int> bandWidths;
    std::vector<int> rowWidths;
};

// Full-width bands stacked from the top, band i with `heights[i]` rows and width
// `widths[i]`.
StrokeDescription Bands(int cols, const std::vector<int>& heights, const std::vector<int>& widths) {
    StrokeDescription d;
    int top = 0;
    for (size_t i = 0; i < heights.size(); ++i) {
        d.bands.push_back(LineBand{0, top, cols - 1, top + heights[i] - 1});
        d.bandWidths.push_back(widths[i]);
        d.rowWidths.insert(d.rowWidths.end(), heights[i], widths[i]);
        top += heights[i];
    }
    return d;
}

std::vector<cv::Mat> EmptyDirectionMaps(int rows, int cols) {
    std::vector<cv::Mat> maps(9);
    for (cv::Mat& map : maps) {
        map = cv::Mat::zeros(rows, cols, CV_8UC1);
    }
    return maps;
}

// Marks a candidate pixel with the given direction maps.
void Mark(std::vector<cv::Mat>& dirMaps, int y, int x, std::initializer_list<int> directions) {
    dirMaps[0].at<unsigned char>(y, x) = 1;
    for (int j : directions) {
        dirMaps[j].at<unsigned char>(y, x) = 1;
    }
}

// Fills the first `count` cells of a block, row by row, in direction `j`.
void MarkBlock(std::vector<cv::Mat>& dirMaps, cv::Rect block, int count, int j) {
    for (int y = block.y; y < block.y + block.height && count > 0; ++y) {
        for (int x = block.x; x < block.x + block.width && count > 0; ++x, --count) {
            Mark(dirMaps, y, x, {j});
        }
    }
}

// Every pixel an edge pixel: dense enough that the cleaning keeps all of it.
cv::Mat FullEdgeMask(int rows, int cols) {
    return cv::Mat(rows, cols, CV_8UC1, cv::Scalar(255));
}

struct Outcome {
    cv::Mat edges;
    cv::Mat restored;
};

Outcome Refine(cv::Mat edges, std::vector<cv::Mat> dirMaps, const StrokeDescription& d,
               double nearScale, double ratio = 0.75) {
    Outcome out;
    out.edges = edges;
    RefineEdgeMask(out.edges, out.restored, dirMaps, d.bands, d.bandWidths, d.rowWidths, 2,
                   nearScale, ratio);
    return out;
}

bool AllIn(const cv::Mat& map, cv::Rect block, unsigned char value) {
    return cv::countNonZero(map(block) != value) == 0;
}

}  // namespace

TEST(RefineEdgeMask, SuppressesOnlyAboveTheRoundedShare) {
    const int rows = 40;
    const int cols = 60;
    std::vector<cv::Mat> dirMaps = EmptyDirectionMaps(rows, cols);
    // Near windows are 7 x 7, so every pixel of a 3 x 4 block sees the whole block.
    // c = 6, m = 5: t = cvRound(4.5) = 4, suppressed.
    const cv::Rect dominated(5, 5, 3, 2);
    MarkBlock(dirMaps, dominated, 5, 1);
    Mark(dirMaps, 6, 7, {2});
    // c = 10, m = 8: t = cvRound(7.5) = 8, m equals t, left alone.
    const cv::Rect balanced(40, 20, 4, 3);
    MarkBlock(dirMaps, balanced, 8, 1);
    Mark(dirMaps, 22, 40, {2});
    Mark(dirMaps, 22, 41, {2});

    const Outcome out = Refine(FullEdgeMask(rows, cols), dirMaps, Bands(cols, {rows}, {1}), 7.0);
    // Removed pixels of the first block: far c = 6, m = 5 >= 4, not given back.
    EXPECT_TRUE(AllIn(out.edges, dominated, 0));
    EXPECT_TRUE(AllIn(out.restored, dominated, 0));
    EXPECT_TRUE(AllIn(out.edges, cv::Rect(40, 20, 4, 2), 1));
    EXPECT_TRUE(AllIn(out.edges, cv::Rect(40, 22, 2, 1), 1));
    EXPECT_TRUE(AllIn(out.restored, balanced, 0));
    // Far from any direction: c = m = 0, untouched.
    EXPECT_EQ(out.edges.at<unsigned char>(30, 20), 1);
    EXPECT_EQ(cv::countNonZero(out.edges > 1), 0);
}

TEST(RefineEdgeMask, RestoresOnlyBelowTheRoundedShareOfRemovedPixels) {
    const int rows = 30;
    const int cols = 40;
    // A 3 x 3 block of direction 1 and, 5 columns away (outside the 7 x 7 near
    // windows, inside the 20 x 20 far windows), a block of direction 2. Both blocks
    // are suppressed on their own.
    const cv::Rect first(10, 10, 3, 3);
    const cv::Rect second(17, 10, 2, 2);
    const StrokeDescription d = Bands(cols, {rows}, {1});

    // 9 + 3 removed: far t = cvRound(9.0) = 9 = m, kept out.
    std::vector<cv::Mat> dirMaps = EmptyDirectionMaps(rows, cols);
    MarkBlock(dirMaps, first, 9, 1);
    MarkBlock(dirMaps, second, 3, 2);
    Outcome out = Refine(FullEdgeMask(rows, cols), dirMaps, d, 7.0);
    EXPECT_TRUE(AllIn(out.edges, first, 0));
    EXPECT_TRUE(AllIn(out.restored, first, 0));
    EXPECT_EQ(out.edges.at<unsigned char>(10, 17), 0);

    // 9 + 4 removed: t = cvRound(9.75) = 10 > 9, every removed pixel is given back.
    dirMaps = EmptyDirectionMaps(rows, cols);
    MarkBlock(dirMaps, first, 9, 1);
    MarkBlock(dirMaps, second, 4, 2);
    out = Refine(FullEdgeMask(rows, cols), dirMaps, d, 7.0);
    EXPECT_TRUE(AllIn(out.edges, first, 1));
    EXPECT_TRUE(AllIn(out.restored, first, 255));
    EXPECT_TRUE(AllIn(out.edges, second, 1));
    EXPECT_TRUE(AllIn(out.restored, second, 255));
}

TEST(RefineEdgeMask, SaturatedCountsStillDecide) {
    // Near windows of 260 x 260 on a 260 x 260 page: c saturates at 65535, t = 49151.
    const int side = 260;
    const StrokeDescription d = Bands(side, {side}, {1});
    std::vector<cv::Mat> dirMaps = EmptyDirectionMaps(side, side);
    dirMaps[0].setTo(1);
    dirMaps[1].setTo(1);
    Outcome out = Refine(FullEdgeMask(side, side), dirMaps, d, 260.0);
    EXPECT_EQ(cv::countNonZero(out.edges), 0);
    EXPECT_EQ(cv::countNonZero(out.restored), 0);

    // Direction 1 on two rows of three: at most 260 * 174 = 45240 <= 49151.
    dirMaps = EmptyDirectionMaps(side, side);
    dirMaps[0].setTo(1);
    for (int y = 0; y < side; ++y) {
        dirMaps[y % 3 == 0 ? 2 : 1].row(y).setTo(1);
    }
    out = Refine(FullEdgeMask(side, side), dirMaps, d, 260.0);
    EXPECT_EQ(cv::countNonZero(out.edges), side * side);
}

TEST(RefineEdgeMask, ModesBelowTwoStopEarly) {
    const cv::Mat edges = RandomMask(24, 30, 0.6, 5);
    std::vector<cv::Mat> dirMaps;
    BuildDirectionMaps(cv::Mat(24, 30, CV_16SC1, cv::Scalar(3)),
                       cv::Mat(24, 30, CV_16SC1, cv::Scalar(0)), edges, dirMaps);
    const StrokeDescription d = Bands(30, {10, 14}, {1, 2});
    const cv::Mat before0 = dirMaps[0].clone();

    cv::Mat untouched = edges.clone();
    cv::Mat restored;
    RefineEdgeMask(untouched, restored, dirMaps, d.bands, d.bandWidths, d.rowWidths, 0, 6.0, 0.75);
    EXPECT_EQ(cv::countNonZero(untouched != edges), 0);
    EXPECT_TRUE(restored.empty());

    cv::Mat cleaned = edges.clone();
    RefineEdgeMask(cleaned, restored, dirMaps, d.bands, d.bandWidths, d.rowWidths, 1, 6.0, 0.75);
    cv::Mat expected = edges.clone();
    CleanStrokeMap(expected, d.rowWidths, d.bands, d.bandWidths, 0.6);
    EXPECT_EQ(cv::countNonZero(cleaned != expected), 0);
    EXPECT_TRUE(restored.empty());
    ASSERT_EQ(dirMaps.size(), 9u);
    EXPECT_EQ(dirMaps[0].type(), CV_8UC1);
    EXPECT_EQ(cv::countNonZero(dirMaps[0] != before0), 0);
}

TEST(RefineEdgeMask, IncompleteDescriptionIsRefused) {
    const cv::Mat edges = RandomMask(12, 16, 0.5, 9);
    std::vector<cv::Mat> dirMaps = EmptyDirectionMaps(12, 16);
    StrokeDescription d = Bands(16, {12}, {2});
    d.rowWidths.pop_back();
    cv::Mat refined = edges.clone();
    cv::Mat restored(3, 3, CV_8UC1, cv::Scalar(255));
    RefineEdgeMask(refined, restored, dirMaps, d.bands, d.bandWidths, d.rowWidths, 2, 6.0, 0.75);
    EXPECT_EQ(cv::countNonZero(refined != edges / 255), 0);
    ASSERT_EQ(restored.size(), edges.size());
    EXPECT_EQ(cv::countNonZero(restored), 0);

    // Eight direction maps instead of nine.
    d = Bands(16, {12}, {2});
    dirMaps.pop_back();
    refined = edges.clone();
    RefineEdgeMask(refined, restored, dirMaps, d.bands, d.bandWidths, d.rowWidths, 2, 6.0, 0.75);
    EXPECT_EQ(cv::countNonZero(refined != edges / 255), 0);
}
