#include "pipeline/labelling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <opencv2/imgproc.hpp>

#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

// Packs "F"/"B" rows into a labelling buffer: F = foreground (0), B = background.
std::vector<unsigned char> Pack(const std::vector<std::string>& rows) {
    std::vector<unsigned char> pixels;
    for (const std::string& row : rows) {
        for (char c : row) {
            pixels.push_back(c == 'F' ? 0 : 255);
        }
    }
    return pixels;
}

struct Labelled {
    int count;
    std::vector<int> labels;
};

Labelled Label(const std::vector<std::string>& rows) {
    const int height = static_cast<int>(rows.size());
    const int width = static_cast<int>(rows[0].size());
    std::vector<unsigned char> pixels = Pack(rows);
    Labelled out{0, std::vector<int>(pixels.size(), 7)};
    out.count = LabelComponents(pixels.data(), width, height, out.labels.data());
    return out;
}

}  // namespace

TEST(LabelComponents, NoForegroundGivesNoLabelsAndNoRecords) {
    const Labelled result = Label({"BBB", "BBB"});
    EXPECT_EQ(result.count, 0);
    for (int label : result.labels) {
        EXPECT_EQ(label, 0);
    }
    std::vector<ComponentRecord> records(3);
    CollectComponentStats(result.labels.data(), 3, 2, 0, records);
    EXPECT_TRUE(records.empty());
}

TEST(LabelComponents, SinglePixelMarksItsNeighboursAndNothingOutside) {
    const Labelled result = Label({"BBB", "BFB", "BBB"});
    ASSERT_EQ(result.count, 1);
    const std::vector<int> expected = {-1, -1, -1, -1, 1, -1, -1, -1, -1};
    EXPECT_EQ(result.labels, expected);

    std::vector<ComponentRecord> records;
    CollectComponentStats(result.labels.data(), 3, 3, 1, records);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].xMin, 1);
    EXPECT_EQ(records[0].xMax, 1);
    EXPECT_EQ(records[0].yMin, 1);
    EXPECT_EQ(records[0].yMax, 1);
    EXPECT_EQ(records[0].label, 1);
    EXPECT_EQ(records[0].pixelCount, 1);
    EXPECT_EQ(records[0].flag, 1);

    const Labelled corner = Label({"FB", "BB"});
    const std::vector<int> cornerExpected = {1, -1, -1, -1};
    EXPECT_EQ(corner.labels, cornerExpected);
}

TEST(LabelComponents, CornerTouchingPixelsAreOneComponentInRasterOrder) {
    const Labelled result = Label({"FBBF", "BFBB", "BBBB", "FFBF"});
    EXPECT_EQ(result.count, 4);
    EXPECT_EQ(result.labels[0], 1);
    EXPECT_EQ(result.labels[5], 1);
    EXPECT_EQ(result.labels[3], 2);
    EXPECT_EQ(result.labels[12], 3);
    EXPECT_EQ(result.labels[13], 3);
    EXPECT_EQ(result.labels[15], 4);
}

TEST(LabelComponents, HolesNeverGetAPositiveLabelNorStopTheComponent) {
    const Labelled ring = Label({"BBBBB", "BFFFB", "BFBFB", "BFFFB", "BBBBB"});
    ASSERT_EQ(ring.count, 1);
    EXPECT_LE(ring.labels[12], 0);
    EXPECT_EQ(std::count(ring.labels.begin(), ring.labels.end(), 1), 8);

    const Labelled holeBelowFirst = Label({"BFFFB", "FBFFF", "BFFFB"});
    ASSERT_EQ(holeBelowFirst.count, 1);
    EXPECT_EQ(std::count(holeBelowFirst.labels.begin(), holeBelowFirst.labels.end(), 1), 10);
}

// Same partition, boxes and sizes as OpenCV's own 8-connected labelling, with
// labels in the raster order of each component's first pixel.
TEST(LabelComponents, AgreesWithOpenCvOnRandomImages) {
    for (unsigned seed = 0; seed < 300; ++seed) {
        const int rows = 1 + static_cast<int>(seed * 7 % 40);
        const int cols = 1 + static_cast<int>(seed * 13 % 45);
        const double density = 0.15 + 0.7 * ((seed * 37) % 100) / 100.0;
        const cv::Mat mask = RandomMask(rows, cols, density, seed);

        std::vector<ComponentRecord> records;
        const int n = FindMaskComponents(mask, records);

        cv::Mat cvLabels;
        cv::Mat stats;
        cv::Mat centroids;
        const int cvCount =
            cv::connectedComponentsWithStats(mask, cvLabels, stats, centroids, 8, CV_32S);
        ASSERT_EQ(n, cvCount - 1) << "seed " << seed;

        // Map OpenCV's labels to ours through the first pixel of each component.
        std::vector<unsigned char> pixels(static_cast<size_t>(rows) * cols);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < cols; ++x) {
                pixels[static_cast<size_t>(y) * cols + x] = mask.at<unsigned char>(y, x) ? 0 : 255;
            }
        }
        std::vector<int> ours(pixels.size());
        LabelComponents(pixels.data(), cols, rows, ours.data());
        std::map<int, int> ourOf;
        int nextExpected = 1;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < cols; ++x) {
                const int theirs = cvLabels.at<int>(y, x);
                const int mine = ours[static_cast<size_t>(y) * cols + x];
                if (theirs == 0) {
                    ASSERT_LE(mine, 0);
                    continue;
                }
                auto found = ourOf.find(theirs);
                if (found == ourOf.end()) {
                    ASSERT_EQ(mine, nextExpected) << "seed " << seed;
                    ourOf[theirs] = mine;
                    ++nextExpected;
                } else {
                    ASSERT_EQ(mine, found->second) << "seed " << seed;
                }
            }
        }
        for (const auto& [theirs, mine] : ourOf) {
            const ComponentRecord& record = records[static_cast<size_t>(mine) - 1];
            EXPECT_EQ(record.label, mine);
            EXPECT_EQ(record.xMin, stats.at<int>(theirs, cv::CC_STAT_LEFT));
            EXPECT_EQ(record.yMin, stats.at<int>(theirs, cv::CC_STAT_TOP));
            EXPECT_EQ(record.xMax - record.xMin + 1, stats.at<int>(theirs, cv::CC_STAT_WIDTH));
            EXPECT_EQ(record.yMax - record.yMin + 1, stats.at<int>(theirs, cv::CC_STAT_HEIGHT));
            EXPECT_EQ(record.pixelCount, stats.at<int>(theirs, cv::CC_STAT_AREA));
        }
    }
}

TEST(FindMaskComponents, AnyNonZeroValueIsForegroundAndEmptyMaskIsHandled) {
    const cv::Mat mask = MaskFromText({"#..", "..#"}, 1);
    std::vector<ComponentRecord> records;
    EXPECT_EQ(FindMaskComponents(mask, records), 2);
    EXPECT_EQ(records[1].xMin, 2);
    EXPECT_EQ(FindMaskComponents(cv::Mat(0, 0, CV_8UC1), records), 0);
    EXPECT_TRUE(records.empty());
}
