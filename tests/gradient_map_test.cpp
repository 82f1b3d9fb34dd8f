#include "global/gradient_map.h"

#include <gtest/gtest.h>

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

}  // namespace
