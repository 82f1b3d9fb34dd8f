#include <gtest/gtest.h>

#include <set>

#include "pipeline/direction_maps.h"

using namespace edgebin::detail;

namespace {

// Maps 1..8 that mark a single candidate pixel with gradient (gx, gy).
std::set<int> SectorsOf(short gx, short gy) {
    const cv::Mat gradX(1, 1, CV_16SC1, cv::Scalar(gx));
    const cv::Mat gradY(1, 1, CV_16SC1, cv::Scalar(gy));
    const cv::Mat mask(1, 1, CV_8UC1, cv::Scalar(255));
    std::vector<cv::Mat> dirMaps;
    BuildDirectionMaps(gradX, gradY, mask, dirMaps);
    EXPECT_EQ(dirMaps.size(), 9u);
    EXPECT_EQ(dirMaps[0].at<unsigned char>(0, 0), 1);
    std::set<int> sectors;
    for (int j = 1; j < 9; ++j) {
        EXPECT_EQ(dirMaps[j].type(), CV_8UC1);
        if (dirMaps[j].at<unsigned char>(0, 0) != 0) {
            EXPECT_EQ(dirMaps[j].at<unsigned char>(0, 0), 1);
            sectors.insert(j);
        }
    }
    return sectors;
}

}  // namespace

TEST(BuildDirectionMaps, AxisAndDiagonalGradientsLandInThreeSectors) {
    EXPECT_EQ(SectorsOf(0, 5), (std::set<int>{1, 5, 6}));
    EXPECT_EQ(SectorsOf(5, 0), (std::set<int>{4, 5, 7}));
    EXPECT_EQ(SectorsOf(-5, -5), (std::set<int>{2, 3, 8}));
    EXPECT_EQ(SectorsOf(0, -5), (std::set<int>{2, 7, 8}));
    EXPECT_EQ(SectorsOf(-5, 0), (std::set<int>{3, 6, 8}));
    EXPECT_EQ(SectorsOf(5, 5), (std::set<int>{1, 4, 5}));
    // A zero gradient is a candidate without direction.
    EXPECT_TRUE(SectorsOf(0, 0).empty());
}

TEST(BuildDirectionMaps, SectorEdgesAreStrictAndComparedInDouble) {
    // 1000 * 0.414 = 414 exactly: on the edge between down and the side sectors.
    EXPECT_EQ(SectorsOf(1000, 414), (std::set<int>{4, 5}));
    EXPECT_EQ(SectorsOf(1000, 415), (std::set<int>{1, 4, 5}));
    // 1000 * 2.414 = 2414: on the edge of the right sector.
    EXPECT_EQ(SectorsOf(1000, 2414), (std::set<int>{1, 5}));
    EXPECT_EQ(SectorsOf(1000, 2413), (std::set<int>{1, 4, 5}));
    // Full 16-bit range does not overflow.
    EXPECT_EQ(SectorsOf(-32768, 32767), (std::set<int>{1, 3, 6}));
}

TEST(BuildDirectionMaps, OnlyCandidatesAreMarkedAndAnyNonZeroCounts) {
    const cv::Mat mask = (cv::Mat_<unsigned char>(2, 3) << 0, 7, 255, 1, 0, 0);
    const cv::Mat gradX(2, 3, CV_16SC1, cv::Scalar(0));
    const cv::Mat gradY(2, 3, CV_16SC1, cv::Scalar(9));
    std::vector<cv::Mat> dirMaps(4);  // stale content is replaced
    BuildDirectionMaps(gradX, gradY, mask, dirMaps);
    ASSERT_EQ(dirMaps.size(), 9u);
    const cv::Mat expected = (cv::Mat_<unsigned char>(2, 3) << 0, 1, 1, 1, 0, 0);
    for (int j : {0, 1, 5, 6}) {
        EXPECT_EQ(cv::countNonZero(dirMaps[j] != expected), 0) << "map " << j;
    }
    for (int j : {2, 3, 4, 7, 8}) {
        EXPECT_EQ(cv::countNonZero(dirMaps[j]), 0) << "map " << j;
    }
}

TEST(BuildDirectionMaps, RowViewsWithGapsAreWalkedRowByRow) {
    cv::Mat bigMask(4, 6, CV_8UC1, cv::Scalar(255));
    cv::Mat bigX(4, 6, CV_16SC1, cv::Scalar(5));
    cv::Mat bigY(4, 6, CV_16SC1, cv::Scalar(0));
    const cv::Rect view(1, 1, 3, 2);
    bigX(view).at<short>(1, 2) = 0;
    bigY(view).at<short>(1, 2) = -5;
    std::vector<cv::Mat> dirMaps;
    BuildDirectionMaps(bigX(view), bigY(view), bigMask(view), dirMaps);
    ASSERT_EQ(dirMaps[0].size(), cv::Size(3, 2));
    EXPECT_EQ(cv::countNonZero(dirMaps[0]), 6);
    EXPECT_EQ(cv::countNonZero(dirMaps[4]), 5);  // right: all but the upward pixel
    EXPECT_EQ(cv::countNonZero(dirMaps[2]), 1);  // up
    EXPECT_EQ(dirMaps[2].at<unsigned char>(1, 2), 1);
}
