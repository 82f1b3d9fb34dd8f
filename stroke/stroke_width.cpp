// Preconditions: `edgeMask` is 8-bit with one channel; non-zero marks an edge
// pixel. Bands handed to IntegrateBandStrokeWidths are expected inside the mask
// (SplitIntoLineBands makes them so); parts outside it are not read.
#include "stroke/stroke_width.h"

#include <algorithm>
#include <numeric>

#include "common/parallel_bands.h"
#include "stroke/edge_gaps.h"

namespace edgebin::detail {

namespace {

// Below this height a page is measured as one block: it rarely holds more than
// one text line, and splitting it would starve the histograms.
constexpr int kMinRowsForBands = 50;
// Bands of fewer than this many rows are dropped when a taller band exists.
constexpr int kMinBandSpan = 20;
constexpr int kMaxWidthLimit = 30;

cv::Rect BandRect(const LineBand& band) {
    return cv::Rect(band.left, band.top, band.right - band.left + 1, band.bottom - band.top + 1);
}

cv::Mat BandView(const cv::Mat& mask, const LineBand& band) {
    return mask.empty() ? mask : mask(BandRect(band) & cv::Rect(0, 0, mask.cols, mask.rows));
}

void RemoveTooWideBands(int widthLimit, std::vector<LineBand>& lineBands,
                        std::vector<int>& bandStrokeWidths) {
    size_t kept = 0;
    for (size_t i = 0; i < lineBands.size(); ++i) {
        if (bandStrokeWidths[i] <= widthLimit) {
            lineBands[kept] = lineBands[i];
            bandStrokeWidths[kept] = bandStrokeWidths[i];
            ++kept;
        }
    }
    lineBands.resize(kept);
    bandStrokeWidths.resize(kept);
}

// Widens the bands over the empty rows between them, splitting each gap in the
// middle, so that every row of the page gets a width.
void TileBands(int rows, std::vector<LineBand>& lineBands) {
    if (lineBands.empty()) {
        return;
    }
    lineBands.front().top = 0;
    lineBands.back().bottom = rows - 1;
    for (size_t k = 1; k < lineBands.size(); ++k) {
        lineBands[k - 1].bottom = (lineBands[k].top + lineBands[k - 1].bottom) / 2;
        lineBands[k].top = lineBands[k - 1].bottom + 1;
    }
}

void MergeEqualNeighbours(std::vector<LineBand>& lineBands, std::vector<int>& bandStrokeWidths) {
    size_t k = 1;
    while (k < lineBands.size()) {
        if (bandStrokeWidths[k] == bandStrokeWidths[k - 1]) {
            lineBands[k - 1].bottom = lineBands[k].bottom;
            lineBands.erase(lineBands.begin() + static_cast<std::ptrdiff_t>(k));
            bandStrokeWidths.erase(bandStrokeWidths.begin() + static_cast<std::ptrdiff_t>(k));
        } else {
            ++k;
        }
    }
}

double EstimateOverBands(const cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                         std::vector<int>& bandStrokeWidths, std::vector<int>& rowStrokeWidths,
                         StrokeMeasurement* report, int threads, const cv::Mat& gray) {
    const int rows = edgeMask.rows;
    rowStrokeWidths.assign(static_cast<size_t>(rows), 0);
    const double modalRatio =
        IntegrateBandStrokeWidths(edgeMask, lineBands, bandStrokeWidths, report, threads, gray);
    const size_t measured = std::min(lineBands.size(), bandStrokeWidths.size());
    for (size_t i = 0; i < measured; ++i) {
        const int top = std::max(lineBands[i].top, 0);
        const int bottom = std::min(lineBands[i].bottom, rows - 1);
        for (int r = top; r <= bottom; ++r) {
            rowStrokeWidths[static_cast<size_t>(r)] = bandStrokeWidths[i];
        }
    }
    return modalRatio;
}

double EstimateOverWholeMask(const cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                             std::vector<int>& bandStrokeWidths, std::vector<int>& rowStrokeWidths,
                             const cv::Mat& gray) {
    int peakCount = 0;
    int gapCount = 0;
    const int width = StrokeWidthFromEdgeGaps(edgeMask, peakCount, gapCount, gray);
    if (gapCount <= 0) {
        return 0.0;
    }
    rowStrokeWidths.assign(static_cast<size_t>(edgeMask.rows), width);
    bandStrokeWidths.assign(1, width);
    lineBands.assign(1, LineBand{0, 0, edgeMask.cols - 1, edgeMask.rows - 1});
    return static_cast<double>(peakCount) / static_cast<double>(gapCount);
}

}  // namespace

double EstimateStrokeWidth(const cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                           std::vector<int>& bandStrokeWidths, std::vector<int>& rowStrokeWidths,
                           StrokeMeasurement* report, int threads, const cv::Mat& gray) {
    lineBands.clear();
    bandStrokeWidths.clear();
    rowStrokeWidths.clear();
    if (report != nullptr) {
        *report = StrokeMeasurement{};
    }
    if (edgeMask.rows >= kMinRowsForBands) {
        SplitIntoLineBands(edgeMask, lineBands, threads);
        if (lineBands.empty() && report != nullptr) {
            report->emptyMask = true;
        }
        DropShortBands(lineBands);
        if (!lineBands.empty()) {
            return EstimateOverBands(edgeMask, lineBands, bandStrokeWidths, rowStrokeWidths, report,
                                     threads, gray);
        }
    }
    return EstimateOverWholeMask(edgeMask, lineBands, bandStrokeWidths, rowStrokeWidths, gray);
}

void SplitIntoLineBands(const cv::Mat& edgeMask, std::vector<LineBand>& lineBands, int threads) {
    lineBands.clear();
    const int rows = edgeMask.rows;
    const int cols = edgeMask.cols;
    // Bytes rather than std::vector<bool>, whose bits threads may not write apart.
    std::vector<unsigned char> rowHasEdge(static_cast<size_t>(std::max(rows, 0)), 0);
    ForEachBand(rows, threads, [&](RowBand band, int) {
        for (int r = band.top; r < band.bottom; ++r) {
            rowHasEdge[static_cast<size_t>(r)] = cols > 0 && cv::countNonZero(edgeMask.row(r)) > 0;
        }
    });
    if (std::find(rowHasEdge.begin(), rowHasEdge.end(), 1) == rowHasEdge.end()) {
        return;
    }
    int r = 0;
    while (r < rows) {
        if (!rowHasEdge[static_cast<size_t>(r)]) {
            ++r;
            continue;
        }
        const int top = r;
        while (r < rows && rowHasEdge[static_cast<size_t>(r)]) {
            ++r;
        }
        lineBands.push_back(LineBand{0, top, cols - 1, r - 1});
    }
}

void DropShortBands(std::vector<LineBand>& lineBands) {
    if (lineBands.size() < 2) {
        return;
    }
    int largestSpan = 0;
    for (const LineBand& band : lineBands) {
        largestSpan = std::max(largestSpan, band.bottom - band.top);
    }
    if (largestSpan <= kMinBandSpan) {
        return;
    }
    lineBands.erase(
        std::remove_if(lineBands.begin(), lineBands.end(),
                       [](const LineBand& band) { return band.bottom - band.top < kMinBandSpan; }),
        lineBands.end());
}

double IntegrateBandStrokeWidths(const cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                                 std::vector<int>& bandStrokeWidths, StrokeMeasurement* report,
                                 int threads, const cv::Mat& gray) {
    const int rows = edgeMask.rows;
    const int cols = edgeMask.cols;
    const int bandCount = static_cast<int>(lineBands.size());
    bandStrokeWidths.assign(lineBands.size(), 0);
    // Whole numbers, so that their sums do not depend on which thread counted them.
    std::vector<int> peakCounts(lineBands.size(), 0);
    std::vector<int> gapCounts(lineBands.size(), 0);
    ForEachBand(bandCount, threads, [&](RowBand part, int) {
        for (int i = part.top; i < part.bottom; ++i) {
            const size_t at = static_cast<size_t>(i);
            bandStrokeWidths[at] =
                StrokeWidthFromEdgeGaps(BandView(edgeMask, lineBands[at]), peakCounts[at],
                                        gapCounts[at], BandView(gray, lineBands[at]));
        }
    });
    const long long peakSum = std::accumulate(peakCounts.begin(), peakCounts.end(), 0LL);
    const long long gapSum = std::accumulate(gapCounts.begin(), gapCounts.end(), 0LL);
    if (gapSum <= 0) {
        return 0.0;
    }
    const double modalRatio = static_cast<double>(peakSum) / static_cast<double>(gapSum);

    const int widthLimit = std::min(std::min(rows, cols) / 10, kMaxWidthLimit);
    RemoveTooWideBands(widthLimit, lineBands, bandStrokeWidths);
    if (lineBands.empty()) {
        return 0.0;
    }
    RaiseMinimumWidths(bandStrokeWidths);
    TileBands(rows, lineBands);
    MergeEqualNeighbours(lineBands, bandStrokeWidths);
    if (report != nullptr) {
        report->bandStrokeWidths = bandStrokeWidths;
    }
    return modalRatio;
}

void RaiseMinimumWidths(std::vector<int>& bandStrokeWidths) {
    const size_t n = bandStrokeWidths.size();
    if (n < 2) {
        return;
    }
    std::vector<bool> raised(n, false);
    bool changed = true;
    while (changed) {
        changed = false;
        const int minimum = *std::min_element(bandStrokeWidths.begin(), bandStrokeWidths.end());
        for (size_t i = 0; i < n; ++i) {
            int& width = bandStrokeWidths[i];
            if (width != minimum || raised[i]) {
                continue;
            }
            if (i > 0 && bandStrokeWidths[i - 1] == width + 1) {
                width = bandStrokeWidths[i - 1];
            } else if (i + 1 < n && bandStrokeWidths[i + 1] == width + 1) {
                width = bandStrokeWidths[i + 1];
            } else {
                continue;
            }
            raised[i] = true;
            changed = true;
        }
    }
}

bool IsCompleteStrokeDescription(int rows, int cols, const std::vector<LineBand>& lineBands,
                                 const std::vector<int>& bandStrokeWidths,
                                 const std::vector<int>& rowStrokeWidths) {
    if (rows < 0 || cols < 0 || rowStrokeWidths.size() != static_cast<size_t>(rows) ||
        lineBands.size() != bandStrokeWidths.size()) {
        return false;
    }
    if (rows == 0 || cols == 0) {
        return lineBands.empty();
    }
    int nextTop = 0;
    for (size_t i = 0; i < lineBands.size(); ++i) {
        const LineBand& band = lineBands[i];
        if (band.left != 0 || band.right != cols - 1 || band.top != nextTop ||
            band.bottom < band.top || bandStrokeWidths[i] < 1) {
            return false;
        }
        nextTop = band.bottom + 1;
    }
    return nextTop == rows;
}

}  // namespace edgebin::detail
