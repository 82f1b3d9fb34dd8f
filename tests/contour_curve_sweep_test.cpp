// The one-sweep contour curve against thresholding and measuring every level,
// and a curve and its specks worked out by hand.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>

#include "global/contour_curve.h"
#include "oracle/oracle.h"
#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

void ExpectSameCurve(const cv::Mat& gradMap, const std::string& what) {
    ContourCurve fast{};
    ContourCurve straightforward{};
    BuildContourCurve(gradMap, fast);
    reference::BuildContourCurve(gradMap, straightforward);
    ASSERT_EQ(fast, straightforward) << what;
    ContourCurve split{};
    BuildContourCurve(gradMap, split, 3);
    ASSERT_EQ(split, fast) << what << " on three threads";
}

}  // namespace

// Random maps, smooth ones with large components, pages across the sweep's tiles
// of 176 pixels with strips one or two pixels across and last tiles one pixel
// wide, flat maps, a checkerboard, and dense maps of a few levels on strips just
// wider than a tile, where components that reach the page's first pixel join others
// on the tile's border.
TEST(ContourCurveSweep, MatchesEveryLevel) {
    std::mt19937 generator(2024);
    std::vector<cv::Size> sizes = {{177, 179}, {400, 1},   {1, 400},   {2, 356},
                                   {529, 2},   {353, 190}, {190, 353}, {1, 1}};
    for (int trial = 0; trial < 240; ++trial) {
        sizes.emplace_back(1 + static_cast<int>(generator() % 48),
                           1 + static_cast<int>(generator() % 48));
    }
    const size_t firstStrip = sizes.size();
    for (int trial = 0; trial < 40; ++trial) {
        sizes.emplace_back(177 + static_cast<int>(generator() % 12),
                           6 + static_cast<int>(generator() % 6));
    }
    for (size_t i = 0; i < sizes.size(); ++i) {
        const int spread = 1 + static_cast<int>(generator() % 256);
        const int flat = static_cast<int>(generator() % 256);
        cv::Mat map = Filled(sizes[i].height, sizes[i].width, [&](int y, int x) {
            const int value = i % 7 == 1   ? ((x + y) % 2) * 255
                              : i % 5 == 0 ? flat
                                           : static_cast<int>(generator() % spread);
            if (i < firstStrip) {
                return value;
            }
            return generator() % 100 < 85 ? 50 * (1 + static_cast<int>(generator() % 4)) : 0;
        });
        const int smoothing = i % 3 == 0 || i >= firstStrip ? 0 : 3 + 6 * static_cast<int>(i % 2);
        if (smoothing > 0) {
            cv::blur(map, map, cv::Size(smoothing, smoothing));
        }
        ExpectSameCurve(map, "map " + std::to_string(i));
    }
}

TEST(ContourCurveSweep, HandBuiltMap) {
    // A run of three pixels at 100 and a lone pixel at 200: below level 100 the run
    // measures 8 and the lone pixel is a speck; from level 100 on nothing is left.
    cv::Mat gradMap = cv::Mat::zeros(7, 9, CV_8UC1);
    gradMap(cv::Rect(2, 2, 3, 1)).setTo(100);
    gradMap.at<unsigned char>(5, 7) = 200;
    ContourCurve curve{};
    BuildContourCurve(gradMap, curve);
    for (int level = 0; level < 256; ++level) {
        EXPECT_DOUBLE_EQ(curve[level], level < 100 ? 8.0 : 0.0) << level;
    }
}
