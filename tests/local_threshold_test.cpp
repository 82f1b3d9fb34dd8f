#include <gtest/gtest.h>

#include "local/local_threshold.h"
#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

cv::Mat Vote(const cv::Mat& voters, const cv::Mat& gray, const cv::Mat& restored,
             const std::vector<int>& rowStrokeWidths, double alpha, double k) {
    cv::Mat dst(3, 3, CV_16SC1, cv::Scalar(7));  // stale content of another type
    VoteLocalThreshold(voters, gray, restored, rowStrokeWidths, dst, alpha, k);
    EXPECT_EQ(dst.type(), CV_8UC1);
    EXPECT_EQ(dst.size(), voters.size());
    return dst;
}

cv::Mat Zeros(int rows, int cols) {
    return cv::Mat::zeros(rows, cols, CV_8UC1);
}

// Positions of the ink pixels, for readable failures.
std::vector<cv::Point> InkPixels(const cv::Mat& dst) {
    std::vector<cv::Point> ink;
    cv::findNonZero(dst == 0, ink);
    return ink;
}

}  // namespace

TEST(LocalThreshold, SingleVoterMarksDarkerPixelsOfItsWindow) {
    cv::Mat gray(15, 15, CV_8UC1, cv::Scalar(100));
    for (const cv::Point p : {cv::Point(3, 3), cv::Point(11, 7), cv::Point(7, 2), cv::Point(12, 7),
                              cv::Point(14, 14)}) {
        gray.at<unsigned char>(p) = 50;
    }
    cv::Mat voters = Zeros(15, 15);
    voters.at<unsigned char>(7, 7) = 255;
    const std::vector<int> widths(15, 4);  // alpha 2: half side 4, a 9 x 9 window

    const cv::Mat plain = Vote(voters, gray, Zeros(15, 15), widths, 2.0, 0.6);
    EXPECT_EQ(InkPixels(plain), (std::vector<cv::Point>{{3, 3}, {11, 7}}));

    // Restored: half side 12 covers the whole page.
    cv::Mat restored = Zeros(15, 15);
    restored.at<unsigned char>(7, 7) = 1;
    const cv::Mat wide = Vote(voters, gray, restored, widths, 2.0, 0.6);
    EXPECT_EQ(InkPixels(wide),
              (std::vector<cv::Point>{{7, 2}, {3, 3}, {11, 7}, {12, 7}, {14, 14}}));
}

TEST(LocalThreshold, ThresholdUsesOnlyVotersButEveryPixelIsVotedOn) {
    cv::Mat gray(9, 9, CV_8UC1, cv::Scalar(120));
    cv::Mat voters = Zeros(9, 9);
    voters.at<unsigned char>(4, 4) = 255;
    voters.at<unsigned char>(4, 5) = 255;
    gray.at<unsigned char>(4, 4) = 90;
    gray.at<unsigned char>(4, 5) = 110;
    gray.at<unsigned char>(2, 2) = 0;  // not a voter: must not drag the mean down
    gray.at<unsigned char>(6, 6) = 99;

    cv::Mat meanMap;
    cv::Mat deviationMap;
    const std::vector<int> widths(9, 3);  // alpha 2: half side 3
    MaskedWindowStats(voters, gray, widths, meanMap, deviationMap, 2.0);
    ASSERT_EQ(meanMap.type(), CV_64F);
    EXPECT_DOUBLE_EQ(meanMap.at<double>(4, 4), 100.0);
    EXPECT_DOUBLE_EQ(deviationMap.at<double>(4, 4), 10.0);  // population deviation
    EXPECT_DOUBLE_EQ(meanMap.at<double>(4, 5), 100.0);
    EXPECT_EQ(cv::countNonZero(meanMap), 2);
    EXPECT_EQ(cv::countNonZero(deviationMap), 2);

    // k = 1: T = 110 for both voters.
    const cv::Mat dst = Vote(voters, gray, Zeros(9, 9), widths, 2.0, 1.0);
    EXPECT_EQ(InkPixels(dst), (std::vector<cv::Point>{{2, 2}, {4, 4}, {6, 6}}));
}

