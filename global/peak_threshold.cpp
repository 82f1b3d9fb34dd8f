// Preconditions: `gradMap` is CV_8UC1. Peak levels come from the contour-curve analysis, so with
// two peaks they differ and the band between them is well defined.
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

// Rows of the measure, one byte a pixel with a zero column on either side, so that
// every pixel's three columns can be read without a test at the page's sides.
class PaddedRows {
  public:
    PaddedRows(int count, int cols)
        : cols_(cols), data_(static_cast<size_t>(count) * Stride(cols), 0) {}

    // Row `slot` of the ring, its first pixel at [0] and the padding at [-1], [cols].
    unsigned char* Row(int slot) {
        return data_.data() + static_cast<size_t>(slot) * Stride(cols_) + 1;
    }

  private:
    static size_t Stride(int cols) { return static_cast<size_t>(cols) + 2; }
    int cols_;
    std::vector<unsigned char> data_;
};

// Slot of row y in a ring of three rows; y is never more than six rows above the
// page.
int Slot(int y) {
    return (y + 6) % 3;
}

// column[x] = above[x] + centre[x] + below[x] over the padded rows.
void SumColumns(const unsigned char* above, const unsigned char* centre, const unsigned char* below,
                int cols, unsigned char* column) {
    for (int x = -1; x <= cols; ++x) {
        column[x] = static_cast<unsigned char>(above[x] + centre[x] + below[x]);
    }
}

// out = 1 where `self` is 1 and the 3 x 3 sum of above, centre and below reaches
// `least`, else 0. The rows hold 0/1.
void MarkWhereBoxReaches(const unsigned char* above, const unsigned char* centre,
                         const unsigned char* below, const unsigned char* self, unsigned char least,
                         int cols, unsigned char* column, unsigned char* out) {
    SumColumns(above, centre, below, cols, column);
    for (int x = 0; x < cols; ++x) {
        const auto box = static_cast<unsigned char>(column[x - 1] + column[x] + column[x + 1]);
        out[x] = static_cast<unsigned char>(self[x] & (box >= least ? 1 : 0));
    }
}

// The isolated band pixels of rows band.top .. band.bottom - 1: those with
// lo < gradMap <= hi and no strong (gradMap > hi) 8-neighbour outside a speck (an
// 8-connected component of one or two pixels). A strong pixel lies outside a speck
// exactly when it or one of its 8-neighbours is strong with two strong neighbours
// of its own: that pixel and its two make three connected, and a pixel with a
// single strong neighbour reaches any others through it. So a row needs the strong
// pixels of three rows on either side, and the rows stream down the band through
// rings of three, with no image of the page's size: at row y the strong pixels of
// y, those with two strong neighbours of y - 1 and the strong ones outside specks
// of y - 2 are marked, and y - 3 is counted. A band pixel is never strong itself,
// so its whole 3 x 3 box may be read.
std::int64_t CountIsolatedInBand(const cv::Mat& gradMap, int lo, int hi, RowBand band) {
    CV_Assert(0 <= lo && hi <= 255);
    const int rows = gradMap.rows;
    const int cols = gradMap.cols;
    PaddedRows strong(3, cols);
    PaddedRows joined(3, cols);
    PaddedRows unspeckled(3, cols);
    PaddedRows scratch(2, cols);
    unsigned char* column = scratch.Row(0);
    unsigned char* isolated = scratch.Row(1);
    // Levels as bytes: a band pixel is one of the hi - lo levels from lo + 1 on.
    const auto strongAbove = static_cast<unsigned char>(hi);
    const auto bandFrom = static_cast<unsigned char>(lo + 1);
    const auto bandLevels = static_cast<unsigned char>(std::max(hi - lo, 0));
    std::int64_t count = 0;
    // Rows marked from the rings' first, all-zero contents reach no counted row.
    for (int y = band.top - 3; y < band.bottom + 3; ++y) {
        unsigned char* strongRow = strong.Row(Slot(y));
        if (y >= 0 && y < rows) {
            const unsigned char* grad = gradMap.ptr<unsigned char>(y);
            for (int x = 0; x < cols; ++x) {
                strongRow[x] = grad[x] > strongAbove ? 1 : 0;
            }
        } else {
            std::fill(strongRow, strongRow + cols, 0);
        }
        const int j = y - 1;
        MarkWhereBoxReaches(strong.Row(Slot(j - 1)), strong.Row(Slot(j)), strong.Row(Slot(j + 1)),
                            strong.Row(Slot(j)), 3, cols, column, joined.Row(Slot(j)));
        const int u = y - 2;
        MarkWhereBoxReaches(joined.Row(Slot(u - 1)), joined.Row(Slot(u)), joined.Row(Slot(u + 1)),
                            strong.Row(Slot(u)), 1, cols, column, unspeckled.Row(Slot(u)));
        const int c = y - 3;
        if (c < band.top) {
            continue;
        }
        SumColumns(unspeckled.Row(Slot(c - 1)), unspeckled.Row(Slot(c)),
                   unspeckled.Row(Slot(c + 1)), cols, column);
        const unsigned char* grad = gradMap.ptr<unsigned char>(c);
        // In bytes, compared as bytes, and counted by OpenCV: the compiler would
        // widen every pixel to sum 32-bit counts.
        for (int x = 0; x < cols; ++x) {
            const auto box = static_cast<unsigned char>(column[x - 1] | column[x] | column[x + 1]);
            const auto aboveLow = static_cast<unsigned char>(grad[x] - bandFrom);
            isolated[x] = static_cast<unsigned char>((aboveLow < bandLevels) & (box == 0));
        }
        count += cv::countNonZero(cv::Mat(1, cols, CV_8UC1, isolated));
    }
    return count;
}

// Share of the map taken by pixels with lo < gradMap <= hi that touch no strong
// (gradMap > hi) pixel outside a speck. The counts are whole numbers, so their sum
// does not depend on the bands.
double IsolatedBandRatio(const cv::Mat& gradMap, int lo, int hi, int threads) {
    std::vector<std::int64_t> counts(static_cast<size_t>(BandCount(gradMap.rows, threads)), 0);
    ForEachBand(gradMap.rows, threads, [&](RowBand band, int index) {
        counts[static_cast<size_t>(index)] = CountIsolatedInBand(gradMap, lo, hi, band);
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
