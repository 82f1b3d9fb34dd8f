#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "local/band_window_sums.h"
#include "support/test_support.h"

namespace {

LineBand FullWidthBand(int cols, int top, int bottom) {
    return LineBand{0, top, cols - 1, bottom};
}

// Straight window sum of a 0/1 map with reflect-101 borders: the window of side s
// reaches s/2 up and left and s - 1 - s/2 down and right.
unsigned WindowSum(const cv::Mat& map, int y, int x, int side) {
    const int before = side / 2;
    unsigned sum = 0;
    for (int dy = -before; dy < side - before; ++dy) {
        for (int dx = -before; dx < side - before; ++dx) {
            const int yy = cv::borderInterpolate(y + dy, map.rows, cv::BORDER_REFLECT_101);
            const int xx = cv::borderInterpolate(x + dx, map.cols, cv::BORDER_REFLECT_101);
            sum += map.at<unsigned char>(yy, xx);
        }
    }
    return std::min(sum, 65535u);
}

}  // namespace

TEST(BandWindowSums, BorderMirrorsWithoutRepeatingTheEdgePixel) {
    cv::Mat map = cv::Mat::zeros(4, 5, CV_8UC1);
    map.at<unsigned char>(0, 1) = 1;
    BandWindowSums(map, {FullWidthBand(5, 0, 3)}, {1}, 3.0);
    ASSERT_EQ(map.type(), CV_16UC1);
    EXPECT_EQ(map.at<unsigned short>(0, 0), 2);  // column -1 mirrors column 1
    EXPECT_EQ(map.at<unsigned short>(0, 1), 1);
    EXPECT_EQ(map.at<unsigned short>(1, 0), 2);
    EXPECT_EQ(map.at<unsigned short>(0, 2), 1);
    EXPECT_EQ(map.at<unsigned short>(0, 3), 0);
    EXPECT_EQ(map.at<unsigned short>(2, 1), 0);
}

TEST(BandWindowSums, EvenSideReachesFurtherUpAndLeft) {
    cv::Mat map = cv::Mat::zeros(12, 12, CV_8UC1);
    map.at<unsigned char>(5, 5) = 1;
    BandWindowSums(map, {FullWidthBand(12, 0, 11)}, {1}, 6.0);
    // Pixel (y, x) sees rows y-3..y+2 and columns x-3..x+2: (5, 5) counts for
    // y and x in 3..8.
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 12; ++x) {
            const bool inside = y >= 3 && y <= 8 && x >= 3 && x <= 8;
            EXPECT_EQ(map.at<unsigned short>(y, x), inside ? 1 : 0) << y << "," << x;
        }
    }
}

TEST(BandWindowSums, CountsSaturateAt65535) {
    cv::Mat map(40, 50, CV_8UC1, cv::Scalar(1));
    BandWindowSums(map, {FullWidthBand(50, 0, 39)}, {30}, 20.0);  // side 600
    double minValue = 0;
    double maxValue = 0;
    cv::minMaxLoc(map, &minValue, &maxValue);
    EXPECT_EQ(minValue, 65535.0);
    EXPECT_EQ(maxValue, 65535.0);
}

TEST(BandWindowSums, LaterBandWinsAndUncoveredPixelsAreZero) {
    const cv::Mat source(6, 7, CV_8UC1, cv::Scalar(1));
    cv::Mat map = source.clone();
    // Rows 0..3 at side 1, then rows 2..3 again at side 3; rows 4..5 uncovered.
    BandWindowSums(map, {FullWidthBand(7, 0, 3), FullWidthBand(7, 2, 3)}, {1, 3}, 1.0);
    EXPECT_EQ(map.at<unsigned short>(1, 3), 1);
    EXPECT_EQ(map.at<unsigned short>(2, 3), 9);
    EXPECT_EQ(map.at<unsigned short>(3, 0), 9);
    EXPECT_EQ(map.at<unsigned short>(4, 3), 0);
    EXPECT_EQ(map.at<unsigned short>(5, 6), 0);
}

TEST(BandWindowSums, MatchesStraightSumsOnRandomMaps) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const int rows = 15 + static_cast<int>(seed % 7) * 3;
        const int cols = 10 + static_cast<int>(seed % 5) * 4;
        cv::Mat source = RandomMask(rows, cols, 0.1 + 0.04 * (seed % 10), seed) / 255;
        const int cut = rows / 3 + static_cast<int>(seed % 4);
        const std::vector<LineBand> bands = {FullWidthBand(cols, 0, cut),
                                             FullWidthBand(cols, cut + 1, rows - 1)};
        const std::vector<int> widths = {1 + static_cast<int>(seed % 3),
                                         2 + static_cast<int>(seed % 2)};
        const double scale = seed % 2 == 0 ? 6.0 : 2.5;
        cv::Mat map = source.clone();
        BandWindowSums(map, bands, widths, scale);
        for (int y = 0; y < rows; ++y) {
            const int side = static_cast<int>(widths[y <= cut ? 0 : 1] * scale);
            for (int x = 0; x < cols; ++x) {
                ASSERT_EQ(map.at<unsigned short>(y, x), WindowSum(source, y, x, side))
                    << "seed " << seed << " at " << y << "," << x;
            }
        }
    }
}

TEST(BandWindowSums, ZeroSideIsRejectedAndLeavesTheMap) {
    cv::Mat map(3, 3, CV_8UC1, cv::Scalar(1));
    EXPECT_THROW(BandWindowSums(map, {FullWidthBand(3, 0, 2)}, {0}, 6.0), cv::Exception);
    EXPECT_THROW(BandWindowSums(map, {FullWidthBand(3, 0, 2)}, {}, 6.0), cv::Exception);
    EXPECT_EQ(map.type(), CV_8UC1);
}
