// Straightforward page enhancement: every window sum from a box filter over a
// double copy of the page (sums of 8-bit values, hence exact), then the ink test,
// the paper estimate and the division pixel by pixel.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <opencv2/imgproc.hpp>

#include "oracle/oracle.h"

namespace reference {

namespace {

constexpr double kMinPaperShare = 0.05;

cv::Mat WindowSum(const cv::Mat& image, int side) {
    cv::Mat sum;
    cv::boxFilter(image, sum, CV_64F, cv::Size(side, side), cv::Point(-1, -1), false,
                  cv::BORDER_REFLECT);
    return sum;
}

// 1.0 where N*g - S >= 0 or S - N*g <= weight * sqrt(N*Q - S*S), 0.0 elsewhere.
cv::Mat PaperWeights(const cv::Mat& page, int window, double weight) {
    const cv::Mat sums = WindowSum(page, window);
    const cv::Mat squares = WindowSum(page.mul(page), window);
    const int64_t n = static_cast<int64_t>(window) * window;
    cv::Mat paper(page.size(), CV_64F);
    for (int y = 0; y < page.rows; ++y) {
        for (int x = 0; x < page.cols; ++x) {
            const int64_t g = static_cast<int64_t>(page.at<double>(y, x));
            const int64_t s = static_cast<int64_t>(sums.at<double>(y, x));
            const int64_t q = static_cast<int64_t>(squares.at<double>(y, x));
            const int64_t d = n * g - s;
            const int64_t spread = n * q - s * s;
            const bool isPaper = d >= 0 || static_cast<double>(-d) <=
                                               weight * std::sqrt(static_cast<double>(spread));
            paper.at<double>(y, x) = isPaper ? 1.0 : 0.0;
        }
    }
    return paper;
}

cv::Mat EstimatePaper(const cv::Mat& page, const cv::Mat& paper, int window) {
    const cv::Mat paperValues = page.mul(paper);
    cv::Mat background(page.size(), CV_64F, cv::Scalar(-1.0));
    int unresolved = static_cast<int>(page.total());
    const int largestSide = 2 * std::max(page.rows, page.cols) + 1;
    for (int side = window; unresolved > 0 && side <= largestSide; side *= 2) {
        const cv::Mat sums = WindowSum(paperValues, side);
        const cv::Mat counts = WindowSum(paper, side);
        const double minCount = std::max(1.0, kMinPaperShare * side * side);
        unresolved = 0;
        for (int y = 0; y < page.rows; ++y) {
            for (int x = 0; x < page.cols; ++x) {
                double& out = background.at<double>(y, x);
                if (out >= 0.0) {
                    continue;
                }
                const double count = counts.at<double>(y, x);
                if (count >= minCount) {
                    out = sums.at<double>(y, x) / count;
                } else {
                    ++unresolved;
                }
            }
        }
    }
    if (unresolved > 0) {
        const double paperCount = cv::sum(paper)[0];
        const double fallback =
            paperCount > 0.0 ? cv::sum(paperValues)[0] / paperCount : cv::mean(page)[0];
        background.setTo(fallback, background < 0.0);
    }
    return background;
}

}  // namespace

void EnhancePage(const cv::Mat& gray, int window, double weight, cv::Mat& enhanced,
                 cv::Mat& background) {
    CV_Assert(!gray.empty() && gray.depth() == CV_8U &&
              (gray.channels() == 1 || gray.channels() == 3) && window >= 1 && window <= 2048);
    cv::Mat single = gray;
    if (gray.channels() == 3) {
        cv::cvtColor(gray, single, cv::COLOR_BGR2GRAY);
    }
    cv::Mat page;
    single.convertTo(page, CV_64F);
    const cv::Mat paper = PaperWeights(page, window, weight);
    const cv::Mat paperLevel = EstimatePaper(page, paper, window);

    // Not convertTo with a scale: from double to 8 bits it scales in single
    // precision on all but the shortest rows, which rounds some halves otherwise.
    enhanced.create(page.size(), CV_8UC1);
    for (int y = 0; y < page.rows; ++y) {
        for (int x = 0; x < page.cols; ++x) {
            const double ratio = page.at<double>(y, x) / std::max(paperLevel.at<double>(y, x), 1.0);
            enhanced.at<unsigned char>(y, x) = cv::saturate_cast<unsigned char>(ratio * 255.0);
        }
    }
    paperLevel.convertTo(background, CV_8U);
}

}  // namespace reference