TEST(LocalThreshold, ClippedWindowsNarrowerThanTheStrokeCastNoVote) {
    cv::Mat gray(20, 20, CV_8UC1, cv::Scalar(50));
    cv::Mat voters = Zeros(20, 20);
    voters.at<unsigned char>(0, 0) = 255;
    voters.at<unsigned char>(10, 10) = 255;
    gray.at<unsigned char>(0, 0) = 100;
    gray.at<unsigned char>(10, 10) = 100;
    const std::vector<int> widths(20, 10);

    // alpha 1.5: half side 7. The corner window is 8 x 8 < 10, the middle one 15 x 15.
    const cv::Mat dst = Vote(voters, gray, Zeros(20, 20), widths, 1.5, 0.0);
    EXPECT_EQ(cv::countNonZero(dst == 0), 15 * 15 - 1);
    EXPECT_EQ(cv::countNonZero(dst(cv::Rect(3, 3, 15, 15)) == 0), 15 * 15 - 1);
    EXPECT_EQ(dst.at<unsigned char>(10, 10), 255);  // its own value is not below T

    // alpha 0.5: only restored voters reach a window as wide as the stroke.
    cv::Mat smallGray(10, 10, CV_8UC1, cv::Scalar(50));
    cv::Mat smallVoters = Zeros(10, 10);
    smallVoters.at<unsigned char>(5, 5) = 255;
    smallGray.at<unsigned char>(5, 5) = 100;
    const std::vector<int> narrow(10, 3);
    EXPECT_EQ(cv::countNonZero(Vote(smallVoters, smallGray, Zeros(10, 10), narrow, 0.5, 0.0)), 100);
    cv::Mat restored = Zeros(10, 10);
    restored.at<unsigned char>(5, 5) = 255;
    // Restored half side trunc(0.25 * 3 * 3) = 2: a 5 x 5 window.
    EXPECT_EQ(cv::countNonZero(Vote(smallVoters, smallGray, restored, narrow, 0.5, 0.0) == 0), 24);
}

TEST(LocalThreshold, ThresholdRoundsHalfToEven) {
    cv::Mat gray(7, 7, CV_8UC1, cv::Scalar(99));
    cv::Mat voters = Zeros(7, 7);
    voters.at<unsigned char>(3, 3) = 255;
    voters.at<unsigned char>(3, 4) = 255;
    gray.at<unsigned char>(3, 3) = 100;
    gray.at<unsigned char>(3, 4) = 101;
    gray.at<unsigned char>(1, 1) = 100;
    // Means 100.5 round to T = 100: 100 and 101 are paper, 99 is ink.
    const cv::Mat dst = Vote(voters, gray, Zeros(7, 7), std::vector<int>(7, 2), 2.0, 0.0);
    EXPECT_EQ(dst.at<unsigned char>(3, 3), 255);
    EXPECT_EQ(dst.at<unsigned char>(3, 4), 255);
    EXPECT_EQ(dst.at<unsigned char>(1, 1), 255);
    EXPECT_EQ(dst.at<unsigned char>(1, 2), 0);
    EXPECT_EQ(cv::countNonZero(dst == 0), 5 * 6 - 3);  // the two 5 x 5 windows overlap
}

