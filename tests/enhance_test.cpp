// Worked examples of the page enhancement: dark borders, the ink deepening and
// the ink test at its tie. Everything else is in the comparison with the
// straightforward enhancement in stage_equivalence_test.
#include "global/enhance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

using namespace edgebin::detail;

namespace {

TEST(EnhancePageTest, FillsDarkBordersAndDeepensInkWithoutAHalo) {
    // Paper 210 with a dark border 40 pixels wide on the left and a dark bar of ink
    // (40) four pixels high: the border is wider than any stroke and touches the
    // page's edge, so it becomes paper. The bar divides to 40 / 210 * 255 = 49 and
    // is then deepened by its gap to the mean of its 13x13 surroundings, more than
    // 49 everywhere on a bar this narrow, so it reaches 0; the paper beside it,
    // brighter than its surroundings, stays 255.
    cv::Mat page(200, 300, CV_8UC1, cv::Scalar(210));
    page.colRange(0, 40).setTo(30);
    const cv::Rect bar(80, 50, 180, 4);
    page(bar).setTo(40);
    cv::Mat enhanced, background;
    EnhancePage(page, 60, 0.2, enhanced, background);
    const auto extremes = [&enhanced](const cv::Rect& r) {
        double lo = 0.0;
        double hi = 0.0;
        cv::minMaxLoc(enhanced(r), &lo, &hi);
        return std::make_pair(lo, hi);
    };
    EXPECT_EQ(extremes(cv::Rect(0, 0, 40, 200)).first, 255.0);      // the border and its rim
    EXPECT_EQ(extremes(cv::Rect(270, 100, 30, 100)).first, 255.0);  // blank paper
    EXPECT_EQ(extremes(bar).second, 0.0);
    EXPECT_EQ(extremes(cv::Rect(70, 44, 200, 6)).first, 255.0);  // above the bar
    EXPECT_EQ(extremes(cv::Rect(70, 54, 200, 6)).first, 255.0);  // below it

    // Without the deepening the bar keeps the value of the division.
    EnhanceSettings divisionAndBorders;
    divisionAndBorders.deepening = InkDeepening::kNever;
    EnhancePageWith(page, 60, 0.2, divisionAndBorders, enhanced, background);
    EXPECT_EQ(extremes(bar).first, 49.0);
    EXPECT_EQ(extremes(bar).second, 49.0);
}

TEST(EnhancePageTest, InkTestIsExactAtTheTie) {
    // Window 2 on the row [200, 100] repeated: pixel 0 sees 200 four times (paper);
    // every 100 sees 200, 200, 100, 100, so N*g - S = -200 and N*Q - S*S = 40000: at
    // weight 1 the ink test sits exactly on its edge and keeps the pixel as paper.
    // Eight pixels, so that the ties fall in whole vectors as well as alone.
    cv::Mat row(1, 8, CV_8UC1);
    for (int x = 0; x < row.cols; ++x) {
        row.at<unsigned char>(0, x) = x % 2 == 0 ? 200 : 100;
    }
    cv::Mat enhanced, background;
    // The division alone: the deepening would move the 100s on.
    EnhanceSettings division;
    division.deepening = InkDeepening::kNever;
    const auto expectOdd = [&](int enhancedValue, int paperValue) {
        for (int x = 1; x < row.cols; x += 2) {
            EXPECT_EQ(enhanced.at<unsigned char>(0, x), enhancedValue) << "x " << x;
            EXPECT_EQ(background.at<unsigned char>(0, x), paperValue) << "x " << x;
        }
    };
    EnhancePageWith(row, 2, 1.0, division, enhanced, background);
    // Paper 150 under the 100s: 100 / 150 * 255 = 170.
    EXPECT_EQ(enhanced.at<unsigned char>(0, 0), 255);
    EXPECT_EQ(background.at<unsigned char>(0, 0), 200);
    expectOdd(170, 150);

    // Just below the tie the 100s are ink and their paper is the two 200s: 127.5
    // rounds half to even.
    EnhancePageWith(row, 2, std::nextafter(1.0, 0.0), division, enhanced, background);
    expectOdd(128, 200);
    // Just above it, paper again.
    EnhancePageWith(row, 2, std::nextafter(1.0, 2.0), division, enhanced, background);
    expectOdd(170, 150);
}

TEST(EnhancePageTest, InkTestIsExactNearTheTieOnFlatPaper) {
    // One row of 200 with a 100 at x 32, window 61 (the rows reflect into 61 copies):
    // the 100 sees N = 3721, d = -366000 and spread = 2232600000, d^2 / spread = 60,
    // its tie at weight sqrt(60). On paper this flat, spread is a small difference of
    // two sums near 5.5e11, far beyond single precision. As paper its level is the
    // window's mean 198.36 (100 / 198.36 * 255 = 129); as ink it is 200 (127.5, 128).
    cv::Mat row(1, 64, CV_8UC1, cv::Scalar(200));
    row.at<unsigned char>(0, 32) = 100;
    EnhanceSettings division;
    division.deepening = InkDeepening::kNever;
    cv::Mat enhanced, background;
    const double tie = std::sqrt(60.0);
    EnhancePageWith(row, 61, tie * (1.0 + 1e-6), division, enhanced, background);
    EXPECT_EQ(enhanced.at<unsigned char>(0, 32), 129);
    EnhancePageWith(row, 61, tie * (1.0 - 1e-6), division, enhanced, background);
    EXPECT_EQ(enhanced.at<unsigned char>(0, 32), 128);
}

TEST(EnhancePageTest, RejectsWhatItCannotComputeExactly) {
    // Past 2048 the ink test's sums leave int64; two channels are no page.
    const cv::Mat page(8, 8, CV_8UC1, cv::Scalar(200));
    const cv::Mat twoChannels(8, 8, CV_8UC2, cv::Scalar(200, 200));
    const struct {
        const cv::Mat* page;
        int window;
    } cases[] = {{&page, 0}, {&page, 2049}, {&twoChannels, 15}};
    for (const auto& c : cases) {
        cv::Mat enhanced, background;
        EXPECT_THROW(EnhancePage(*c.page, c.window, 0.5, enhanced, background), cv::Exception)
            << c.window;
    }
    cv::Mat enhanced, background;
    EXPECT_NO_THROW(EnhancePage(page, 2048, 0.5, enhanced, background));
}

}  // namespace
