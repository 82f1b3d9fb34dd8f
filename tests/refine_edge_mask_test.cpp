// A worked example of the edge mask refinement: suppression of dominated pixels
// and their restoration by the far windows. Everything else is in the comparison
// with the count-map version in stage_equivalence_test.
#include <gtest/gtest.h>

#include "local/refine_edge_mask.h"

using namespace edgebin::detail;

namespace {

// Marks the first `count` cells of a block, row by row, as candidates of
// direction `j`.
void MarkBlock(std::vector<cv::Mat>& dirMaps, cv::Rect block, int count, int j) {
    for (int y = block.y; y < block.y + block.height && count > 0; ++y) {
        for (int x = block.x; x < block.x + block.width && count > 0; ++x, --count) {
            dirMaps[0].at<unsigned char>(y, x) = 1;
            dirMaps[j].at<unsigned char>(y, x) = 1;
        }
    }
}

}  // namespace

TEST(RefineEdgeMask, RestoresOnlyBelowTheRoundedShareOfRemovedPixels) {
    // Width 1, near scale 7: near windows 7 x 7, far windows 20 x 20. A 3 x 3
    // block of direction 1 and, 5 columns away (outside the near windows, inside
    // the far ones), a block of direction 2; each is suppressed on its own
    // (all its near pixels share one direction). The edge mask is full.
    const int rows = 30;
    const int cols = 40;
    const cv::Rect first(10, 10, 3, 3);
    const cv::Rect second(17, 10, 2, 2);
    const std::vector<LineBand> bands{{0, 0, cols - 1, rows - 1}};
    // 9 + 3 removed: far t = cvRound(0.75 * 12) = 9 = m, stays removed;
    // 9 + 4 removed: t = cvRound(9.75) = 10 > 9, every removed pixel comes back.
    for (int secondCount : {3, 4}) {
        std::vector<cv::Mat> dirMaps(9);
        for (cv::Mat& map : dirMaps) {
            map = cv::Mat::zeros(rows, cols, CV_8UC1);
        }
        MarkBlock(dirMaps, first, 9, 1);
        MarkBlock(dirMaps, second, secondCount, 2);
        cv::Mat edges(rows, cols, CV_8UC1, cv::Scalar(255));
        cv::Mat restored;
        RefineEdgeMask(edges, restored, dirMaps, bands, {1}, std::vector<int>(rows, 1), 2, 7.0,
                       0.75);
        const bool back = secondCount == 4;
        EXPECT_EQ(cv::countNonZero(edges(first)), back ? 9 : 0) << secondCount;
        EXPECT_EQ(cv::countNonZero(restored(first) == 255), back ? 9 : 0) << secondCount;
        EXPECT_EQ(edges.at<unsigned char>(10, 17), back ? 1 : 0) << secondCount;
    }
}
