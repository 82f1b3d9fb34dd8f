// Worked examples of the local threshold voting, and the vote count that once
// wrapped. Every other case is in the comparison with the two-pass version in
// stage_equivalence_test.
#include <gtest/gtest.h>

#include "local/local_threshold.h"

using namespace edgebin::detail;

namespace {

cv::Mat Zeros(int rows, int cols) {
    return cv::Mat::zeros(rows, cols, CV_8UC1);
}

std::vector<cv::Point> InkOfVote(const cv::Mat& voters, const cv::Mat& gray,
                                 const cv::Mat& restored, const std::vector<int>& widths,
                                 double alpha, double k) {
    cv::Mat dst(3, 3, CV_16SC1, cv::Scalar(7));  // stale content of another type
    VoteLocalThreshold(voters, gray, restored, widths, dst, alpha, k);
    EXPECT_EQ(dst.type(), CV_8UC1);
    EXPECT_EQ(dst.size(), voters.size());
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
    const std::vector<int> widths(15, 4);
    // Width 4, alpha 2: half side 4, statistics and votes over the 9 x 9 window.
    EXPECT_EQ(InkOfVote(voters, gray, Zeros(15, 15), widths, 2.0, 0.6),
              (std::vector<cv::Point>{{3, 3}, {11, 7}}));
    // Restored: the votes reach half side 12, the whole page.
    cv::Mat restored = Zeros(15, 15);
    restored.at<unsigned char>(7, 7) = 1;
    EXPECT_EQ(InkOfVote(voters, gray, restored, widths, 2.0, 0.6),
              (std::vector<cv::Point>{{7, 2}, {3, 3}, {11, 7}, {12, 7}, {14, 14}}));
}

TEST(LocalThreshold, BalanceDoesNotWrapBeyondSixteenBits) {
    // 33001 voters whose restored windows all reach the middle pixel, which is the
    // only pixel below their threshold: 33001 ink votes, more than int16 holds.
    const int cols = 33001;
    const int middle = cols / 2;
    cv::Mat gray(1, cols, CV_8UC1, cv::Scalar(100));
    gray.at<unsigned char>(0, middle) = 50;
    const cv::Mat all(1, cols, CV_8UC1, cv::Scalar(255));
    // Width 1, alpha 11001: half sides 5500 (statistics) and 16501 (votes).
    EXPECT_EQ(InkOfVote(all, gray, all, {1}, 11001.0, 0.0), (std::vector<cv::Point>{{middle, 0}}));
}
