#include "global/peak_threshold.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

const std::string kMainLine = "----------------- The main Peak Threshold is : ";
const std::string kSecondLine = "----------------- The second Peak Threshold is : ";

TEST(ChoosePeakLevelTest, SinglePeakPrintsOneLine) {
    const cv::Mat gradMap = cv::Mat::zeros(5, 5, CV_8UC1);
    int level = -1;
    const std::string out =
        CaptureStdout([&] { level = ChoosePeakLevel(gradMap, false, 42, 0, 0.05); });
    EXPECT_EQ(level, 42);
    EXPECT_EQ(out, kMainLine + "42\n");
}

// 10 x 10 map, levels 20 and 40: a strong run of three at 50 and five isolated
// band pixels (four at 30, one at exactly 40), so the ratio is exactly 0.05.
cv::Mat RatioMap() {
    cv::Mat gradMap = cv::Mat::zeros(10, 10, CV_8UC1);
    gradMap(cv::Rect(0, 0, 3, 1)).setTo(50);
    gradMap.at<unsigned char>(1, 3) = 30;  // touches the run at a corner
    gradMap.at<unsigned char>(5, 5) = 30;
    gradMap.at<unsigned char>(5, 7) = 30;
    gradMap.at<unsigned char>(7, 5) = 30;
    gradMap.at<unsigned char>(7, 7) = 30;
    gradMap.at<unsigned char>(9, 0) = 40;  // the higher level belongs to the band
    gradMap.at<unsigned char>(3, 8) = 20;  // the lower level does not
    return gradMap;
}

TEST(ChoosePeakLevelTest, RatioEqualToRthreSelectsTheLowerLevel) {
    const cv::Mat gradMap = RatioMap();
    int level = -1;
    const std::string out =
        CaptureStdout([&] { level = ChoosePeakLevel(gradMap, true, 40, 20, 0.05); });
    EXPECT_EQ(level, 20);
    EXPECT_EQ(out, kMainLine + "40\n" + kSecondLine + "20\nratio = 0.05\n");

    EXPECT_EQ(CaptureStdout([&] { level = ChoosePeakLevel(gradMap, true, 20, 40, 0.049); }),
              kMainLine + "20\n" + kSecondLine + "40\nratio = 0.05\n");
    EXPECT_EQ(level, 40);
}

TEST(ChoosePeakLevelTest, StrongSpecksDoNotShield) {
    cv::Mat gradMap = cv::Mat::zeros(10, 10, CV_8UC1);
    gradMap.at<unsigned char>(5, 5) = 60;
    gradMap.at<unsigned char>(5, 6) = 60;
    gradMap.at<unsigned char>(6, 5) = 30;
    int level = -1;
    std::string out = CaptureStdout([&] { level = ChoosePeakLevel(gradMap, true, 20, 40, 0.0); });
    EXPECT_NE(out.find("ratio = 0.01\n"), std::string::npos) << out;
    EXPECT_EQ(level, 40) << "Rthre 0 takes the higher level with any isolated pixel";

    gradMap.at<unsigned char>(5, 7) = 60;  // three strong pixels are no speck
    out = CaptureStdout([&] { level = ChoosePeakLevel(gradMap, true, 20, 40, 0.0); });
    EXPECT_NE(out.find("ratio = 0\n"), std::string::npos) << out;
    EXPECT_EQ(level, 20);
}

TEST(ChoosePeakLevelTest, RthreOfOneAlwaysSelectsTheLowerLevel) {
    cv::Mat gradMap(6, 6, CV_8UC1, cv::Scalar(30));
    int level = -1;
    CaptureStdout([&] { level = ChoosePeakLevel(gradMap, true, 40, 20, 1.0); });
    EXPECT_EQ(level, 20);
    CaptureStdout([&] { level = ChoosePeakLevel(gradMap, true, 40, 20, 0.99); });
    EXPECT_EQ(level, 40);
}

TEST(SelectPeakThresholdTest, FlatMapGivesLevelZeroAndAnEmptyMask) {
    const cv::Mat gradMap = cv::Mat::zeros(20, 30, CV_8UC1);
    cv::Mat edgeMask;
    int level = -1;
    const std::string out =
        CaptureStdout([&] { level = SelectPeakThreshold(gradMap, edgeMask, 0.05); });
    EXPECT_EQ(level, 0);
    EXPECT_EQ(out, kMainLine + "0\n");
    ASSERT_EQ(edgeMask.type(), CV_8UC1);
    ASSERT_EQ(edgeMask.size(), gradMap.size());
    EXPECT_EQ(cv::countNonZero(edgeMask), 0);
}

}  // namespace
