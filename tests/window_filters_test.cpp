// Worked examples of the window count filters at their thresholds. Everything
// else (other factors, band edges, anchors, refused descriptions) is in the
// comparison with the box-filter versions in stage_equivalence_test.
#include <gtest/gtest.h>

#include "stroke/window_filters.h"

using namespace edgebin::detail;

namespace {

// A 3-pixel-wide stroke description of one band over a 100 x 200 map.
const std::vector<int> kRowWidths(100, 3);
const std::vector<LineBand> kBands{{0, 0, 199, 99}};
const std::vector<int> kBandWidths{3};

cv::Mat MapWithLine(int rows, int left, int length) {
    cv::Mat map = cv::Mat::zeros(100, 200, CV_8UC1);
    map.rowRange(20, 20 + rows).colRange(left, left + length).setTo(255);
    return map;
}

}  // namespace

TEST(WindowFiltersTest, DensityKeepsAPixelWhoseWindowHoldsWidthTimesFactor) {
    // Factors 6: the 18 x 18 window around (20, 20) spans columns 11..28 and must
    // hold 18 edge pixels; a run of 17 from column 11 falls one short.
    for (int length : {17, 18}) {
        cv::Mat map = MapWithLine(1, 11, length);
        DensityFilter(map, kRowWidths, kBands, kBandWidths, 6.0, 6.0);
        EXPECT_EQ(map.at<unsigned char>(20, 20), length == 18 ? 1 : 0) << "length " << length;
    }
}

TEST(WindowFiltersTest, CornerVoteNeedsMinVotesSparseCornerWindows) {
    // Windows of 30 x 30 with at least 30 pixels: at the left end of a 3 x 100
    // line only the two windows reaching left are sparse; further in none is.
    for (int minVotes : {2, 3}) {
        cv::Mat map = MapWithLine(3, 80, 100);
        CornerVoteFilter(map, kRowWidths, kBands, kBandWidths, minVotes, 10.0, 10.0);
        EXPECT_EQ(map.at<unsigned char>(21, 80), minVotes == 3 ? 1 : 0) << minVotes;
        EXPECT_EQ(map.at<unsigned char>(21, 120), 1) << minVotes;
    }
}
