// The contour-tracing labeller (the oracle of the mask components) on the worked
// example of a hole below a component's first pixel, and the mask components
// against OpenCV's own 8-connected labelling on random masks.
#include "pipeline/labelling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "support/test_support.h"

using namespace edgebin::detail;

TEST(LabelComponents, HoleBelowTheFirstPixelStillLabelsTheWholeComponent) {
    // F = foreground (0), B = background: all ten F pixels get label 1.
    const std::string rows =
        "BFFFB"
        "FBFFF"
        "BFFFB";
    std::vector<unsigned char> pixels;
    for (char c : rows) {
        pixels.push_back(c == 'F' ? 0 : 255);
    }
    std::vector<int> labels(pixels.size(), 7);
    EXPECT_EQ(LabelComponents(pixels.data(), 5, 3, labels.data()), 1);
    EXPECT_EQ(std::count(labels.begin(), labels.end(), 1), 10);
}

// Same partition, boxes and sizes as OpenCV, records in the raster order of each
// component's first pixel.
TEST(FindMaskComponents, AgreesWithOpenCvOnRandomMasks) {
    for (unsigned seed = 0; seed < 300; ++seed) {
        const int rows = 1 + static_cast<int>(seed * 7 % 40);
        const int cols = 1 + static_cast<int>(seed * 13 % 45);
        const cv::Mat mask = RandomMask(rows, cols, 0.15 + 0.7 * ((seed * 37) % 100) / 100.0, seed);
        std::vector<ComponentRecord> records;
        const int n = FindMaskComponents(mask, records);
        cv::Mat cvLabels, stats, centroids;
        ASSERT_EQ(n,
                  cv::connectedComponentsWithStats(mask, cvLabels, stats, centroids, 8, CV_32S) - 1)
            << "seed " << seed;
        ASSERT_EQ(records.size(), static_cast<size_t>(n));
        // OpenCV's labels in the raster order of their components' first pixels.
        std::vector<int> order;
        std::vector<bool> seen(static_cast<size_t>(n) + 1, false);
        for (int i = 0; i < rows * cols; ++i) {
            const int theirs = cvLabels.at<int>(i / cols, i % cols);
            if (theirs > 0 && !seen[static_cast<size_t>(theirs)]) {
                seen[static_cast<size_t>(theirs)] = true;
                order.push_back(theirs);
            }
        }
        for (int i = 0; i < n; ++i) {
            const ComponentRecord& r = records[static_cast<size_t>(i)];
            const int t = order[static_cast<size_t>(i)];
            EXPECT_EQ(r.label, i + 1) << "seed " << seed;
            EXPECT_EQ(r.xMin, stats.at<int>(t, cv::CC_STAT_LEFT)) << "seed " << seed;
            EXPECT_EQ(r.yMin, stats.at<int>(t, cv::CC_STAT_TOP)) << "seed " << seed;
            EXPECT_EQ(r.xMax - r.xMin + 1, stats.at<int>(t, cv::CC_STAT_WIDTH)) << "seed " << seed;
            EXPECT_EQ(r.yMax - r.yMin + 1, stats.at<int>(t, cv::CC_STAT_HEIGHT)) << "seed " << seed;
            EXPECT_EQ(r.pixelCount, stats.at<int>(t, cv::CC_STAT_AREA)) << "seed " << seed;
        }
    }
}
