// Preconditions: `edgeMaskCopy` is CV_8UC1. For mode 2 and above `dirMaps` holds
// nine CV_8UC1 0/1 maps of its size, every pixel of maps 1..8 also set in map 0.
// The stroke description must tile the page (IsCompleteStrokeDescription); when
// it does not, or the direction maps do not fit, the call refuses: the mask is
// only made 0/1 and (mode 2 and above) `restoredMap` comes back all zero.
//
// The eighteen window counts are those of BandWindowSums, but read only where a
// pixel is tested: the direction pixels are listed once, nine column sums follow
// the window rows down the page point by point, and one prefix sum per row gives
// the nine counts of every window of that row (common/sparse_window_sums.h). The
// far counts are summed from the removed pixels alone. `dirMaps` is left as it
// came. Maps with other values than 0 and 1, and windows far larger than the page
// or than a 16-bit count's square root allows, take the general route through
// BandWindowSums instead.
#include "local/refine_edge_mask.h"
#include "local/row_scan.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>
#include <type_traits>

#include "common/parallel_bands.h"
#include "common/sparse_window_sums.h"
#include "local/count_map_refinement.h"
#include "stroke/stroke_map.h"

namespace edgebin::detail {

namespace {

constexpr std::uint32_t kCountLimit = 65535;
// Sides up to this keep the window sums of a 0/1 map inside 32 bits.
constexpr long long kMaxListedSide = 65535;

using DirectionPoints = SparseRows<kDirectionMapCount>;
using Counts = std::array<std::uint32_t, kDirectionMapCount>;
// Window sums of 0/1 maps stay below side^2, so sides up to this fit 16 bits.
constexpr int kMaxSideFor16Bits = 255;

// The window side BandWindowSums uses for a band, where it is at least 1; 0 for
// any side below that (or no number at all), which the listed route refuses.
int WindowSide(int strokeWidth, double scale) {
    const double side = static_cast<double>(strokeWidth) * scale;
    if (side >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (!(side >= 1.0)) {
        return 0;
    }
    return static_cast<int>(side);
}

// The nine counts of the window starting at virtual column `start`, saturated
// like the 16-bit counts of BandWindowSums.
template <typename Sum>
Counts WindowCounts(const RowPrefix<1, kDirectionMapCount, Sum>& prefix, long long start,
                    int side) {
    Counts counts;
    for (int j = 0; j < kDirectionMapCount; ++j) {
        counts[j] =
            std::min(static_cast<std::uint32_t>(prefix.WindowSum(0, start, side, j)), kCountLimit);
    }
    return counts;
}

std::uint32_t LargestDirection(const Counts& counts) {
    return *std::max_element(counts.begin() + 1, counts.end());
}

// What a decision reads of a window: the count of all its points and the largest
// count of one direction.
struct WindowTotals {
    std::uint32_t all;
    std::uint32_t largest;
};

template <typename Sum>
WindowTotals TotalsOf(const RowPrefix<1, kDirectionMapCount, Sum>& prefix, long long start,
                      int side) {
#if CV_SIMD128
    if constexpr (std::is_same_v<Sum, std::uint16_t>) {
        // The eight directions follow the count of all in an entry: one vector,
        // whose 16-bit sums need no saturation.
        static_assert(kDirectionMapCount == 1 + cv::v_uint16x8::nlanes);
        const Sum* low = prefix.EntryAt(start);
        const Sum* high = prefix.EntryAt(start + side);
        const cv::v_uint16x8 directions = cv::v_sub_wrap(cv::v_load(high + 1), cv::v_load(low + 1));
        return {static_cast<Sum>(high[0] - low[0]), cv::v_reduce_max(directions)};
    }
#endif
    const Counts counts = WindowCounts(prefix, start, side);
    return {counts[0], LargestDirection(counts)};
}

int ShareOf(double dominanceRatio, std::uint32_t allCount) {
    return cvRound(dominanceRatio * allCount);
}

// Whether the listed route gives the counts exactly: 0/1 maps and, in every band,
// sides from 1 to what a few mirror images of the page and 32-bit sums allow.
bool ListedRouteFits(const DirectionPoints& points, const std::vector<int>& bandStrokeWidths,
                     double nearScale) {
    if (points.largestValue > 1) {
        return false;
    }
    const long long limit =
        std::min(kMaxListedSide, 2LL * (static_cast<long long>(points.rows) + points.cols));
    for (const int width : bandStrokeWidths) {
        for (const double scale : {nearScale, kFarScale}) {
            const int side = WindowSide(width, scale);
            if (side < 1 || side > limit) {
                return false;
            }
        }
    }
    return true;
}

// The listed pixels of `points` that are set in `keep`.
void KeepListed(const DirectionPoints& points, const cv::Mat& keep, DirectionPoints& kept) {
    kept.Clear(points.rows, points.cols);
    kept.largestValue = points.largestValue;
    for (int y = 0; y < points.rows; ++y) {
        const unsigned char* keepRow = keep.ptr<unsigned char>(y);
        for (size_t p = points.RowBegin(y); p < points.RowEnd(y); ++p) {
            if (keepRow[points.columns[p]] != 0) {
                kept.columns.push_back(points.columns[p]);
                kept.values.push_back(points.values[p]);
            }
        }
        kept.rowStart[static_cast<size_t>(y) + 1] = kept.columns.size();
    }
}

// Calls decide(y, x, totals) for every non-zero pixel of `queries` in the rows of
// `rowBand`, with the totals of the nine counts of its line band's window of side
// trunc(width * scale) over `points`, summed in `Sum` (which must hold every
// window's true sum).
template <typename Sum, typename Decide>
void CountAtQueriesIn(const DirectionPoints& points, const cv::Mat& queries,
                      const std::vector<LineBand>& lineBands,
                      const std::vector<int>& bandStrokeWidths, double scale, RowBand rowBand,
                      const Decide& decide) {
    const int cols = queries.cols;
    SlidingColumnSums<kDirectionMapCount, Sum> sums(points);
    RowPrefix<1, kDirectionMapCount, Sum> prefix;
    for (size_t k = 0; k < lineBands.size(); ++k) {
        const int side = WindowSide(bandStrokeWidths[k], scale);
        const int before = side / 2;
        const int last = std::min(lineBands[k].bottom, rowBand.bottom - 1);
        for (int y = std::max(lineBands[k].top, rowBand.top); y <= last; ++y) {
            const unsigned char* query = queries.ptr<unsigned char>(y);
            int x = NextNonZero(query, 0, cols);
            if (x == cols) {
                continue;
            }
            sums.Cover(y - before, side);
            // Only the columns the row's windows reach: from the first query's window
            // to the last one's.
            const int end = EndOfNonZero(query, cols);
            prefix.Build({&sums}, static_cast<long long>(x) - before,
                         static_cast<long long>(end - 1) - before + side, cols);
            ForEachNonZero(query, x, cols,
                           [&](int at) { decide(y, at, TotalsOf(prefix, at - before, side)); });
        }
    }
}

// The same for every row, over `threads` bands of rows, in 16-bit sums when every
// window is small enough (half the memory traffic of the prefix sums), else in
// 32-bit ones. Each band follows its windows down with column sums of its own;
// `decide` must write only the pixel it is called for.
template <typename Decide>
void CountAtQueries(const DirectionPoints& points, const cv::Mat& queries,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths, double scale, int threads,
                    const Decide& decide) {
    int largestSide = 0;
    for (const int width : bandStrokeWidths) {
        largestSide = std::max(largestSide, WindowSide(width, scale));
    }
    ForEachBand(queries.rows, threads, [&](RowBand rowBand, int) {
        if (largestSide <= kMaxSideFor16Bits) {
            CountAtQueriesIn<std::uint16_t>(points, queries, lineBands, bandStrokeWidths, scale,
                                            rowBand, decide);
        } else {
            CountAtQueriesIn<std::uint32_t>(points, queries, lineBands, bandStrokeWidths, scale,
                                            rowBand, decide);
        }
    });
}

void RefineListed(const DirectionPoints& points, cv::Mat& edgeMaskCopy, cv::Mat& restoredMap,
                  const std::vector<LineBand>& lineBands, const std::vector<int>& bandStrokeWidths,
                  double nearScale, double dominanceRatio, int threads) {
    // The removed pixels are marked 1 in the restored map itself, and the restored
    // ones among them 255, then the rest cleared in one pass: a second image for the
    // removed pixels would be one more page-sized image to allocate and clear.
    constexpr unsigned char kRemoved = 1;
    constexpr unsigned char kRestored = 255;
    ClearInBands(restoredMap, edgeMaskCopy.rows, edgeMaskCopy.cols, CV_8UC1, threads);
    // A decision writes only its own pixel and the counts come from the lists taken
    // before, so deciding while scanning is the same as deciding after counting.
    CountAtQueries(points, edgeMaskCopy, lineBands, bandStrokeWidths, nearScale, threads,
                   [&](int y, int x, const WindowTotals& totals) {
                       if (static_cast<int>(totals.largest) > ShareOf(dominanceRatio, totals.all)) {
                           edgeMaskCopy.at<unsigned char>(y, x) = 0;
                           restoredMap.at<unsigned char>(y, x) = kRemoved;
                       }
                   });
    DirectionPoints removedPoints;
    KeepListed(points, restoredMap, removedPoints);
    // A pixel restored here stays non-zero, so the scan visits each removed pixel
    // once as before.
    CountAtQueries(removedPoints, restoredMap, lineBands, bandStrokeWidths, kFarScale, threads,
                   [&](int y, int x, const WindowTotals& totals) {
                       if (static_cast<int>(totals.largest) < ShareOf(dominanceRatio, totals.all)) {
                           edgeMaskCopy.at<unsigned char>(y, x) = 1;
                           restoredMap.at<unsigned char>(y, x) = kRestored;
                       }
                   });
    ForEachBand(restoredMap.rows, threads, [&](RowBand band, int) {
        cv::Mat rows = restoredMap.rowRange(band.top, band.bottom);
        cv::threshold(rows, rows, kRemoved, kRestored, cv::THRESH_BINARY);
    });
}

// Whether the refinement can run: mode 1 needs a stroke description that tiles the
// page, mode 2 and above direction maps of the mask's size too. When it cannot,
// the mask is only made 0/1 and `restoredMap` all zero.
bool ReadyToRefine(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap,
                   const std::vector<LineBand>& lineBands, const std::vector<int>& bandStrokeWidths,
                   const std::vector<int>& rowStrokeWidths, int mode, bool directionsFit) {
    CV_Assert(edgeMaskCopy.type() == CV_8UC1);
    const int rows = edgeMaskCopy.rows;
    const int cols = edgeMaskCopy.cols;
    const bool describable =
        IsCompleteStrokeDescription(rows, cols, lineBands, bandStrokeWidths, rowStrokeWidths);
    if (describable && (mode < 2 || directionsFit)) {
        return true;
    }
    edgeMaskCopy.setTo(1, edgeMaskCopy);
    if (mode >= 2) {
        restoredMap.create(rows, cols, CV_8UC1);
        restoredMap.setTo(0);
    }
    return false;
}

// Suppression and restoration from the listed directions, or the general route
// when the listed one does not fit; `dirMaps()` gives the maps for that one (made
// only then), which it turns into counts.
template <typename Maps>
void RefineCleaned(const DirectionPoints& points, cv::Mat& edgeMaskCopy, cv::Mat& restoredMap,
                   const Maps& dirMaps, const std::vector<LineBand>& lineBands,
                   const std::vector<int>& bandStrokeWidths, double nearScale,
                   double dominanceRatio, int threads) {
    if (ListedRouteFits(points, bandStrokeWidths, nearScale)) {
        RefineListed(points, edgeMaskCopy, restoredMap, lineBands, bandStrokeWidths, nearScale,
                     dominanceRatio, threads);
    } else {
        RefineThroughCountMaps(edgeMaskCopy, restoredMap, dirMaps(), lineBands, bandStrokeWidths,
                               nearScale, dominanceRatio);
    }
    SetNonZeroInBands(edgeMaskCopy, 1, threads);
}

}  // namespace

void RefineEdgeMask(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap, std::vector<cv::Mat>& dirMaps,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths,
                    const std::vector<int>& rowStrokeWidths, int mode, double nearScale,
                    double dominanceRatio, int threads) {
    if (mode <= 0 ||
        !ReadyToRefine(edgeMaskCopy, restoredMap, lineBands, bandStrokeWidths, rowStrokeWidths,
                       mode, DirectionMapsFit(dirMaps, edgeMaskCopy))) {
        return;
    }
    CleanStrokeMap(edgeMaskCopy, rowStrokeWidths, lineBands, bandStrokeWidths,
                   kCleaningComponentFactor, threads);
    if (mode == 1) {
        return;
    }
    DirectionPoints points;
    std::array<const cv::Mat*, kDirectionMapCount> maps;
    for (int j = 0; j < kDirectionMapCount; ++j) {
        maps[j] = &dirMaps[j];
    }
    points.Collect(maps);
    RefineCleaned(
        points, edgeMaskCopy, restoredMap,
        [&dirMaps]() -> std::vector<cv::Mat>& { return dirMaps; }, lineBands, bandStrokeWidths,
        nearScale, dominanceRatio, threads);
}

void RefineEdgeMask(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap, const DirectionList& directions,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths,
                    const std::vector<int>& rowStrokeWidths, int mode, double nearScale,
                    double dominanceRatio, int threads, cv::Mat cleanedMask) {
    const bool fits = directions.rows == edgeMaskCopy.rows && directions.cols == edgeMaskCopy.cols;
    if (mode <= 0 || !ReadyToRefine(edgeMaskCopy, restoredMap, lineBands, bandStrokeWidths,
                                    rowStrokeWidths, mode, fits)) {
        return;
    }
    if (cleanedMask.empty()) {
        CleanStrokeMap(edgeMaskCopy, rowStrokeWidths, lineBands, bandStrokeWidths,
                       kCleaningComponentFactor, threads);
    } else {
        CV_Assert(cleanedMask.size() == edgeMaskCopy.size() &&
                  cleanedMask.type() == edgeMaskCopy.type());
        edgeMaskCopy = std::move(cleanedMask);
    }
    if (mode == 1) {
        return;
    }
    std::vector<cv::Mat> expanded;
    RefineCleaned(
        directions, edgeMaskCopy, restoredMap,
        [&]() -> std::vector<cv::Mat>& {
            ExpandDirections(directions, expanded);
            return expanded;
        },
        lineBands, bandStrokeWidths, nearScale, dominanceRatio, threads);
}

}  // namespace edgebin::detail
