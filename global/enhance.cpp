// Preconditions: `gray` is 8-bit with one or three channels (three are read as
// BGR) and not empty; `window` >= 1; `weight` >= 0. Ink is darker than paper.
//
// The page is divided by an estimate of its paper: pixels that a local mean/deviation
// test marks as likely ink are left out of the estimate, and the paper around them
// fills their place. Slow changes of the paper (illumination, shadows, stains wider
// than the window) divide out to white, while ink keeps its ratio to the paper.
#include "global/enhance.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace {

// A paper estimate needs this share of its window to be paper; otherwise a larger
// window is tried.
constexpr double kMinPaperShare = 0.05;

cv::Mat ToGrayDouble(const cv::Mat& gray) {
    cv::Mat singleChannel;
    if (gray.channels() == 3) {
        cv::cvtColor(gray, singleChannel, cv::COLOR_BGR2GRAY);
    } else {
        singleChannel = gray;
    }
    cv::Mat page;
    singleChannel.convertTo(page, CV_64F);
    return page;
}

cv::Mat WindowMean(const cv::Mat& image, int side) {
    cv::Mat mean;
    cv::boxFilter(image, mean, CV_64F, cv::Size(side, side), cv::Point(-1, -1), true,
                  cv::BORDER_REFLECT);
    return mean;
}

cv::Mat WindowSum(const cv::Mat& image, int side) {
    cv::Mat sum;
    cv::boxFilter(image, sum, CV_64F, cv::Size(side, side), cv::Point(-1, -1), false,
                  cv::BORDER_REFLECT);
    return sum;
}

// 1.0 where the pixel lies above mean - weight * deviation of its window (paper),
// 0.0 where it lies below (likely dark ink). Cutting below the mean rather than
// above it leaves more paper in the estimate; on real pages the cut above the mean
// made the later threshold choice worse.
cv::Mat PaperWeights(const cv::Mat& page, int window, double weight) {
    const cv::Mat mean = WindowMean(page, window);
    const cv::Mat meanOfSquares = WindowMean(page.mul(page), window);
    cv::Mat variance = meanOfSquares - mean.mul(mean);
    variance = cv::max(variance, 0.0);
    cv::Mat deviation;
    cv::sqrt(variance, deviation);
    const cv::Mat threshold = mean - weight * deviation;

    cv::Mat paper(page.size(), CV_64F);
    for (int y = 0; y < page.rows; ++y) {
        const double* value = page.ptr<double>(y);
        const double* limit = threshold.ptr<double>(y);
        double* out = paper.ptr<double>(y);
        for (int x = 0; x < page.cols; ++x) {
            out[x] = value[x] >= limit[x] ? 1.0 : 0.0;
        }
    }
    return paper;
}

// Mean of the paper pixels around every pixel. Pixels whose window holds too
// little paper take the mean over a window twice as wide, and so on; the last
// resort is the mean of all paper (or of the whole page).
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
            const double* sum = sums.ptr<double>(y);
            const double* count = counts.ptr<double>(y);
            double* out = background.ptr<double>(y);
            for (int x = 0; x < page.cols; ++x) {
                if (out[x] >= 0.0) {
                    continue;
                }
                if (count[x] >= minCount) {
                    out[x] = sum[x] / count[x];
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
              (gray.channels() == 1 || gray.channels() == 3) && window >= 1);
    const cv::Mat page = ToGrayDouble(gray);
    const cv::Mat paper = PaperWeights(page, window, weight);
    const cv::Mat paperLevel = EstimatePaper(page, paper, window);

    // Paper divides to 1 and maps to white; brighter-than-paper noise saturates.
    cv::Mat ratio;
    cv::divide(page, cv::max(paperLevel, 1.0), ratio);
    ratio.convertTo(enhanced, CV_8U, 255.0);
    paperLevel.convertTo(background, CV_8U);
}
