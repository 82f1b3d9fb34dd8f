#include "pipeline/faint_ink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace {

int LowerMiddle(std::vector<int> values) {
    std::sort(values.begin(), values.end());
    return values[(values.size() - 1) / 2];
}

// The measure as its comment states it, pixel by pixel: a sorted window per pixel
// (edges replicated), Chebyshev distance to the higher result's ink.
double AddedInkContrastOracle(const cv::Mat& grey, const cv::Mat& higher, const cv::Mat& lower,
                              int strokeWidth) {
    const int reach = std::max(2, strokeWidth / 2);
    const int half = std::max(31, 6 * strokeWidth) / 2;
    std::vector<int> contrasts;
    std::vector<int> paper;
    for (int y = 0; y < grey.rows; ++y) {
        for (int x = 0; x < grey.cols; ++x) {
            if (lower.at<uchar>(y, x) != 0) {
                paper.push_back(grey.at<uchar>(y, x));
                continue;
            }
            bool near = false;
            for (int v = std::max(0, y - reach); v <= std::min(grey.rows - 1, y + reach); ++v) {
                for (int u = std::max(0, x - reach); u <= std::min(grey.cols - 1, x + reach); ++u) {
                    near = near || higher.at<uchar>(v, u) == 0;
                }
            }
            if (near) {
                continue;
            }
            std::vector<int> window;
            for (int v = y - half; v <= y + half; ++v) {
                for (int u = x - half; u <= x + half; ++u) {
                    window.push_back(grey.at<uchar>(std::clamp(v, 0, grey.rows - 1),
                                                    std::clamp(u, 0, grey.cols - 1)));
                }
            }
            std::sort(window.begin(), window.end());
            contrasts.push_back(window[window.size() / 2] - grey.at<uchar>(y, x));
        }
    }
    if (contrasts.empty() || contrasts.size() < 0.001 * static_cast<double>(grey.total())) {
        return 0.0;
    }
    double spread = 0.5;
    if (!paper.empty()) {
        const int median = LowerMiddle(paper);
        for (int& value : paper) {
            value = std::abs(value - median);
        }
        spread = std::max(spread, 1.4826 * LowerMiddle(paper));
    }
    return LowerMiddle(contrasts) / spread;
}

// Paper at 200 with a weave of 197, 200 and 203, a dark stroke that both results hold, and bars
// that only the lower result holds, drawn `depth` below the paper, the first
// touching the stroke.
struct Page {
    cv::Mat grey, higher, lower;
};

Page BarsPage(int depth, int bars, int barWidth) {
    Page page{cv::Mat(120, 160, CV_8UC1), cv::Mat(120, 160, CV_8UC1, cv::Scalar(255)), cv::Mat()};
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) {
            page.grey.at<uchar>(y, x) = static_cast<uchar>(197 + 3 * ((x + 2 * y) % 3));
        }
    }
    cv::rectangle(page.grey, cv::Rect(20, 10, 4, 100), cv::Scalar(40), cv::FILLED);
    cv::rectangle(page.higher, cv::Rect(20, 10, 4, 100), cv::Scalar(0), cv::FILLED);
    page.lower = page.higher.clone();
    for (int bar = 0; bar < bars; ++bar) {
        const cv::Rect rect(24 + 16 * bar, 10, barWidth, 100);
        page.grey(rect) -= cv::Scalar(depth);
        page.lower(rect).setTo(0);
    }
    return page;
}

}  // namespace

TEST(AddedInkContrastTest, TellsFaintWritingFromThePapersOwnVariation) {
    const struct {
        const char* name;
        Page page;
        double low, high;  // bounds of the expected measure
    } cases[] = {
        // 45 levels below paper that spreads 1.4826 * 3: about ten spreads.
        {"faint writing", BarsPage(45, 6, 3), 9.0, 11.0},
        {"show-through within the weave", BarsPage(6, 6, 3), 0.5, 2.0},
        // Only a halo around the kept stroke, within its reach: nothing added.
        {"halo", BarsPage(30, 1, 2), 0.0, 0.0},
    };
    for (const auto& c : cases) {
        const double measured =
            edgebin::detail::AddedInkContrast(c.page.grey, c.page.higher, c.page.lower, 3);
        EXPECT_GE(measured, c.low) << c.name;
        EXPECT_LE(measured, c.high) << c.name;
    }
}

TEST(AddedInkContrastTest, AgreesWithAPixelByPixelCount) {
    cv::RNG rng(7);
    for (int trial = 0; trial < 12; ++trial) {
        const cv::Size size(rng.uniform(20, 70), rng.uniform(20, 70));
        cv::Mat grey(size, CV_8UC1);
        rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
        cv::Mat higher(size, CV_8UC1);
        cv::Mat lower(size, CV_8UC1);
        cv::Mat draw(size, CV_8UC1);
        rng.fill(draw, cv::RNG::UNIFORM, 0, 100);
        higher.setTo(255);
        lower.setTo(255);
        higher.setTo(0, draw < 3);
        lower.setTo(0, draw < 3 + trial * 3);
        const int width = rng.uniform(1, 12);
        EXPECT_DOUBLE_EQ(edgebin::detail::AddedInkContrast(grey, higher, lower, width),
                         AddedInkContrastOracle(grey, higher, lower, width))
            << "trial " << trial;
    }
}
