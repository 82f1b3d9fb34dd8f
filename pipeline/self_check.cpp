// Each reason below was chosen on the shared pages, at their own scan resolution,
// at half and double it and under gamma, contrast, noise and JPEG changes: a page
// that trips one is far more often a bad result than a good one.
#include "pipeline/self_check.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace edgebin::detail {

namespace {

// Less ink than this share of the page is a page that came out nearly blank.
constexpr double kAlmostNoInk = 0.002;
// A result holding less than this share of the ink a plain Otsu threshold finds
// has lost text; more than its multiple has taken in the paper.
constexpr double kInkShareFloor = 0.25;
constexpr double kInkShareCeiling = 4.0;
// Bands whose stroke widths differ by more than this factor describe different
// things, not one hand's writing.
constexpr double kWidthSpread = 4.0;

// Largest over smallest stroke width, over the bands that cover the page.
double WidthSpread(const std::vector<TextBand>& bands) {
    int narrowest = 0;
    int widest = 0;
    for (const TextBand& band : bands) {
        narrowest = narrowest == 0 ? band.strokeWidth : std::min(narrowest, band.strokeWidth);
        widest = std::max(widest, band.strokeWidth);
    }
    return narrowest > 0 ? static_cast<double>(widest) / narrowest : 1.0;
}

}  // namespace

double InkShare(const cv::Mat& binary) {
    return 1.0 - static_cast<double>(cv::countNonZero(binary)) /
                     (static_cast<double>(binary.rows) * static_cast<double>(binary.cols));
}

double OtsuInkShare(const cv::Mat& grey) {
    cv::Mat otsu;
    cv::threshold(grey, otsu, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    return InkShare(otsu);
}

void CheckResult(const cv::Mat& grey, const cv::Mat& binary, Trace& trace) {
    CV_Assert(grey.type() == CV_8UC1 && binary.type() == CV_8UC1 && grey.size() == binary.size() &&
              !grey.empty());
    std::vector<std::string>& reasons = trace.suspectReasons;
    reasons.clear();
    if (trace.mendedFrom >= 0) {
        reasons.emplace_back("the global level was mended");
    }
    if (trace.reassignedThreshold >= 0) {
        reasons.emplace_back("the global level was halved");
    }
    const double ink = InkShare(binary);
    const double otsuInk = OtsuInkShare(grey);
    if (ink < kAlmostNoInk) {
        reasons.emplace_back("almost no ink");
    } else if (ink < kInkShareFloor * otsuInk) {
        reasons.emplace_back("far less ink than a global threshold finds");
    } else if (ink > kInkShareCeiling * otsuInk) {
        reasons.emplace_back("far more ink than a global threshold finds");
    }
    if (WidthSpread(trace.bands) > kWidthSpread) {
        reasons.emplace_back("stroke widths vary widely between bands");
    }
    trace.suspect = !reasons.empty();
}

}  // namespace edgebin::detail
