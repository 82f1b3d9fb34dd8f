// Preconditions: `gradMap` is CV_8UC1; `strongMask` and `bandMask` are CV_8UC1 of
// one size. Peak levels come from the contour-curve analysis, so with two peaks
// they differ and the band between them is well defined.
#include "global/peak_threshold.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "common/parallel_bands.h"
#include "global/contour_curve.h"
#include "global/contour_peaks.h"

namespace edgebin::detail {

namespace {

// Non-zero where a pixel has a non-zero 8-neighbour in `strongMask`.
void MarkNearStrong(const cv::Mat& strongMask, cv::Mat& nearStrong) {
    // The largest of the eight neighbours (the page's outside counts as none), in
    // OpenCV's vectorised morphology rather than pixel by pixel.
    cv::Mat ring = cv::Mat::ones(3, 3, CV_8UC1);
    ring.at<unsigned char>(1, 1) = 0;
    cv::dilate(strongMask, nearStrong, ring);
}

// Pixels of `gradMap` with lo < value <= hi whose `nearStrong` byte is 0: the
// non-zero pixels IsolateBandPixels would leave, counted without the two masks.
std::int64_t CountIsolated(const cv::Mat& gradMap, const cv::Mat& nearStrong, int lo, int hi) {
    std::int64_t count = 0;
    for (int y = 0; y < gradMap.rows; ++y) {
        const unsigned char* grad = gradMap.ptr<unsigned char>(y);
        const unsigned char* near = nearStrong.ptr<unsigned char>(y);
        // Counted per row in 32 bits, which the compiler vectorises.
        unsigned isolated = 0;
        for (int x = 0; x < gradMap.cols; ++x) {
            isolated += static_cast<unsigned>((grad[x] > lo) & (grad[x] <= hi) & (near[x] == 0));
        }
        count += isolated;
    }
    return count;
}

// Share of the map taken by pixels with lo < gradMap <= hi that touch no strong
// (gradMap > hi) pixel outside a speck. Each band is isolated with one row of its
// neighbours around it, so that its own rows see every neighbour the whole page
// would; the counts are whole numbers, so their sum does not depend on the bands.
double IsolatedBandRatio(const cv::Mat& gradMap, int lo, int hi, int threads) {
    cv::Mat strongMask(gradMap.size(), CV_8UC1);
    ForEachBand(gradMap.rows, threads, [&](RowBand band, int) {
        cv::threshold(gradMap.rowRange(band.top, band.bottom),
                      strongMask.rowRange(band.top, band.bottom), hi, 255, cv::THRESH_BINARY);
    });
    RemoveSpecks(strongMask, threads);

    std::vector<std::int64_t> counts(static_cast<size_t>(BandCount(gradMap.rows, threads)), 0);
    ForEachBand(gradMap.rows, threads, [&](RowBand band, int index) {
        const int top = std::max(0, band.top - 1);
        const int bottom = std::min(gradMap.rows, band.bottom + 1);
        cv::Mat nearStrong;
        MarkNearStrong(strongMask.rowRange(top, bottom), nearStrong);
        counts[static_cast<size_t>(index)] =
            CountIsolated(gradMap.rowRange(band.top, band.bottom),
                          nearStrong.rowRange(band.top - top, band.bottom - top), lo, hi);
    });
    const std::int64_t isolated = std::accumulate(counts.begin(), counts.end(), std::int64_t{0});
    return static_cast<double>(isolated) /
           (static_cast<double>(gradMap.rows) * static_cast<double>(gradMap.cols));
}

// Records the two peaks as any pair, the ratio included, though the page's result at
// the main peak decided here.
int TakePeakAbove(const cv::Mat& gradMap, int mainPeak, int above, Trace& trace, int threads) {
    trace.mainPeak = mainPeak;
    trace.secondPeak = above;
    trace.ratio = IsolatedBandRatio(gradMap, mainPeak, above, threads);
    return above;
}

}  // namespace

void IsolateBandPixels(const cv::Mat& strongMask, const cv::Mat& bandMask, cv::Mat& isolatedMask) {
    CV_Assert(strongMask.type() == CV_8UC1 && bandMask.type() == CV_8UC1 &&
              strongMask.size() == bandMask.size());
    cv::Mat nearStrong;
    MarkNearStrong(strongMask, nearStrong);
    bandMask.copyTo(isolatedMask);
    isolatedMask.setTo(0, nearStrong);
}

int ChoosePeakLevel(const cv::Mat& gradMap, bool hasSecond, int mainPeak, int secondPeak,
                    double Rthre, Trace& trace, int threads) {
    CV_Assert(gradMap.type() == CV_8UC1);
    trace.mainPeak = mainPeak;
    if (!hasSecond) {
        return mainPeak;
    }
    trace.secondPeak = secondPeak;
    const int hi = std::max(mainPeak, secondPeak);
    const int lo = std::min(mainPeak, secondPeak);
    trace.ratio = IsolatedBandRatio(gradMap, lo, hi, threads);
    return trace.ratio > Rthre ? hi : lo;
}

int SelectPeakThreshold(const cv::Mat& gradMap, const ContourCurve& curve, cv::Mat& edgeMask,
                        const PeakChoice& choice, Trace& trace, int threads) {
    CV_Assert(gradMap.type() == CV_8UC1);
    bool hasSecond = false;
    int mainPeak = 0;
    int secondPeak = 0;
    FindCurvePeaks(curve, hasSecond, mainPeak, secondPeak);
    const int above = hasSecond ? 0 : StrongestPeakAbove(curve, mainPeak);
    trace.peakAbove = above > 0 ? above : -1;
    trace.mainPeakInNoise = above > 0 && RisesFromTheNoise(curve, mainPeak);
    int threshold =
        choice.higherChosen && above > 0
            ? TakePeakAbove(gradMap, mainPeak, above, trace, threads)
            : ChoosePeakLevel(gradMap, hasSecond, mainPeak, secondPeak,
                              choice.higherChosen ? -1.0 : choice.Rthre, trace, threads);
    const int below = StrongestPeakBelow(curve, threshold);
    trace.lowerPeak = below > 0 ? below : -1;
    if (choice.belowChosen && below > 0) {
        threshold = below;
    }
    threshold = std::min(254, static_cast<int>(std::lround(threshold * choice.levelFactor)));
    // In bands: written by one thread, a fresh mask of a large page would be
    // faulted in by that thread alone.
    edgeMask.create(gradMap.size(), CV_8UC1);
    ForEachBand(gradMap.rows, threads, [&](RowBand band, int) {
        cv::Mat rows = edgeMask.rowRange(band.top, band.bottom);
        cv::threshold(gradMap.rowRange(band.top, band.bottom), rows, threshold, 255,
                      cv::THRESH_BINARY);
    });
    return threshold;
}

}  // namespace edgebin::detail
