#include "tools/evaluation/metrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc.hpp>

#include "support/test_support.h"

namespace {

cv::Mat Paper(int rows, int cols) {
    return cv::Mat(rows, cols, CV_8U, cv::Scalar(255));
}

// Sum of the 24 reciprocal distances of the 5×5 neighbourhood, worked out by hand:
// 4·1 + 4/√2 + 4·½ + 8/√5 + 4/√8.
constexpr double kWeightSum = 13.8203494511;

TEST(MetricsTest, PrecisionRecallAndFCountInkPixels) {
    // Truth: 20 ink pixels (4×5). Result: 12 of them plus 4 outside.
    cv::Mat truth = Paper(10, 10);
    truth(cv::Rect(0, 0, 5, 4)).setTo(0);
    cv::Mat result = Paper(10, 10);
    result(cv::Rect(0, 0, 4, 3)).setTo(0);
    result(cv::Rect(6, 6, 2, 2)).setTo(0);
    const BinarizationScores s = ScoreBinarization(result, truth);
    EXPECT_NEAR(s.precision, 75.0, 1e-9);
    EXPECT_NEAR(s.recall, 60.0, 1e-9);
    EXPECT_NEAR(s.fMeasure, 200.0 / 3.0, 1e-9);
    // 8 missed and 4 false pixels out of 100.
    EXPECT_NEAR(s.psnr, 10.0 * std::log10(100.0 / 12.0), 1e-9);
}

TEST(MetricsTest,
     AnyNonZeroGreyIsPaperSoTheSameInkIsPerfectAndEmptyImagesFollowTheZeroDenominatorRule) {
    cv::Mat truth = Paper(8, 8);
    truth(cv::Rect(2, 2, 3, 3)).setTo(0);
    cv::Mat grey(8, 8, CV_8U, cv::Scalar(1));
    grey(cv::Rect(2, 2, 3, 3)).setTo(0);
    const BinarizationScores same = ScoreBinarization(grey, truth);
    EXPECT_DOUBLE_EQ(same.fMeasure, 100.0);
    EXPECT_DOUBLE_EQ(same.pseudoFMeasure, 100.0);
    EXPECT_TRUE(std::isinf(same.psnr));
    EXPECT_DOUBLE_EQ(same.drd, 0.0);

    const BinarizationScores both = ScoreBinarization(Paper(8, 8), Paper(8, 8));
    EXPECT_DOUBLE_EQ(both.precision, 100.0);
    EXPECT_DOUBLE_EQ(both.pseudoFMeasure, 100.0);
    const BinarizationScores missed = ScoreBinarization(Paper(8, 8), truth);
    EXPECT_DOUBLE_EQ(missed.precision, 0.0);
    EXPECT_DOUBLE_EQ(missed.recall, 0.0);
    EXPECT_DOUBLE_EQ(missed.fMeasure, 0.0);
    EXPECT_DOUBLE_EQ(missed.pseudoFMeasure, 0.0);
}

TEST(MetricsTest, PseudoRecallIsMeasuredOnTheSkeleton) {
    // The same bar twice: inside the page and touching its top-left corner, where
    // the padding must make it thin the same way.
    for (const int offset : {2, 0}) {
        const int rows = 3 + 2 * offset;
        const int cols = 7 + 2 * offset;
        cv::Mat truth = Paper(rows, cols);
        truth(cv::Rect(offset, offset, 7, 3)).setTo(0);
        cv::Mat result = Paper(rows, cols);
        // Middle row, bar columns 0..2: two of the four skeleton pixels.
        result(cv::Rect(offset, offset + 1, 3, 1)).setTo(0);
        const BinarizationScores s = ScoreBinarization(result, truth);
        EXPECT_NEAR(s.precision, 100.0, 1e-9) << "offset " << offset;
        EXPECT_NEAR(s.recall, 100.0 * 3.0 / 21.0, 1e-9) << "offset " << offset;
        EXPECT_NEAR(s.pseudoRecall, 50.0, 1e-9) << "offset " << offset;
        EXPECT_NEAR(s.pseudoFMeasure, 200.0 / 3.0, 1e-9) << "offset " << offset;
    }
}

// The skeleton is OpenCV's Zhang-Suen thinning, which the scores were first
// measured with, on random masks from sparse dots to solid blobs.
TEST(MetricsTest, SkeletonIsOpenCvsThinning) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        cv::Mat mask = RandomMask(30 + seed, 50 - seed, 0.07 * seed, seed);
        if (seed % 2 == 0) {
            cv::dilate(mask, mask, cv::Mat());
        }
        cv::Mat expected;
        cv::copyMakeBorder(mask, expected, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(0));
        cv::ximgproc::thinning(expected, expected, cv::ximgproc::THINNING_ZHANGSUEN);
        const cv::Rect inside(1, 1, mask.cols, mask.rows);
        EXPECT_EQ(cv::countNonZero(InkSkeleton(mask) != expected(inside)), 0) << "seed " << seed;
    }
}

TEST(MetricsTest, NonUniformBlocksIncludePartialEdgeBlocks) {
    cv::Mat truth = Paper(10, 10);
    truth.at<unsigned char>(9, 9) = 0;
    EXPECT_EQ(CountNonUniformBlocks(truth), 1);
    truth.at<unsigned char>(0, 0) = 0;
    EXPECT_EQ(CountNonUniformBlocks(truth), 2);
    EXPECT_EQ(CountNonUniformBlocks(cv::Mat::zeros(16, 16, CV_8U)), 0);
    EXPECT_EQ(CountNonUniformBlocks(Paper(16, 16)), 0);
}

TEST(MetricsTest, DrdWeighsEachFlippedPixelByItsDifferingNeighbours) {
    // One 8x8 block holding a single truth ink dot at (4,4): NUBN = 1. False ink at
    // (2,2) differs from all 24 neighbours except the dot, two steps away diagonally.
    cv::Mat truth = Paper(8, 8);
    truth.at<unsigned char>(4, 4) = 0;
    cv::Mat result = truth.clone();
    result.at<unsigned char>(2, 2) = 0;
    const double cornerWeight = 1.0 / std::sqrt(8.0) / kWeightSum;
    EXPECT_NEAR(DistanceReciprocalDistortion(result, truth), 1.0 - cornerWeight, 1e-9);
    // A missed isolated dot: its neighbourhood is paper like the result pixel, so no
    // distortion, although the pixel counts against PSNR.
    EXPECT_DOUBLE_EQ(DistanceReciprocalDistortion(Paper(8, 8), truth), 0.0);
    EXPECT_FALSE(std::isinf(PeakSignalToNoiseRatio(Paper(8, 8), truth)));
    // Without non-uniform blocks the sum is divided by one.
    EXPECT_NEAR(DistanceReciprocalDistortion(truth, Paper(8, 8)), 1.0, 1e-9);

    // Two non-uniform blocks; false ink at (0,0) sees 8 neighbours inside the image:
    // two at distance 1, one at sqrt 2, two at 2, two at sqrt 5, one at sqrt 8.
    truth = Paper(16, 16);
    truth.at<unsigned char>(12, 3) = 0;
    truth.at<unsigned char>(12, 12) = 0;
    result = truth.clone();
    result.at<unsigned char>(0, 0) = 0;
    const double inside =
        2.0 + 1.0 / std::sqrt(2.0) + 2.0 * 0.5 + 2.0 / std::sqrt(5.0) + 1.0 / std::sqrt(8.0);
    EXPECT_NEAR(DistanceReciprocalDistortion(result, truth), inside / kWeightSum / 2.0, 1e-9);
}

}  // namespace
