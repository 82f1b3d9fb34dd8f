#include "global/gradient_map.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>

#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

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
