#include "global/enhance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

struct SyntheticPage {
    cv::Mat gray;
    cv::Mat ink;  // 255 where text was drawn
};

// Paper lit from the left (220 falling to 90 across the page), a soft dark stain
// and three lines of text whose ink is 35 % of the paper under it.
SyntheticPage UnevenPage() {
    const int rows = 300;
    const int cols = 420;
    cv::Mat paper = Filled<double>(
        rows, cols, [&](int y, int x) { return 220.0 - 130.0 * x / (cols - 1) - 0.05 * y; });
    cv::Mat stain = cv::Mat::zeros(rows, cols, CV_64F);
    cv::ellipse(stain, cv::Point(150, 170), cv::Size(90, 60), 20, 0, 360, cv::Scalar(1.0), -1);
    cv::GaussianBlur(stain, stain, cv::Size(0, 0), 12);
    paper = paper.mul(1.0 - 0.35 * stain);

    SyntheticPage page;
    page.ink = cv::Mat::zeros(rows, cols, CV_8UC1);
    const char* lines[] = {"Met the vicar at noon;", "rain again, roads bad.", "Wrote to Mother."};
    for (int i = 0; i < 3; ++i) {
        cv::putText(page.ink, lines[i], cv::Point(15, 70 + 90 * i), cv::FONT_HERSHEY_SIMPLEX, 1.1,
                    cv::Scalar(255), 3);
    }
    cv::Mat inkFactor;
    page.ink.convertTo(inkFactor, CV_64F, -0.65 / 255.0, 1.0);
    cv::Mat noise(rows, cols, CV_64F);
    cv::RNG rng(7);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, 2.0);
    cv::Mat image = paper.mul(inkFactor) + noise;
    image.convertTo(page.gray, CV_8U);
    return page;
}

// Per 30 x 30 tile with enough of both (at least 10 pixels; a quarter of the tile
// for paper alone), the mean of `image` over the paper and over the ink.
struct TileMeans {
    std::vector<double> paper;
    std::vector<std::pair<double, double>> paperAndInk;
};

TileMeans MeansPerTile(const cv::Mat& image, const cv::Mat& paper, const cv::Mat& ink) {
    TileMeans means;
    for (int y = 0; y + 30 <= image.rows; y += 30) {
        for (int x = 0; x + 30 <= image.cols; x += 30) {
            const cv::Rect r(x, y, 30, 30);
            const int paperCount = cv::countNonZero(paper(r));
            const double paperMean = cv::mean(image(r), paper(r))[0];
            if (paperCount >= 225) {
                means.paper.push_back(paperMean);
            }
            if (paperCount >= 10 && cv::countNonZero(ink(r)) >= 10) {
                means.paperAndInk.emplace_back(paperMean, cv::mean(image(r), ink(r))[0]);
            }
        }
    }
    return means;
}

double Spread(const std::vector<double>& values) {
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    return *hi - *lo;
}

TEST(EnhancePageTest, FlattensUnevenPaperAndEvensOutTheInkContrast) {
    const SyntheticPage page = UnevenPage();
    // Paper at least four pixels from any ink, and ink without its anti-aliased rim.
    cv::Mat nearInk;
    cv::Mat ink;
    cv::dilate(page.ink, nearInk, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(9, 9)));
    cv::erode(page.ink, ink, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    const cv::Mat paper = nearInk == 0;
    ASSERT_GT(Spread(MeansPerTile(page.gray, paper, ink).paper), 120.0);

    cv::Mat enhanced, background;
    EnhancePage(page.gray, 60, 0.2, enhanced, background);
    ASSERT_EQ(enhanced.type(), CV_8UC1);
    ASSERT_EQ(enhanced.size(), page.gray.size());

    // The soft rim of the stain is the hardest place; elsewhere the paper is flat
    // to a few levels. Ink stays darker than the paper around it everywhere on
    // the page, including on the dark right side and inside the stain.
    const TileMeans means = MeansPerTile(enhanced, paper, ink);
    EXPECT_LT(Spread(means.paper), 30.0);
    EXPECT_GT(*std::min_element(means.paper.begin(), means.paper.end()), 225.0);
    EXPECT_GT(means.paperAndInk.size(), 10u);
    for (const auto& [paperMean, inkMean] : means.paperAndInk) {
        EXPECT_LT(inkMean, paperMean - 80.0);
    }

    // The same ink on brightly and on dimly lit paper: in the input its step to the
    // paper is more than 1.5 times larger on the left than on the right; after the
    // enhancement the two steps agree within 10 %.
    const int third = page.gray.cols / 3;
    const cv::Rect left(0, 0, third, page.gray.rows);
    const cv::Rect right(2 * third, 0, page.gray.cols - 2 * third, page.gray.rows);
    const auto step = [&](const cv::Mat& image, const cv::Rect& r) {
        return cv::mean(image(r), paper(r))[0] - cv::mean(image(r), ink(r))[0];
    };
    ASSERT_GT(step(page.gray, left), 1.5 * step(page.gray, right));
    EXPECT_NEAR(step(enhanced, left), step(enhanced, right), 0.1 * step(enhanced, left));
}

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
    divisionAndBorders.deepenInk = false;
    EnhancePageWith(page, 60, 0.2, divisionAndBorders, enhanced, background);
    EXPECT_EQ(extremes(bar).first, 49.0);
    EXPECT_EQ(extremes(bar).second, 49.0);
}

TEST(EnhancePageTest, InkTestIsExactAtTheTie) {
    // Window 2 on the row [200, 100]: pixel 0 sees 200 four times (paper); pixel 1
    // sees 200, 200, 100, 100, so N*g - S = -200 and N*Q - S*S = 40000: at weight 1
    // the ink test sits exactly on its edge and keeps the pixel as paper.
    const cv::Mat row = (cv::Mat_<unsigned char>(1, 2) << 200, 100);
    cv::Mat enhanced, background;
    // The division alone: the deepening would move pixel 1 on.
    EnhanceSettings division;
    division.deepenInk = false;
    EnhancePageWith(row, 2, 1.0, division, enhanced, background);
    // Paper 150 under pixel 1: 100 / 150 * 255 = 170.
    EXPECT_EQ(enhanced.at<unsigned char>(0, 0), 255);
    EXPECT_EQ(enhanced.at<unsigned char>(0, 1), 170);
    EXPECT_EQ(background.at<unsigned char>(0, 0), 200);
    EXPECT_EQ(background.at<unsigned char>(0, 1), 150);

    // Just below the tie pixel 1 is ink and its paper is the two 200s: 127.5
    // rounds half to even.
    EnhancePageWith(row, 2, std::nextafter(1.0, 0.0), division, enhanced, background);
    EXPECT_EQ(enhanced.at<unsigned char>(0, 1), 128);
    EXPECT_EQ(background.at<unsigned char>(0, 1), 200);
}

}  // namespace
