// Band window sums (the count maps of the general edge refinement route) against
// straight sums that read every reflected position one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "local/band_window_sums.h"
#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

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
    const auto along = [side](const cv::Mat& sums, int y, int x, bool across) {
        int sum = 0;
        for (int d = -(side / 2); d < side - side / 2; ++d) {
            sum += across ? sums.at<int>(y, Reflect101(x + d, sums.cols))
                          : sums.at<int>(Reflect101(y + d, sums.rows), x);
        }
        return sum;
    };
    cv::Mat values;
    map.convertTo(values, CV_32S);
    const cv::Mat rowSums =
        Filled<int>(map.rows, map.cols, [&](int y, int x) { return along(values, y, x, true); });
    return Filled<std::uint16_t>(map.rows, map.cols,
                                 [&](int y, int x) { return along(rowSums, y, x, false); });
}

}  // namespace

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
        std::vector<LineBand> bands = {{0, 0, cols - 1, rows - 1}};
        std::vector<int> widths = {width()};
        if (rows > 1) {
            bands = {{0, 0, cols - 1, rows / 2 - 1}, {0, rows / 2, cols - 1, rows - 1}};
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
        EXPECT_TRUE(SamePixels(expected, sums))
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
