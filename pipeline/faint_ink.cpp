// Faint writing and show-through look alike to the global stage: both are weak
// edges away from the strong ones. They differ in how they stand against the
// paper. Show-through, stains and paper texture lie within the paper's own grey
// variation; faded writing, however faint, sits well below it. The measure is made
// on the grey page, with integer histograms, so that it is exact and cheap.
#include "pipeline/faint_ink.h"

#include <algorithm>
#include <array>
#include <opencv2/imgproc.hpp>

namespace edgebin::detail {

namespace {

constexpr int kMinWindow = 31;
constexpr int kWindowStrokes = 6;
constexpr double kMinAddedShare = 0.001;
constexpr double kMadToDeviation = 1.4826;
constexpr double kMinSpread = 0.5;

// Median of a histogram of `total` values offset by `offset`, the lower middle
// value for an even count.
template <size_t N>
int HistogramMedian(const std::array<long long, N>& histogram, long long total, int offset) {
    const long long half = (total + 1) / 2;
    long long seen = 0;
    for (size_t v = 0; v < N; ++v) {
        seen += histogram[v];
        if (seen >= half) {
            return static_cast<int>(v) - offset;
        }
    }
    return static_cast<int>(N) - 1 - offset;
}

// 1.4826 × the median absolute deviation of the grey values under `mask`.
double PaperSpread(const cv::Mat& grey, const cv::Mat& mask) {
    std::array<long long, 256> values{};
    long long total = 0;
    for (int y = 0; y < grey.rows; ++y) {
        const uchar* g = grey.ptr<uchar>(y);
        const uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < grey.cols; ++x) {
            if (m[x] != 0) {
                ++values[g[x]];
                ++total;
            }
        }
    }
    if (total == 0) {
        return kMinSpread;
    }
    const int median = HistogramMedian(values, total, 0);
    std::array<long long, 256> deviations{};
    for (int v = 0; v < 256; ++v) {
        deviations[static_cast<size_t>(std::abs(v - median))] += values[static_cast<size_t>(v)];
    }
    return std::max(kMinSpread, kMadToDeviation * HistogramMedian(deviations, total, 0));
}

}  // namespace

double AddedInkContrast(const cv::Mat& grey, const cv::Mat& higher, const cv::Mat& lower,
                        int strokeWidth) {
    CV_Assert(grey.type() == CV_8UC1 && higher.type() == CV_8UC1 && lower.type() == CV_8UC1 &&
              grey.size() == higher.size() && grey.size() == lower.size() && !grey.empty() &&
              strokeWidth >= 1);
    cv::Mat higherInk;
    cv::compare(higher, 0, higherInk, cv::CMP_EQ);
    const int reach = std::max(2, strokeWidth / 2);
    cv::Mat nearHigher;
    cv::dilate(higherInk, nearHigher,
               cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * reach + 1, 2 * reach + 1)));
    cv::Mat added;
    cv::compare(lower, 0, added, cv::CMP_EQ);
    added.setTo(0, nearHigher);
    const long long addedCount = cv::countNonZero(added);
    if (static_cast<double>(addedCount) < kMinAddedShare * static_cast<double>(grey.total())) {
        return 0.0;
    }

    const int window = std::max(kMinWindow, kWindowStrokes * strokeWidth) | 1;
    cv::Mat background;
    cv::medianBlur(grey, background, window);
    std::array<long long, 511> contrasts{};  // background - grey, offset by 255
    for (int y = 0; y < grey.rows; ++y) {
        const uchar* g = grey.ptr<uchar>(y);
        const uchar* b = background.ptr<uchar>(y);
        const uchar* a = added.ptr<uchar>(y);
        for (int x = 0; x < grey.cols; ++x) {
            if (a[x] != 0) {
                ++contrasts[static_cast<size_t>(b[x] - g[x] + 255)];
            }
        }
    }
    const int contrast = HistogramMedian(contrasts, addedCount, 255);
    return contrast / PaperSpread(grey, lower);
}

}  // namespace edgebin::detail
