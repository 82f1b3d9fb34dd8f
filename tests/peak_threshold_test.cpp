#include "global/peak_threshold.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>

using namespace edgebin::detail;

namespace {

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

// One isolated band pixel beside a two-pixel strong speck, which does not shield;
// with `third` the strong run is three long and shields it.
cv::Mat SpeckMap(bool third) {
    cv::Mat gradMap = cv::Mat::zeros(10, 10, CV_8UC1);
    gradMap.at<unsigned char>(5, 5) = 60;
    gradMap.at<unsigned char>(5, 6) = 60;
    gradMap.at<unsigned char>(6, 5) = 30;
    if (third) {
        gradMap.at<unsigned char>(5, 7) = 60;
    }
    return gradMap;
}

TEST(ChoosePeakLevelTest, RecordsThePeaksAndPicksByTheIsolatedShare) {
    const struct {
        const char* name;
        cv::Mat gradMap;
        bool hasSecond;
        int mainPeak, secondPeak;
        double Rthre;
        int level;
        double ratio;  // -1: not measured
    } cases[] = {
        {"single peak", cv::Mat::zeros(5, 5, CV_8UC1), false, 42, 0, 0.05, 42, -1.0},
        {"ratio equal to Rthre keeps the lower level", RatioMap(), true, 40, 20, 0.05, 20, 0.05},
        {"ratio above Rthre takes the higher level", RatioMap(), true, 20, 40, 0.049, 40, 0.05},
        {"two-pixel specks do not shield", SpeckMap(false), true, 20, 40, 0.0, 40, 0.01},
        {"three strong pixels shield", SpeckMap(true), true, 20, 40, 0.0, 20, 0.0},
        {"Rthre 1 always keeps the lower level", cv::Mat(6, 6, CV_8UC1, cv::Scalar(30)), true, 40,
         20, 1.0, 20, 1.0},
        {"Rthre just below a full band", cv::Mat(6, 6, CV_8UC1, cv::Scalar(30)), true, 40, 20, 0.99,
         40, 1.0},
    };
    for (const auto& c : cases) {
        edgebin::Trace trace;
        EXPECT_EQ(ChoosePeakLevel(c.gradMap, c.hasSecond, c.mainPeak, c.secondPeak, c.Rthre, trace),
                  c.level)
            << c.name;
        EXPECT_EQ(trace.mainPeak, c.mainPeak) << c.name;
        EXPECT_EQ(trace.secondPeak, c.hasSecond ? c.secondPeak : -1) << c.name;
        EXPECT_DOUBLE_EQ(trace.ratio, c.ratio) << c.name;
    }
}

// The isolated share as defined: strong pixels in 8-connected components of three
// or more (OpenCV's labelling), and band pixels with none of them among their
// 8-neighbours inside the page. Random maps with strong shares from sparse specks
// to dense blobs, on strips and blocks, on one thread and in three bands.
TEST(ChoosePeakLevelTest, RatioMatchesComponentsOnRandomMaps) {
    std::mt19937 rng(23);
    const cv::Size sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {17, 13}, {40, 31}};
    for (const cv::Size& size : sizes) {
        for (int trial = 0; trial < 20; ++trial) {
            cv::Mat gradMap(size, CV_8UC1);
            const int strongShare = std::uniform_int_distribution<int>(1, 40)(rng);
            for (auto it = gradMap.begin<unsigned char>(); it != gradMap.end<unsigned char>();
                 ++it) {
                const int roll = std::uniform_int_distribution<int>(0, 99)(rng);
                *it = static_cast<unsigned char>(roll < strongShare ? 41 + roll : roll % 3 * 20);
            }
            cv::Mat labels;
            cv::Mat stats;
            cv::Mat centroids;
            cv::connectedComponentsWithStats(gradMap > 40, labels, stats, centroids, 8);
            const cv::Rect page({}, size);
            int isolated = 0;
            for (int y = 0; y < size.height; ++y) {
                for (int x = 0; x < size.width; ++x) {
                    bool near = false;
                    for (int dy = -1; dy <= 1; ++dy) {
                        for (int dx = -1; dx <= 1; ++dx) {
                            const cv::Point n(x + dx, y + dy);
                            near =
                                near || (n.inside(page) && labels.at<int>(n) > 0 &&
                                         stats.at<int>(labels.at<int>(n), cv::CC_STAT_AREA) >= 3);
                        }
                    }
                    const int grad = gradMap.at<unsigned char>(y, x);
                    isolated += grad > 20 && grad <= 40 && !near ? 1 : 0;
                }
            }
            for (const int threads : {1, 3}) {
                edgebin::Trace trace;
                ChoosePeakLevel(gradMap, true, 20, 40, 0.05, trace, threads);
                ASSERT_EQ(trace.ratio, isolated / static_cast<double>(size.area()))
                    << size << " trial " << trial << " threads " << threads;
            }
        }
    }
}

}  // namespace
