#include "pipeline/faint_ink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace {

int LowerMiddle(std::vector<int> values) {
    std::nth_element(values.begin(), values.begin() + (values.size() - 1) / 2, values.end());
    return values[(values.size() - 1) / 2];
}

// The measure as its comment states it, pixel by pixel: a sorted window per pixel
// (edges replicated), Chebyshev distance to the higher result's ink.
double AddedInkContrastOracle(const cv::Mat& grey, const cv::Mat& higher, const cv::Mat& lower,
                              int strokeWidth) {
    const int reach = std::max(2, strokeWidth / 2);
    const int half = std::max(31, 6 * strokeWidth) / 2;
    const auto at = [](const cv::Mat& m, int y, int x) {
        return m.at<uchar>(std::clamp(y, 0, m.rows - 1), std::clamp(x, 0, m.cols - 1));
    };
    std::vector<int> contrasts;
    std::vector<int> paper;
    for (int y = 0; y < grey.rows; ++y) {
        for (int x = 0; x < grey.cols; ++x) {
            if (lower.at<uchar>(y, x) != 0) {
                paper.push_back(grey.at<uchar>(y, x));
                continue;
            }
            bool near = false;
            std::vector<int> window;
            for (int v = -half; v <= half; ++v) {
                for (int u = -half; u <= half; ++u) {
                    window.push_back(at(grey, y + v, x + u));
                    near = near || (std::max(std::abs(u), std::abs(v)) <= reach &&
                                    at(higher, y + v, x + u) == 0);
                }
            }
            if (!near) {
                contrasts.push_back(LowerMiddle(window) - grey.at<uchar>(y, x));
            }
        }
    }
    if (contrasts.empty() || contrasts.size() < 0.001 * static_cast<double>(grey.total())) {
        return 0.0;
    }
    const int median = paper.empty() ? 0 : LowerMiddle(paper);
    for (int& value : paper) {
        value = std::abs(value - median);
    }
    return LowerMiddle(contrasts) /
           std::max(0.5, paper.empty() ? 0.0 : 1.4826 * LowerMiddle(paper));
}

}  // namespace

// Random pages, so that every added pixel's window and every spread is exercised;
// whether the measure tells writing from show-through is shown on whole pages in
// library_test.
TEST(AddedInkContrastTest, AgreesWithAPixelByPixelCount) {
    cv::RNG rng(7);
    for (int trial = 0; trial < 12; ++trial) {
        const cv::Size size(rng.uniform(20, 70), rng.uniform(20, 70));
        cv::Mat grey(size, CV_8UC1);
        rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
        cv::Mat draw(size, CV_8UC1);
        rng.fill(draw, cv::RNG::UNIFORM, 0, 100);
        cv::Mat higher(size, CV_8UC1, cv::Scalar(255));
        cv::Mat lower(size, CV_8UC1, cv::Scalar(255));
        higher.setTo(0, draw < 3);
        lower.setTo(0, draw < 3 + trial * 3);
        const int width = rng.uniform(1, 12);
        EXPECT_DOUBLE_EQ(edgebin::detail::AddedInkContrast(grey, higher, lower, width),
                         AddedInkContrastOracle(grey, higher, lower, width))
            << "trial " << trial;
    }
}
