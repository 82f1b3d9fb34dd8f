#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "stroke/window_filters.h"
#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

struct Description {
    std::vector<int> rowWidths;
    std::vector<LineBand> bands;
    std::vector<int> bandWidths;
};

Description OneBand(int rows, int cols, int width) {
    return Description{std::vector<int>(static_cast<size_t>(rows), width),
                       {LineBand{0, 0, cols - 1, rows - 1}},
                       {width}};
}

int Reflect101(int i, int size) {
    if (size == 1) {
        return 0;
    }
    while (i < 0 || i >= size) {
        i = i < 0 ? -i : 2 * (size - 1) - i;
    }
    return i;
}

// Window of side s placed around (r, c) as the anchor mode says; returns its
// first row and column.
cv::Point WindowOrigin(int anchorMode, int side, int r, int c) {
    switch (anchorMode) {
        case kAnchorTopLeft:
            return cv::Point(c, r);
        case kAnchorBottomLeft:
            return cv::Point(c, r - side + 1);
        case kAnchorTopRight:
            return cv::Point(c - side + 1, r);
        case kAnchorBottomRight:
            return cv::Point(c - side + 1, r - side + 1);
        default:
            return cv::Point(c - side / 2, r - side / 2);
    }
}

// Straightforward window sums: real pixels across band edges, reflect-101 at
// the image border, saturation at 65535.
cv::Mat SlowBandCounts(const cv::Mat& source, const std::vector<LineBand>& bands,
                       const std::vector<int>& widths, int anchorMode, double windowFactor) {
    cv::Mat counts = cv::Mat::zeros(source.size(), CV_16UC1);
    for (size_t k = 0; k < bands.size(); ++k) {
        const LineBand& band = bands[k];
        const int extent = std::min(band.right - band.left + 1, band.bottom - band.top + 1);
        const int side = static_cast<int>(std::min<double>(extent, widths[k] * windowFactor));
        for (int r = band.top; r <= band.bottom; ++r) {
            for (int c = band.left; c <= band.right; ++c) {
                const cv::Point origin = WindowOrigin(anchorMode, side, r, c);
                int sum = 0;
                for (int y = origin.y; y < origin.y + side; ++y) {
                    for (int x = origin.x; x < origin.x + side; ++x) {
                        sum += source.at<unsigned char>(Reflect101(y, source.rows),
                                                        Reflect101(x, source.cols));
                    }
                }
                counts.at<unsigned short>(r, c) = cv::saturate_cast<unsigned short>(sum);
            }
        }
    }
    return counts;
}

std::vector<LineBand> RandomTiling(int rows, int cols, std::mt19937& generator) {
    std::vector<LineBand> bands;
    int top = 0;
    while (top < rows) {
        const int height = std::uniform_int_distribution<int>(1, 25)(generator);
        const int bottom = std::min(rows - 1, top + height - 1);
        bands.push_back(LineBand{0, top, cols - 1, bottom});
        top = bottom + 1;
    }
    return bands;
}

int CountDifferences(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat differs;
    cv::compare(a, b, differs, cv::CMP_NE);
    return cv::countNonZero(differs);
}

bool HoldsOnlyZeroAndOne(const cv::Mat& map) {
    cv::Mat above;
    cv::compare(map, 1, above, cv::CMP_GT);
    return cv::countNonZero(above) == 0;
}

}  // namespace

TEST(CountInBandWindowsTest, MatchesPlainWindowSumsOnRandomMasksAndBands) {
    std::mt19937 generator(7);
    for (int trial = 0; trial < 36; ++trial) {
        const int rows = std::uniform_int_distribution<int>(5, 70)(generator);
        const int cols = std::uniform_int_distribution<int>(5, 60)(generator);
        cv::Mat source = RandomMask(rows, cols, 0.1 + 0.02 * (trial % 20), 100 + trial);
        // Most trials count 0/1 maps as the filters do; some keep 255 so that the
        // 16-bit saturation is exercised too.
        if (trial % 4 != 0) {
            source.setTo(1, source);
        }
        const std::vector<LineBand> bands = RandomTiling(rows, cols, generator);
        std::vector<int> widths;
        for (size_t k = 0; k < bands.size(); ++k) {
            widths.push_back(std::uniform_int_distribution<int>(1, 6)(generator));
        }
        const double windowFactor = trial % 3 == 0 ? 6.0 : 2.5;
        for (int mode = kAnchorCentre; mode <= kAnchorBottomRight; ++mode) {
            cv::Mat counts;
            CountInBandWindows(source, counts, bands, widths, mode, windowFactor);
            ASSERT_EQ(counts.type(), CV_16UC1);
            ASSERT_EQ(counts.size(), source.size());
            const cv::Mat expected = SlowBandCounts(source, bands, widths, mode, windowFactor);
            EXPECT_EQ(CountDifferences(counts, expected), 0)
                << "trial " << trial << " anchor mode " << mode;
        }
    }
}

