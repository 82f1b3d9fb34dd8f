#include <gtest/gtest.h>

#include "pipeline/small_components.h"
#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

// Result page from text: '#' is ink (0), anything else paper (255).
cv::Mat Page(const std::vector<std::string>& rows) {
    return 255 - MaskFromText(rows);
}

bool SameImage(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

// An 8-pixel diagonal whose box also holds a 12-pixel block, and a long stroke
// outside that box.
cv::Mat DiagonalPage() {
    return Page({
        "#.........#",
        ".#........#",
        "..#.......#",
        "...#......#",
        "....#.....#",
        "###..#....#",
        "###...#...#",
        "###....#..#",
        "..........#",
    });
}

cv::Mat Solid(int rows, int cols, int inkRows, int inkCols) {
    cv::Mat page(rows, cols, CV_8UC1, cv::Scalar(255));
    page(cv::Rect(1, 1, inkCols, inkRows)).setTo(0);
    return page;
}

bool Removed(const cv::Mat& page, const std::vector<int>& widths, double factor) {
    cv::Mat dst = page.clone();
    RemoveSmallComponents(cv::Mat::zeros(page.size(), CV_8UC1), widths, factor, dst);
    return cv::countNonZero(dst == 0) == 0;
}

}  // namespace

TEST(RemoveSmallComponents, ClearsTheWholeBoxOfAnUnkeptSpeck) {
    cv::Mat dst = DiagonalPage();
    RemoveSmallComponents(cv::Mat::zeros(dst.size(), CV_8UC1), std::vector<int>(9, 1), 1.0, dst);
    // The block is large enough on its own but lies in the diagonal's box.
    const cv::Mat expected = Page({
        "..........#",
        "..........#",
        "..........#",
        "..........#",
        "..........#",
        "..........#",
        "..........#",
        "..........#",
        "..........#",
    });
    EXPECT_TRUE(SameImage(dst, expected));
}

TEST(RemoveSmallComponents, AnyKeptInkPixelInTheBoxSavesIt) {
    const cv::Mat page = DiagonalPage();
    const std::vector<int> widths(9, 1);
    struct Case {
        cv::Point keepAt;
        bool kept;
    };
    for (const Case& c : {Case{{3, 3}, true},     // on the diagonal itself
                          Case{{1, 6}, true},     // ink of the block inside the box
                          Case{{5, 2}, false},    // paper inside the box
                          Case{{10, 2}, false}})  // ink outside the box
    {
        cv::Mat keep = cv::Mat::zeros(page.size(), CV_8UC1);
        keep.at<unsigned char>(c.keepAt) = 1;
        cv::Mat dst = page.clone();
        RemoveSmallComponents(keep, widths, 1.0, dst);
        EXPECT_EQ(SameImage(dst, page), c.kept) << c.keepAt;
    }
}

TEST(RemoveSmallComponents, SizeLimitFollowsTheClampedStrokeWidth) {
    const std::vector<int> wide(14, 25);  // e = 10
    EXPECT_TRUE(Removed(Solid(14, 14, 9, 11), wide, 1.0));
    EXPECT_FALSE(Removed(Solid(14, 14, 10, 10), wide, 1.0));
    const std::vector<int> none(14, 0);  // e = 3
    EXPECT_TRUE(Removed(Solid(14, 14, 2, 4), none, 1.0));
    EXPECT_FALSE(Removed(Solid(14, 14, 3, 3), none, 1.0));
    const std::vector<int> nine(14, 9);  // trunc(4.5) = 4
    EXPECT_TRUE(Removed(Solid(14, 14, 3, 5), nine, 0.5));
    EXPECT_FALSE(Removed(Solid(14, 14, 4, 4), nine, 0.5));
}

TEST(RemoveSmallComponents, WidthComesFromTheMiddleRowRoundedDown) {
    // 9 ink pixels on rows 2..5: the middle row is 3.
    const cv::Mat page = Page({
        "......",
        "......",
        ".###..",
        ".##...",
        ".##...",
        ".##...",
    });
    std::vector<int> widths(6, 4);  // e = 4 would remove it
    widths[3] = 3;
    EXPECT_FALSE(Removed(page, widths, 1.0));
    widths[3] = 4;
    widths[4] = 3;
    EXPECT_TRUE(Removed(page, widths, 1.0));
}

TEST(RemoveSmallComponents, MakesTheResultTwoLevel) {
    cv::Mat dst = (cv::Mat_<unsigned char>(3, 4) << 0, 0, 0, 7, 0, 0, 0, 128, 0, 0, 0, 254);
    const cv::Mat keep = cv::Mat::zeros(3, 4, CV_8UC1);
    RemoveSmallComponents(keep, {1, 1, 1}, 1.0, dst);
    const cv::Mat expected =
        (cv::Mat_<unsigned char>(3, 4) << 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255);
    EXPECT_TRUE(SameImage(dst, expected));

    cv::Mat white(5, 5, CV_8UC1, cv::Scalar(255));
    RemoveSmallComponents(cv::Mat::zeros(5, 5, CV_8UC1), std::vector<int>(5, 1), 1.0, white);
    EXPECT_EQ(cv::countNonZero(white), 25);
}

TEST(RemoveSmallComponents, WidthListOfTheWrongLengthOnlyBinarizes) {
    cv::Mat dst = DiagonalPage();
    dst.at<unsigned char>(8, 0) = 3;
    const cv::Mat keep = cv::Mat::zeros(dst.size(), CV_8UC1);
    RemoveSmallComponents(keep, std::vector<int>(4, 1), 1.0, dst);
    EXPECT_TRUE(SameImage(dst, DiagonalPage()));
}
