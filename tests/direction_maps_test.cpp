// A worked example of the direction maps: the three sectors of each gradient
// direction. Sector edges, the full 16-bit range, views and non-candidates are in
// the comparison with the full scan in stage_equivalence_test.
#include <gtest/gtest.h>

#include <set>

#include "common/direction_maps.h"

using namespace edgebin::detail;

TEST(BuildDirectionMaps, AxisAndDiagonalGradientsLandInThreeSectors) {
    const struct {
        short gx, gy;
        std::set<int> sectors;
    } cases[] = {{0, 5, {1, 5, 6}},  {5, 0, {4, 5, 7}}, {-5, -5, {2, 3, 8}}, {0, -5, {2, 7, 8}},
                 {-5, 0, {3, 6, 8}}, {5, 5, {1, 4, 5}}, {0, 0, {}}};
    for (const auto& c : cases) {
        std::vector<cv::Mat> dirMaps;
        BuildDirectionMaps(cv::Mat(1, 1, CV_16SC1, cv::Scalar(c.gx)),
                           cv::Mat(1, 1, CV_16SC1, cv::Scalar(c.gy)),
                           cv::Mat(1, 1, CV_8UC1, cv::Scalar(255)), dirMaps);
        ASSERT_EQ(dirMaps.size(), 9u);
        EXPECT_EQ(dirMaps[0].at<unsigned char>(0, 0), 1);
        std::set<int> sectors;
        for (int j = 1; j < 9; ++j) {
            if (dirMaps[j].at<unsigned char>(0, 0) != 0) {
                sectors.insert(j);
            }
        }
        EXPECT_EQ(sectors, c.sectors) << c.gx << ", " << c.gy;
    }
}
