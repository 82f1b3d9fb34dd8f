#include <gtest/gtest.h>

#include <vector>

#include "stroke/stroke_map.h"
#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

int CountDifferences(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat differs;
    cv::compare(a, b, differs, cv::CMP_NE);
    return cv::countNonZero(differs);
}

// A horizontal run of `pixels` edge pixels, wrapped onto following rows when it
// is longer than `rowLength`; it stays one 8-connected component.
void DrawComponent(cv::Mat& map, int top, int left, int pixels, int rowLength) {
    for (int i = 0; i < pixels; ++i) {
        map.at<unsigned char>(top + i / rowLength, left + i % rowLength) = 255;
    }
}

}  // namespace

TEST(ClearUndersizedComponentsTest, SizeLimitIsClampedSquareOfWidthTimesFactor) {
    struct Case {
        int width;
        int side;
    };
    // trunc(4 * 0.6) = 2 -> 3; trunc(20 * 0.6) = 12 -> 10; 5 -> 3; 9 -> 5.
    for (const Case& c : {Case{4, 3}, Case{20, 10}, Case{5, 3}, Case{9, 5}}) {
        cv::Mat map = cv::Mat::zeros(40, 60, CV_8UC1);
        const int limit = c.side * c.side;
        DrawComponent(map, 2, 2, limit - 1, 20);
        DrawComponent(map, 20, 2, limit, 20);
        ClearUndersizedComponents(map, std::vector<int>(40, c.width), 0.6);
        EXPECT_EQ(cv::countNonZero(map.rowRange(0, 18)), 0) << "width " << c.width;
        EXPECT_EQ(cv::countNonZero(map.rowRange(18, 40)), limit) << "width " << c.width;
    }
}

TEST(ClearUndersizedComponentsTest, WidthComesFromTheComponentsMiddleRow) {
    // A vertical stroke of 12 pixels over rows 2..13: middle row 7.
    for (int middleWidth : {20, 4}) {
        cv::Mat map = cv::Mat::zeros(20, 10, CV_8UC1);
        map.rowRange(2, 14).col(5).setTo(255);
        std::vector<int> rowWidths(20, middleWidth == 20 ? 4 : 20);
        rowWidths[7] = middleWidth;
        ClearUndersizedComponents(map, rowWidths, 0.6);
        EXPECT_EQ(cv::countNonZero(map), middleWidth == 20 ? 0 : 12);
    }
}

TEST(ClearUndersizedComponentsTest, ClearsTheWholeBoxOfASmallComponent) {
    cv::Mat map = MaskFromText({
        "..............................",
        "..#.#######################...",
        "..#...........................",
        "..#...........................",
        "..####........................",
        "..............................",
    });
    const cv::Mat expected = MaskFromText({
        "..............................",
        "......#####################...",
        "..............................",
        "..............................",
        "..............................",
        "..............................",
    });
    ClearUndersizedComponents(map, std::vector<int>(6, 4), 0.6);
    EXPECT_EQ(CountDifferences(map, expected), 0);
}

TEST(ClearUndersizedComponentsTest, LeavesZeroAnd255) {
    cv::Mat map = cv::Mat::zeros(20, 20, CV_8UC1);
    map.rowRange(5, 8).colRange(2, 18).setTo(1);
    map.at<unsigned char>(6, 10) = 9;
    ClearUndersizedComponents(map, std::vector<int>(20, 3), 0.6);
    EXPECT_EQ(cv::countNonZero(map == 255), 48);
    EXPECT_EQ(cv::countNonZero(map), 48);
}

TEST(ClearUndersizedComponentsTest, RefusesWithoutOneWidthPerRow) {
    const cv::Mat original = MaskFromText({"#...", "....", "..##"}, 1);
    for (size_t widths : {2u, 4u, 0u}) {
        cv::Mat map = original.clone();
        ClearUndersizedComponents(map, std::vector<int>(widths, 3), 0.6);
        EXPECT_EQ(CountDifferences(map, original), 0) << widths << " widths";
    }
    cv::Mat empty;
    ClearUndersizedComponents(empty, {}, 0.6);
    EXPECT_TRUE(empty.empty());
}

TEST(CleanStrokeMapTest, KeepsTextStrokesAndDropsSpecksAndSparsePixels) {
    cv::Mat map = cv::Mat::zeros(100, 200, CV_8UC1);
    map.rowRange(20, 23).colRange(80, 180).setTo(255);
    // Too small for width 3 (needs 9 pixels).
    map.rowRange(70, 72).colRange(30, 33).setTo(255);
    // Big enough as a component, but only 12 pixels in any 18 x 18 window.
    for (int i = 0; i < 12; ++i) {
        map.at<unsigned char>(50 + i, 100 + i) = 255;
    }
    cv::Mat expected = cv::Mat::zeros(100, 200, CV_8UC1);
    expected.rowRange(20, 23).colRange(80, 180).setTo(1);
    const std::vector<LineBand> bands{{0, 0, 199, 99}};
    const std::vector<int> bandWidths{3};
    CleanStrokeMap(map, std::vector<int>(100, 3), bands, bandWidths, 0.6);
    EXPECT_EQ(CountDifferences(map, expected), 0);
    EXPECT_EQ(bandWidths, std::vector<int>{3});
}

TEST(CleanStrokeMapTest, ReturnsZeroAndOneEvenWhenNothingIsRemoved) {
    cv::Mat map = cv::Mat::zeros(60, 60, CV_8UC1);
    map.rowRange(10, 50).colRange(10, 50).setTo(200);
    const std::vector<LineBand> bands{{0, 0, 59, 29}, {0, 30, 59, 59}};
    CleanStrokeMap(map, std::vector<int>(60, 2), bands, {2, 2}, 0.6);
    EXPECT_EQ(cv::countNonZero(map == 1), 40 * 40);
    EXPECT_EQ(cv::countNonZero(map), 40 * 40);
}

TEST(CleanStrokeMapTest, RefusesIncompleteDescriptionsLeavingTheMapExactlyAsItWas) {
    cv::Mat original = cv::Mat::zeros(40, 40, CV_8UC1);
    original.rowRange(10, 13).colRange(5, 35).setTo(255);
    original.at<unsigned char>(30, 30) = 255;
    const std::vector<LineBand> full{{0, 0, 39, 39}};
    const std::vector<LineBand> partial{{0, 0, 39, 35}};
    const std::vector<int> allRows(40, 3);
    const std::vector<int> someRows(39, 3);

    cv::Mat map = original.clone();
    CleanStrokeMap(map, someRows, full, {3}, 0.6);
    EXPECT_EQ(CountDifferences(map, original), 0);
    CleanStrokeMap(map, allRows, partial, {3}, 0.6);
    EXPECT_EQ(CountDifferences(map, original), 0);
    CleanStrokeMap(map, allRows, full, {}, 0.6);
    EXPECT_EQ(CountDifferences(map, original), 0);
    CleanStrokeMap(map, {}, {}, {}, 0.6);
    EXPECT_EQ(CountDifferences(map, original), 0);

    CleanStrokeMap(map, allRows, full, {3}, 0.6);
    EXPECT_EQ(map.at<unsigned char>(11, 20), 1);
    EXPECT_EQ(map.at<unsigned char>(30, 30), 0);

    cv::Mat empty;
    CleanStrokeMap(empty, {}, {}, {}, 0.6);
    EXPECT_TRUE(empty.empty());
}
