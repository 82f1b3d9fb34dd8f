#include "global/contour_curve.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>

#include "support/test_support.h"

namespace {

TEST(MeanContourLengthTest, ThreePixelRunHasOutlineEight) {
    const cv::Mat run = MaskFromText({".....", ".###.", "....."});
    EXPECT_DOUBLE_EQ(MeanContourLength(run), 8.0);
}

TEST(MeanContourLengthTest, OutsideNeighboursAreNotCounted) {
    // The run touches the top and left borders: only three pixels below and one
    // to the right remain.
    const cv::Mat run = MaskFromText({"###..", ".....", "....."}, 1);
    EXPECT_DOUBLE_EQ(MeanContourLength(run), 4.0);
}

TEST(MeanContourLengthTest, SharedBackgroundPixelCountsOnce) {
    // 3 + 3 above and below, the ends at columns 0 and 8, and column 4 once.
    const cv::Mat runs = MaskFromText({".........", ".###.###.", "........."});
    EXPECT_DOUBLE_EQ(MeanContourLength(runs), 15.0 / 2.0);
}

TEST(MeanContourLengthTest, EmptyImageGivesZero) {
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

TEST(BuildContourCurveTest, MatchesThresholdSpeckAndMeasureAtEveryLevel) {
    std::mt19937 generator(2024);
    for (int trial = 0; trial < 12; ++trial) {
        const int rows = 20 + trial * 3;
        const int cols = 25 + trial * 2;
        cv::Mat gradMap(rows, cols, CV_8UC1);
        std::uniform_int_distribution<int> value(0, trial % 2 == 0 ? 255 : 140);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < cols; ++x) {
                gradMap.at<unsigned char>(y, x) = static_cast<unsigned char>(value(generator));
            }
        }
        cv::GaussianBlur(gradMap, gradMap, cv::Size(3, 3), 0.8);

        ContourCurve curve{};
        BuildContourCurve(gradMap, curve);
        for (int level = 0; level < 256; ++level) {
            cv::Mat mask;
            cv::threshold(gradMap, mask, level, 255, cv::THRESH_BINARY);
            RemoveSpecks(mask);
            ASSERT_DOUBLE_EQ(curve[level], MeanContourLength(mask))
                << "trial " << trial << " level " << level;
        }
        EXPECT_DOUBLE_EQ(curve[255], 0.0);
    }
}

}  // namespace