TEST(CountInBandWindowsTest, WindowSideIsCappedByTheBandsShorterSide) {
    const cv::Mat ones = cv::Mat::ones(212, 60, CV_8UC1);
    const std::vector<LineBand> bands{{0, 0, 59, 199}, {0, 200, 59, 211}};
    cv::Mat counts;
    CountInBandWindows(ones, counts, bands, {3, 3}, kAnchorCentre, 6.0);
    EXPECT_EQ(counts.at<unsigned short>(100, 30), 18 * 18);
    EXPECT_EQ(counts.at<unsigned short>(205, 30), 12 * 12);
}

TEST(CountInBandWindowsTest, SourceViewIsReflectedAtItsOwnBorder) {
    cv::Mat page = cv::Mat::ones(30, 30, CV_8UC1);
    const cv::Mat view = page(cv::Rect(10, 10, 10, 10));
    const cv::Mat inside = RandomMask(10, 10, 0.3, 5) / 255;
    inside.copyTo(view);
    const cv::Mat copy = view.clone();
    const Description d = OneBand(10, 10, 2);
    for (int mode = kAnchorCentre; mode <= kAnchorBottomRight; ++mode) {
        cv::Mat fromView;
        cv::Mat fromCopy;
        CountInBandWindows(view, fromView, d.bands, d.bandWidths, mode, 3.0);
        CountInBandWindows(copy, fromCopy, d.bands, d.bandWidths, mode, 3.0);
        EXPECT_EQ(CountDifferences(fromView, fromCopy), 0) << "anchor mode " << mode;
    }
}

TEST(DensityFilterTest, KeepsPixelsWithAtLeastWidthTimesFactorNeighbours) {
    // Width 3, factors 6: window 18 x 18 around (20, 20) spans columns 11..28.
    for (int length : {17, 18}) {
        cv::Mat map = cv::Mat::zeros(40, 40, CV_8UC1);
        map.row(20).colRange(11, 11 + length).setTo(255);
        const Description d = OneBand(40, 40, 3);
        DensityFilter(map, d.rowWidths, d.bands, d.bandWidths, 6.0, 6.0);
        EXPECT_EQ(map.at<unsigned char>(20, 20), length == 18 ? 1 : 0) << "length " << length;
        EXPECT_TRUE(HoldsOnlyZeroAndOne(map));
    }
}

TEST(DensityFilterTest, ThresholdFollowsEachRowsWidth) {
    cv::Mat map = cv::Mat::zeros(40, 40, CV_8UC1);
    map.rowRange(10, 13).colRange(5, 35).setTo(255);
    map.rowRange(26, 29).colRange(5, 35).setTo(255);
    const std::vector<LineBand> bands{{0, 0, 39, 19}, {0, 20, 39, 39}};
    std::vector<int> rowWidths(40, 2);
    std::fill(rowWidths.begin() + 20, rowWidths.end(), 9);
    // Windows of 4 x 4: a line pixel sees at most 12 edge pixels; t is 8 in the
    // upper band and 36 in the lower one.
    DensityFilter(map, rowWidths, bands, {2, 2}, 2.0, 4.0);
    EXPECT_EQ(map.at<unsigned char>(11, 20), 1);
    EXPECT_EQ(cv::countNonZero(map.rowRange(20, 40)), 0);
}

