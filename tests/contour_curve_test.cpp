#include "global/contour_curve.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

TEST(MeanContourLengthTest, CountsBackgroundNeighboursInsideTheImageOnce) {
    EXPECT_DOUBLE_EQ(MeanContourLength(MaskFromText({".....", ".###.", "....."})), 8.0);
    // A run at the top-left border: only three pixels below and one to the right.
    EXPECT_DOUBLE_EQ(MeanContourLength(MaskFromText({"###..", ".....", "....."}, 1)), 4.0);
    // Two runs: 3 + 3 above and below, the ends at columns 0 and 8, column 4 once.
    EXPECT_DOUBLE_EQ(MeanContourLength(MaskFromText({".........", ".###.###.", "........."})),
                     15.0 / 2.0);
    EXPECT_DOUBLE_EQ(MeanContourLength(cv::Mat::zeros(6, 7, CV_8UC1)), 0.0);
}

TEST(RemoveSpecksTest, ClearsComponentsOfOneAndTwoPixelsOnly) {
    cv::Mat img = MaskFromText(
        {
            "#.......",
            "......#.",
            ".....#..",
            "........",
            ".##.....",
            "..#.....",
        },
        7);
    RemoveSpecks(img);
    const cv::Mat expected = MaskFromText({
        "........",
        "........",
        "........",
        "........",
        ".##.....",
        "..#.....",
    });
    EXPECT_EQ(cv::norm(img, expected, cv::NORM_INF), 0.0);
}

TEST(BuildContourCurveTest, HandBuiltMap) {
    // A run of three pixels at 100 and a lone pixel at 200: below level 100 the run
    // measures 8 and the lone pixel is a speck; from level 100 on nothing is left.
    cv::Mat gradMap = cv::Mat::zeros(7, 9, CV_8UC1);
    gradMap.at<unsigned char>(2, 2) = 100;
    gradMap.at<unsigned char>(2, 3) = 100;
    gradMap.at<unsigned char>(2, 4) = 100;
    gradMap.at<unsigned char>(5, 7) = 200;
    ContourCurve curve{};
    BuildContourCurve(gradMap, curve);
    for (int level = 0; level < 256; ++level) {
        EXPECT_DOUBLE_EQ(curve[level], level < 100 ? 8.0 : 0.0) << level;
    }
}

}  // namespace
