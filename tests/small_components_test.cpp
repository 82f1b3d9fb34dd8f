#include <gtest/gtest.h>

#include "common/small_components.h"
#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

// Result page from text: '#' is ink (0), anything else paper (255).
cv::Mat Page(const std::vector<std::string>& rows) {
    return 255 - MaskFromText(rows);
}

// An 8-pixel diagonal whose box also holds a 12-pixel block, and a long stroke
// outside that box.
const std::vector<std::string> kDiagonal = {
    "#.........#", ".#........#", "..#.......#", "...#......#", "....#.....#",
    "###..#....#", "###...#...#", "###....#..#", "..........#",
};

cv::Mat Cleaned(const cv::Mat& page, const cv::Mat& keep, const std::vector<int>& widths,
                double factor) {
    cv::Mat dst = page.clone();
    RemoveSmallComponents(keep.empty() ? cv::Mat::zeros(dst.size(), CV_8UC1) : keep, widths, factor,
                          dst);
    return dst;
}

}  // namespace

TEST(RemoveSmallComponents, ClearsTheWholeBoxOfASpeckUnlessAKeptInkPixelIsInIt) {
    const cv::Mat page = Page(kDiagonal);
    const std::vector<int> widths(9, 1);  // side 3: components below 9 pixels go
    // The block is large enough on its own but lies in the diagonal's box.
    EXPECT_TRUE(SamePixels(Cleaned(page, cv::Mat(), widths, 1.0),
                           Page(std::vector<std::string>(9, "..........#"))));
    const struct {
        cv::Point keepAt;
        bool kept;
    } cases[] = {{{3, 3}, true},     // on the diagonal itself
                 {{1, 6}, true},     // ink of the block inside the box
                 {{5, 2}, false},    // paper inside the box
                 {{10, 2}, false}};  // ink outside the box
    for (const auto& c : cases) {
        cv::Mat keep = cv::Mat::zeros(page.size(), CV_8UC1);
        keep.at<unsigned char>(c.keepAt) = 1;
        EXPECT_EQ(SamePixels(Cleaned(page, keep, widths, 1.0), page), c.kept) << c.keepAt;
    }
}

TEST(RemoveSmallComponents, SizeLimitIsTheClampedWidthOfTheMiddleRow) {
    // Side trunc(width x factor) within [3, 10], squared, from the row halfway
    // down the component's box (rounded down).
    const struct {
        int inkRows, inkCols, width;
        double factor;
        bool removed;
    } cases[] = {{9, 11, 25, 1.0, true}, {10, 10, 25, 1.0, false}, {2, 4, 0, 1.0, true},
                 {3, 3, 0, 1.0, false},  {3, 5, 9, 0.5, true},     {4, 4, 9, 0.5, false}};
    for (const auto& c : cases) {
        cv::Mat page(14, 14, CV_8UC1, cv::Scalar(255));
        page(cv::Rect(1, 1, c.inkCols, c.inkRows)).setTo(0);
        const cv::Mat dst = Cleaned(page, cv::Mat(), std::vector<int>(14, c.width), c.factor);
        EXPECT_EQ(cv::countNonZero(dst == 0) == 0, c.removed) << c.inkRows << "x" << c.inkCols;
    }
    // 9 ink pixels on rows 2..5: the middle row is 3, not 4.
    const cv::Mat page = Page({"......", "......", ".###..", ".##...", ".##...", ".##..."});
    std::vector<int> widths(6, 4);
    widths[3] = 3;
    EXPECT_TRUE(SamePixels(Cleaned(page, cv::Mat(), widths, 1.0), page));
}