TEST(CornerVoteFilterTest, RemovesIsolatedBlobButKeepsEveryPixelOfAThickLine) {
    cv::Mat map = cv::Mat::zeros(100, 200, CV_8UC1);
    map.rowRange(20, 23).colRange(80, 180).setTo(255);
    map.rowRange(70, 73).colRange(30, 33).setTo(255);
    const cv::Mat line = map.rowRange(20, 23).colRange(80, 180).clone();
    const Description d = OneBand(100, 200, 3);
    CornerVoteFilter(map, d.rowWidths, d.bands, d.bandWidths, 4, 10.0, 10.0);
    EXPECT_EQ(cv::countNonZero(map.rowRange(70, 73).colRange(30, 33)), 0);
    EXPECT_EQ(cv::countNonZero(map), 300);
    EXPECT_EQ(CountDifferences(map.rowRange(20, 23).colRange(80, 180), line / 255), 0);
}

TEST(CornerVoteFilterTest, CountEqualToThresholdIsNotSparse) {
    // Window side 2: every window of the middle pixel of a 3 x 3 blob holds 4.
    for (double countFactor : {4.0, 5.0}) {
        cv::Mat map = cv::Mat::zeros(10, 10, CV_8UC1);
        map.rowRange(4, 7).colRange(4, 7).setTo(255);
        const Description d = OneBand(10, 10, 1);
        CornerVoteFilter(map, d.rowWidths, d.bands, d.bandWidths, 1, 2.0, countFactor);
        EXPECT_EQ(map.at<unsigned char>(5, 5), countFactor == 4.0 ? 1 : 0);
    }
}

TEST(CornerVoteFilterTest, NeedsMinVotesSparseWindows) {
    // At the left end of a thick line exactly two corner windows are sparse.
    for (int minVotes : {2, 3}) {
        cv::Mat map = cv::Mat::zeros(100, 200, CV_8UC1);
        map.rowRange(20, 23).colRange(80, 180).setTo(255);
        const Description d = OneBand(100, 200, 3);
        CornerVoteFilter(map, d.rowWidths, d.bands, d.bandWidths, minVotes, 10.0, 10.0);
        EXPECT_EQ(map.at<unsigned char>(21, 80), minVotes == 3 ? 1 : 0);
        EXPECT_EQ(map.at<unsigned char>(21, 120), 1);
    }
}

TEST(WindowFiltersTest, IncompleteDescriptionsLeaveTheMapUntouched) {
    cv::Mat original = RandomMask(30, 20, 0.4, 11);
    original.at<unsigned char>(0, 0) = 7;
    const Description good = OneBand(30, 20, 2);
    std::vector<Description> refused(7, good);
    refused[0].rowWidths.pop_back();
    refused[1].rowWidths.push_back(2);
    refused[2].bands[0].bottom = 28;
    refused[3].bands[0].right = 18;
    refused[4].bandWidths = {0};
    refused[5].bandWidths.push_back(2);
    refused[6].bands = {{0, 0, 19, 15}, {0, 15, 19, 29}};
    refused[6].bandWidths = {2, 2};
    for (size_t i = 0; i < refused.size(); ++i) {
        const Description& d = refused[i];
        cv::Mat map = original.clone();
        DensityFilter(map, d.rowWidths, d.bands, d.bandWidths, 6.0, 6.0);
        EXPECT_EQ(CountDifferences(map, original), 0) << "density, case " << i;
        CornerVoteFilter(map, d.rowWidths, d.bands, d.bandWidths, 4, 10.0, 10.0);
        EXPECT_EQ(CountDifferences(map, original), 0) << "corner vote, case " << i;
    }
    cv::Mat map = original.clone();
    DensityFilter(map, good.rowWidths, good.bands, good.bandWidths, 6.0, 6.0);
    EXPECT_NE(CountDifferences(map, original), 0);
}

TEST(WindowFiltersTest, EmptyMapIsAcceptedWithoutWork) {
    cv::Mat counts;
    CountInBandWindows(cv::Mat(), counts, {}, {}, kAnchorCentre, 6.0);
    EXPECT_TRUE(counts.empty());
    cv::Mat map;
    DensityFilter(map, {}, {}, {}, 6.0, 6.0);
    CornerVoteFilter(map, {}, {}, {}, 4, 10.0, 10.0);
    EXPECT_TRUE(map.empty());
}
