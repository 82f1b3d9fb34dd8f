#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "local/band_window_sums.h"
#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

LineBand FullWidthBand(int cols, int top, int bottom) {
    return LineBand{0, top, cols - 1, bottom};
}

// Position p of a line of n values mirrored about its end pixels (reflect-101),
// which repeats every 2n - 2 positions.
int Reflect101(int p, int n) {
    if (n == 1) {
        return 0;
    }
    const int period = 2 * n - 2;
    const int q = ((p % period) + period) % period;
    return q < n ? q : period - q;
}

// Straight window sums, reading every reflected position one by one: the window
// of side s reaches s/2 up and left and s - 1 - s/2 down and right.
cv::Mat ReflectedWindowSums(const cv::Mat& map, int side) {
    const auto sumsAlong = [side](const std::vector<int>& line) {
        const int n = static_cast<int>(line.size());
        std::vector<int> sums(line.size(), 0);
        for (int x = 0; x < n; ++x) {
            for (int d = -(side / 2); d < side - side / 2; ++d) {
                sums[x] += line[Reflect101(x + d, n)];
            }
        }
        return sums;
    };
    cv::Mat rowSums(map.size(), CV_32S);
    for (int y = 0; y < map.rows; ++y) {
        const std::vector<int> sums =
            sumsAlong(std::vector<int>(map.ptr(y), map.ptr(y) + map.cols));
        std::copy(sums.begin(), sums.end(), rowSums.ptr<int>(y));
    }
    cv::Mat result(map.size(), CV_16U);
    for (int x = 0; x < map.cols; ++x) {
        std::vector<int> column(map.rows);
        for (int y = 0; y < map.rows; ++y) {
            column[y] = rowSums.at<int>(y, x);
        }
        const std::vector<int> sums = sumsAlong(column);
        for (int y = 0; y < map.rows; ++y) {
            result.at<std::uint16_t>(y, x) = cv::saturate_cast<std::uint16_t>(sums[y]);
        }
    }
    return result;
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

// Windows from a few pixels to far larger than the page, where each set pixel is
// counted thousands of times over its reflections (sparse maps keep such sums
// below 65535), on pages down to a single row or column.
TEST(BandWindowSums, MatchesStraightSumsForWindowsOfAnySize) {
    cv::RNG rng(17);
    bool sawUnsaturated = false;
    for (int trial = 0; trial < 24; ++trial) {
        const bool huge = trial % 3 != 0;
        const int rows = trial < 3 ? rng.uniform(1, 4) : rng.uniform(15, 49);
        const int cols = trial < 3 ? rng.uniform(1, 4) : rng.uniform(10, 49);
        cv::Mat map(rows, cols, CV_8UC1, cv::Scalar(0));
        if (huge) {
            for (int i = 0; i <= trial % 2; ++i) {
                map.at<std::uint8_t>(rng.uniform(0, rows), rng.uniform(0, cols)) = 1;
            }
        } else {
            map = RandomMask(rows, cols, rng.uniform(0.1, 0.5), trial) / 255;
        }
        const double scale = huge ? 20.0 : (trial % 2 == 0 ? 6.0 : 2.5);
        const auto width = [&] { return huge ? rng.uniform(420, 461) : rng.uniform(1, 4); };
        // Two bands where the page has rows enough, each with its own side.
        std::vector<LineBand> bands = {FullWidthBand(cols, 0, rows - 1)};
        std::vector<int> widths = {width()};
        if (rows > 1) {
            bands = {FullWidthBand(cols, 0, rows / 2 - 1), FullWidthBand(cols, rows / 2, rows - 1)};
            widths.push_back(width());
        }
        cv::Mat expected(rows, cols, CV_16U);
        for (size_t i = 0; i < bands.size(); ++i) {
            const cv::Rect rect(0, bands[i].top, cols, bands[i].bottom - bands[i].top + 1);
            const int side = static_cast<int>(widths[i] * scale);
            ReflectedWindowSums(map, side)(rect).copyTo(expected(rect));
        }
        cv::Mat sums = map.clone();
        BandWindowSums(sums, bands, widths, scale);
        ASSERT_EQ(sums.type(), CV_16UC1);
        EXPECT_EQ(cv::norm(sums, expected, cv::NORM_INF), 0.0)
            << "trial " << trial << ": " << rows << " x " << cols << ", widths " << widths[0];
        sawUnsaturated = sawUnsaturated || (huge && cv::countNonZero(expected < 65535) > 0);
    }
    EXPECT_TRUE(sawUnsaturated);
}

// Widths so large that their product with the scale leaves int behind.
TEST(BandWindowSums, SaturatesForSidesBeyondInt) {
    cv::Mat ones(3, 4, CV_8UC1, cv::Scalar(1));
    BandWindowSums(ones, {{0, 0, 3, 2}}, {std::numeric_limits<int>::max() / 2}, 20.0);
    EXPECT_EQ(cv::countNonZero(ones == 65535), 12);
}

TEST(BandWindowSums, ZeroSideIsRejectedAndLeavesTheMap) {
    cv::Mat map(3, 3, CV_8UC1, cv::Scalar(1));
    EXPECT_THROW(BandWindowSums(map, {FullWidthBand(3, 0, 2)}, {0}, 6.0), cv::Exception);
    EXPECT_THROW(BandWindowSums(map, {FullWidthBand(3, 0, 2)}, {}, 6.0), cv::Exception);
    EXPECT_EQ(map.type(), CV_8UC1);
}
