#include "global/gradient_map.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

using namespace edgebin::detail;

namespace {

cv::Mat VerticalStep(int rows, int cols, int stepColumn, unsigned char left, unsigned char right) {
    cv::Mat image(rows, cols, CV_8UC1, cv::Scalar(left));
    image.colRange(stepColumn, cols).setTo(right);
    return image;
}

TEST(GradientMapTest, VerticalStepGivesHorizontalDerivativeOnly) {
    // Columns 0..5 hold 50, columns 6.. hold 100: the 3x3 Scharr x-kernel sums
    // 3 + 10 + 3 = 16 times the step of 50 at the two columns beside the step.
    const cv::Mat step = VerticalStep(10, 12, 6, 50, 100);
    cv::Mat gradX, gradY, gradMap;
    ComputeGradientMap(step, gradX, gradY, gradMap);
    EXPECT_EQ(cv::countNonZero(gradY), 0);
    for (int y = 0; y < step.rows; ++y) {
        for (int x = 0; x < step.cols; ++x) {
            const bool besideStep = x == 5 || x == 6;
            EXPECT_EQ(gradX.at<short>(y, x), besideStep ? 800 : 0) << y << "," << x;
            EXPECT_EQ(gradMap.at<unsigned char>(y, x), besideStep ? 255 : 0) << y << "," << x;
        }
    }
}

TEST(GradientMapTest, MagnitudeIsStretchedToFullRange) {
    // Steps of 50 and 20 give half-sums 400 and 160; the stretch maps 400 to 255
    // and 160 to 102.
    cv::Mat image(8, 20, CV_8UC1, cv::Scalar(0));
    image.colRange(5, 20).setTo(50);
    image.colRange(13, 20).setTo(70);
    cv::Mat gradX, gradY, gradMap;
    ComputeGradientMap(image, gradX, gradY, gradMap);
    EXPECT_EQ(gradMap.at<unsigned char>(3, 4), 255);
    EXPECT_EQ(gradMap.at<unsigned char>(3, 5), 255);
    EXPECT_EQ(gradMap.at<unsigned char>(3, 12), 102);
    EXPECT_EQ(gradMap.at<unsigned char>(3, 13), 102);
    EXPECT_EQ(gradMap.at<unsigned char>(3, 9), 0);
}

TEST(GradientMapTest, ThreeChannelsMatchTheirGreyConversion) {
    cv::Mat colour(30, 40, CV_8UC3);
    cv::randu(colour, cv::Scalar::all(0), cv::Scalar::all(256));
    cv::Mat grey;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);

    cv::Mat gradXc, gradYc, mapC, gradXg, gradYg, mapG;
    ComputeGradientMap(colour, gradXc, gradYc, mapC);
    ComputeGradientMap(grey, gradXg, gradYg, mapG);
    EXPECT_EQ(cv::norm(gradXc, gradXg, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(gradYc, gradYg, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(mapC, mapG, cv::NORM_INF), 0.0);
    double maxValue = 0.0;
    cv::minMaxLoc(mapG, nullptr, &maxValue);
    EXPECT_EQ(maxValue, 255.0);
}

}  // namespace