TEST(LocalThreshold, ZeroStrokeWidthVotesOnlyOnTheVoterItself) {
    cv::Mat gray(5, 9, CV_8UC1, cv::Scalar(200));
    cv::Mat voters = Zeros(5, 9);
    voters.at<unsigned char>(2, 4) = 255;  // row of width 0
    voters.at<unsigned char>(1, 4) = 255;  // half side 2, sees the other voter
    gray.at<unsigned char>(2, 4) = 50;
    std::vector<int> widths(5, 2);
    widths[2] = 0;

    cv::Mat meanMap;
    cv::Mat deviationMap;
    MaskedWindowStats(voters, gray, widths, meanMap, deviationMap, 2.0);
    EXPECT_DOUBLE_EQ(meanMap.at<double>(2, 4), 50.0);
    EXPECT_DOUBLE_EQ(deviationMap.at<double>(2, 4), 0.0);
    EXPECT_DOUBLE_EQ(meanMap.at<double>(1, 4), 125.0);

    // (2, 4): one ink vote from (1, 4), one paper vote from itself: a tie, paper.
    EXPECT_EQ(cv::countNonZero(Vote(voters, gray, Zeros(5, 9), widths, 2.0, 0.0)), 45);
    // Without its own vote the ink vote wins.
    voters.at<unsigned char>(2, 4) = 0;
    const cv::Mat alone = Vote(voters, gray, Zeros(5, 9), widths, 2.0, 0.0);
    EXPECT_EQ(InkPixels(alone), (std::vector<cv::Point>{{4, 2}}));
}

TEST(LocalThreshold, MajorityOfVotesDecides) {
    // One row, width 1, alpha 4: half side 2. Voters at 2, 4 and 6 all reach pixel 4,
    // each with its own threshold (k = 0): T(2) = 80, T(4) = 70, T(6) = 55.
    const cv::Mat gray =
        (cv::Mat_<unsigned char>(1, 9) << 200, 200, 100, 200, 60, 200, 50, 200, 200);
    cv::Mat voters = (cv::Mat_<unsigned char>(1, 9) << 0, 0, 255, 0, 255, 0, 255, 0, 0);
    const std::vector<int> widths = {1};
    // Pixel 4 (grey 60): ink, ink, paper.
    EXPECT_EQ(Vote(voters, gray, Zeros(1, 9), widths, 4.0, 0.0).at<unsigned char>(0, 4), 0);
    // Without the middle voter: T(2) = 100 votes ink, T(6) = 50 paper, a tie.
    voters.at<unsigned char>(0, 4) = 0;
    EXPECT_EQ(Vote(voters, gray, Zeros(1, 9), widths, 4.0, 0.0).at<unsigned char>(0, 4), 255);
}

TEST(LocalThreshold, BalanceDoesNotWrapBeyondSixteenBits) {
    // 33001 voters whose restored windows all reach the middle pixel, which is the
    // only pixel below their threshold: 33001 ink votes, more than int16 holds.
    const int cols = 33001;
    const int middle = cols / 2;
    cv::Mat gray(1, cols, CV_8UC1, cv::Scalar(100));
    gray.at<unsigned char>(0, middle) = 50;
    const cv::Mat voters(1, cols, CV_8UC1, cv::Scalar(255));
    const cv::Mat restored(1, cols, CV_8UC1, cv::Scalar(255));
    // Width 1, alpha 11001: half sides 5500 (statistics) and 16501 (votes).
    const cv::Mat dst = Vote(voters, gray, restored, {1}, 11001.0, 0.0);
    EXPECT_EQ(InkPixels(dst), (std::vector<cv::Point>{{middle, 0}}));
}

TEST(LocalThreshold, TooFewRowWidthsIsRefused) {
    const cv::Mat gray(4, 4, CV_8UC1, cv::Scalar(100));
    const cv::Mat voters(4, 4, CV_8UC1, cv::Scalar(255));
    const cv::Mat dst = Vote(voters, gray, Zeros(4, 4), {1, 1, 1}, 2.0, 0.6);
    EXPECT_EQ(cv::countNonZero(dst), 16);
    cv::Mat meanMap;
    cv::Mat deviationMap;
    MaskedWindowStats(voters, gray, {1, 1, 1}, meanMap, deviationMap, 2.0);
    EXPECT_EQ(meanMap.size(), gray.size());
    EXPECT_EQ(cv::countNonZero(meanMap), 0);
}
