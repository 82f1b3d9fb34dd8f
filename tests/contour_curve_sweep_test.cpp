// The one-sweep contour curve against thresholding and measuring every level.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>

#include "global/contour_curve.h"
#include "global/gradient_map.h"
#include "oracle/oracle.h"
#include "tools/page_generator.h"

using namespace edgebin::detail;

namespace {

void ExpectSameCurve(const cv::Mat& gradMap, const std::string& what) {
    ContourCurve fast{};
    ContourCurve straightforward{};
    BuildContourCurve(gradMap, fast);
    reference::BuildContourCurve(gradMap, straightforward);
    for (size_t level = 0; level < 256; ++level) {
        ASSERT_EQ(fast[level], straightforward[level]) << what << " level " << level;
    }
}

}  // namespace

TEST(ContourCurveSweep, MatchesEveryLevelOnRandomMaps) {
    std::mt19937 generator(2024);
    for (int trial = 0; trial < 300; ++trial) {
        const int rows = 1 + static_cast<int>(generator() % 48);
        const int cols = 1 + static_cast<int>(generator() % 48);
        const int spread = 1 + static_cast<int>(generator() % 256);
        cv::Mat map(rows, cols, CV_8UC1);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < cols; ++x) {
                map.at<uchar>(y, x) = static_cast<uchar>(generator() % spread);
            }
        }
        if (trial % 3 == 0) {
            cv::blur(map, map, cv::Size(3, 3));  // smooth maps give large components
        }
        ExpectSameCurve(map, "trial " + std::to_string(trial));
    }
}

// Pages wider or taller than the sweep's tiles of 128 pixels, with strips one or two
// pixels across and last tiles one pixel wide.
TEST(ContourCurveSweep, MatchesAcrossTileBorders) {
    std::mt19937 generator(77);
    const std::vector<cv::Size> sizes = {{129, 131}, {300, 1},   {1, 300},  {2, 260},
                                         {385, 2},   {257, 140}, {140, 257}};
    for (const cv::Size& size : sizes) {
        for (int smoothing : {0, 3, 9}) {
            cv::Mat map(size, CV_8UC1);
            for (int y = 0; y < size.height; ++y) {
                for (int x = 0; x < size.width; ++x) {
                    map.at<uchar>(y, x) = static_cast<uchar>(generator() % 256);
                }
            }
            if (smoothing > 0) {
                cv::blur(map, map, cv::Size(smoothing, smoothing));
            }
            ExpectSameCurve(map, std::to_string(size.width) + "x" + std::to_string(size.height) +
                                     " smoothed " + std::to_string(smoothing));
        }
    }
}

TEST(ContourCurveSweep, MatchesOnStripsAndSpecialMaps) {
    ExpectSameCurve(cv::Mat(1, 1, CV_8UC1, cv::Scalar(255)), "1x1");
    ExpectSameCurve(cv::Mat(1, 40, CV_8UC1, cv::Scalar(7)), "flat row");
    ExpectSameCurve(cv::Mat(40, 1, CV_8UC1, cv::Scalar(200)), "flat column");
    ExpectSameCurve(cv::Mat::zeros(10, 10, CV_8UC1), "all zero");
    cv::Mat checker(16, 16, CV_8UC1);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            checker.at<uchar>(y, x) = static_cast<uchar>(((x + y) % 2) * 255);
        }
    }
    ExpectSameCurve(checker, "checkerboard");
}
