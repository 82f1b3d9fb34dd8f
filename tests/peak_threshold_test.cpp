#include "global/peak_threshold.h"

#include <gtest/gtest.h>

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

TEST(IsolateBandPixelsTest, MatchesANeighbourCountOnRandomMasks) {
    // Masks of any non-zero values that may overlap, on strips and blocks, against
    // the plain count of strong 8-neighbours inside the page.
    std::mt19937 rng(23);
    const cv::Size sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {17, 13}, {40, 31}};
    for (const cv::Size& size : sizes) {
        for (int trial = 0; trial < 20; ++trial) {
            cv::Mat strong(size, CV_8UC1);
            cv::Mat band(size, CV_8UC1);
            const int strongShare = std::uniform_int_distribution<int>(1, 20)(rng);
            for (int y = 0; y < size.height; ++y) {
                for (int x = 0; x < size.width; ++x) {
                    const int roll = std::uniform_int_distribution<int>(0, 99)(rng);
                    strong.at<unsigned char>(y, x) = roll < strongShare ? 1 + roll : 0;
                    band.at<unsigned char>(y, x) = roll % 3 == 0 ? 7 * roll % 256 : 0;
                }
            }
            cv::Mat expected = band.clone();
            for (int y = 0; y < size.height; ++y) {
                for (int x = 0; x < size.width; ++x) {
                    for (int dy = -1; dy <= 1; ++dy) {
                        for (int dx = -1; dx <= 1; ++dx) {
                            const cv::Point n(x + dx, y + dy);
                            if ((dx != 0 || dy != 0) && n.inside(cv::Rect({}, size)) &&
                                strong.at<unsigned char>(n) != 0) {
                                expected.at<unsigned char>(y, x) = 0;
                            }
                        }
                    }
                }
            }
            cv::Mat isolated;
            IsolateBandPixels(strong, band, isolated);
            ASSERT_EQ(cv::countNonZero(isolated != expected), 0) << size << " trial " << trial;
        }
    }
}

}  // namespace
