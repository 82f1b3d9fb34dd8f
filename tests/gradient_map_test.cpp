#include "global/gradient_map.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>

#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

TEST(GradientMapTest, VerticalStepsGiveHorizontalDerivativesStretchedToFullRange) {
    // Steps of 50 (after column 4) and 20 (after column 12): the 3x3 Scharr
    // x-kernel sums 3 + 10 + 3 = 16 times the step at the two columns beside it,
    // 800 and 320; the half-sums 400 and 160 are stretched to 255 and 102.
    cv::Mat image(8, 20, CV_8UC1, cv::Scalar(0));
    image.colRange(5, 20).setTo(50);
    image.colRange(13, 20).setTo(70);
    cv::Mat gradX, gradY, gradMap;
    ComputeGradientMap(image, gradX, gradY, gradMap);
    EXPECT_EQ(cv::countNonZero(gradY), 0);
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const int step = x == 4 || x == 5 ? 50 : (x == 12 || x == 13 ? 20 : 0);
            EXPECT_EQ(gradX.at<short>(y, x), 16 * step) << y << "," << x;
            EXPECT_EQ(gradMap.at<unsigned char>(y, x), step == 50 ? 255 : (step == 20 ? 102 : 0))
                << y << "," << x;
        }
    }
}

// OpenCV's own operations on the whole page, as the map is defined, against the
// blocks and bands, and the derivatives made alone: random pages, faint ones (a
// few levels, whose small half-sums the stretch magnifies, so that a half-sum one
// off shows) and one of a few rows.
TEST(GradientMapTest, MatchesOpenCvsOperationsOnTheWholePage) {
    std::mt19937 rng(23);
    for (int trial = 0; trial < 24; ++trial) {
        const int levels = trial % 2 == 0 ? 256 : Uniform(rng, 2, 4);
        const int rows = trial == 0 ? 3 : Uniform(rng, 1, 190);
        const int cols = Uniform(rng, 1, 150);
        const cv::Mat page =
            Filled(rows, cols, [&](int, int) { return Uniform(rng, 0, levels - 1); });
        cv::Mat gradX, gradY, expected;
        cv::Scharr(page, gradX, CV_16S, 1, 0);
        cv::Scharr(page, gradY, CV_16S, 0, 1);
        cv::addWeighted(cv::abs(gradX), 0.5, cv::abs(gradY), 0.5, 0.0, expected, CV_16S);
        cv::normalize(expected, expected, 0, 255, cv::NORM_MINMAX);
        cv::convertScaleAbs(expected, expected);
        cv::Mat actualX, actualY, actual;
        ComputeGradientMap(page, actualX, actualY, actual, 1 + trial % 3);
        EXPECT_TRUE(SamePixels(gradX, actualX) && SamePixels(gradY, actualY)) << trial;
        EXPECT_TRUE(SamePixels(expected, actual)) << trial;
        ComputeDerivatives(page, actualX, actualY, 1 + trial % 4);
        EXPECT_TRUE(SamePixels(gradX, actualX) && SamePixels(gradY, actualY)) << trial;
    }
}

}  // namespace
