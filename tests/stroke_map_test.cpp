// The stroke map cleaning is shared by the fast edge refinement and its oracle,
// so it is checked here on its own, on cases worked out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "stroke/stroke_map.h"
#include "support/test_support.h"

using namespace edgebin::detail;

TEST(ClearUndersizedComponentsTest, SizeLimitIsTheClampedSquareOfTheMiddleRowsWidth) {
    // Side trunc(width x 0.6) within [3, 10]: 4 -> 3, 20 -> 10, 5 -> 3, 9 -> 5. A
    // component one pixel short of side x side goes, one of exactly that stays.
    for (const auto& [width, side] : {std::pair{4, 3}, {20, 10}, {5, 3}, {9, 5}}) {
        cv::Mat map = cv::Mat::zeros(40, 60, CV_8UC1);
        for (int i = 0; i < side * side; ++i) {  // runs of 20 pixels, row under row
            if (i + 1 < side * side) {
                map.at<unsigned char>(2 + i / 20, 2 + i % 20) = 255;
            }
            map.at<unsigned char>(20 + i / 20, 2 + i % 20) = 1;
        }
        ClearUndersizedComponents(map, std::vector<int>(40, width), 0.6);
        EXPECT_EQ(cv::countNonZero(map.rowRange(0, 18)), 0) << "width " << width;
        EXPECT_EQ(cv::countNonZero(map == 255), side * side) << "width " << width;
    }
    // A vertical stroke of 12 pixels over rows 2..13 takes the width of row 7.
    for (const int middleWidth : {20, 4}) {
        cv::Mat map = cv::Mat::zeros(20, 10, CV_8UC1);
        map.rowRange(2, 14).col(5).setTo(255);
        std::vector<int> rowWidths(20, middleWidth == 20 ? 4 : 20);
        rowWidths[7] = middleWidth;
        ClearUndersizedComponents(map, rowWidths, 0.6);
        EXPECT_EQ(cv::countNonZero(map), middleWidth == 20 ? 0 : 12);
    }
}

TEST(ClearUndersizedComponentsTest, ClearsTheWholeBoxOfASmallComponent) {
    cv::Mat map =
        MaskFromText({"..#.#######################...", "..#...........................",
                      "..#...........................", "..####........................"});
    ClearUndersizedComponents(map, std::vector<int>(4, 4), 0.6);
    const std::string blank(30, '.');
    EXPECT_TRUE(
        SamePixels(map, MaskFromText({"......#####################...", blank, blank, blank})));
    // A map that is not 8-bit, or widths that are not one per row: refused, left as it was.
    cv::Mat wide;
    MaskFromText({"#.", ".."}).convertTo(wide, CV_16U);
    for (auto [refused, rows] : {std::pair{MaskFromText({"#.", ".."}), 1}, {wide, 2}}) {
        const cv::Mat before = refused.clone();
        ClearUndersizedComponents(refused, std::vector<int>(rows, 4), 0.6);
        EXPECT_EQ(cv::countNonZero(refused != before), 0) << refused.type();
    }
}

TEST(CleanStrokeMapTest, KeepsTextStrokesAndDropsSpecksAndSparsePixels) {
    cv::Mat map = cv::Mat::zeros(100, 200, CV_8UC1);
    map.rowRange(20, 23).colRange(80, 180).setTo(200);
    const cv::Mat line = map / 200;
    // Too small for width 3 (needs 9 pixels).
    map.rowRange(70, 72).colRange(30, 33).setTo(255);
    // Big enough as a component, but only 12 pixels in any 18 x 18 window.
    for (int i = 0; i < 12; ++i) {
        map.at<unsigned char>(50 + i, 100 + i) = 255;
    }
    const cv::Mat original = map.clone();
    const std::vector<LineBand> bands{{0, 0, 199, 99}};
    const std::vector<int> rows(100, 3);
    // Incomplete descriptions leave the map exactly as it was.
    CleanStrokeMap(map, std::vector<int>(99, 3), bands, {3}, 0.6);
    CleanStrokeMap(map, rows, {{0, 0, 199, 98}}, {3}, 0.6);
    CleanStrokeMap(map, rows, bands, {}, 0.6);
    EXPECT_TRUE(SamePixels(map, original));
    CleanStrokeMap(map, rows, bands, {3}, 0.6);
    EXPECT_TRUE(SamePixels(map, line));
}
