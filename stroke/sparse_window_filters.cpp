// Preconditions: `map` is 8-bit with one channel. The filters take a stroke
// description that passes IsCompleteStrokeDescription for the map and refuse any
// other (the map is then left exactly as it was).
//
// The counts are the box sums of CountInBandWindows, read only where a pixel is
// tested: the edge pixels are listed once, column sums follow the window rows down
// the page point by point, and one prefix sum per row gives every window of that
// row (sparse_window_sums.h). A band of a complete description spans the whole
// width, so its windows are never wider or taller than the map and the border
// reflection never needs more than one mirror image.
#include <algorithm>
#include <cstdint>
#include <numeric>
#include <opencv2/core/hal/intrin.hpp>

#include "common/parallel_bands.h"
#include "common/sparse_window_sums.h"
#include "stroke/window_filters.h"

namespace edgebin::detail {

namespace {

// Counts saturate at 65535, so any threshold above that removes every pixel;
// capping it keeps the double-to-int conversion defined for absurd widths.
constexpr double kMaxCountThreshold = 65536.0;
constexpr std::uint32_t kCountLimit = 65535;

// Window sums of a 0/1 map never exceed its pixel count, so 32 bits hold them.
using EdgeSums = SlidingColumnSums<1, std::uint32_t>;
template <int kTrackers>
using EdgePrefix = RowPrefix<kTrackers, 1, std::uint32_t>;

int WindowSide(int bandHeight, int bandWidth, int strokeWidth, double windowFactor) {
    const int side = std::min(bandWidth, bandHeight);
    const double scaled = strokeWidth * windowFactor;
    if (!(scaled < side)) {
        return side;
    }
    if (!(scaled >= 1.0)) {
        return 1;
    }
    return static_cast<int>(scaled);
}

int CountThreshold(int rowWidth, double countFactor) {
    const double scaled = rowWidth * countFactor;
    if (!(scaled > 0.0)) {
        return 0;
    }
    return static_cast<int>(std::min(scaled, kMaxCountThreshold));
}

bool AcceptsDescription(const cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                        const std::vector<LineBand>& lineBands,
                        const std::vector<int>& bandStrokeWidths) {
    return map.type() == CV_8UC1 && IsCompleteStrokeDescription(map.rows, map.cols, lineBands,
                                                                bandStrokeWidths, rowStrokeWidths);
}

// Writes x + b for every set bit b of `bits` (below 2^16) to `columns`, and returns
// the end of what it wrote. Four at a time, so that the count of bits, which varies
// from block to block, costs a branch per four rather than one per bit: up to three
// entries past the end are written too, which the caller must have room for. Three
// sentinel bits above the block keep those writes defined.
int* AppendBitColumns(unsigned bits, int x, int* columns) {
    int* const end = columns + __builtin_popcount(bits);
    bits |= 7U << 16;
    while (columns < end) {
        for (int i = 0; i < 4; ++i) {
            columns[i] = x + __builtin_ctz(bits);
            bits &= bits - 1;
        }
        columns += 4;
    }
    return end;
}

// Lists the edge pixels of rows [rows.top, rows.bottom) at `columns`, which may
// be written up to `room`, and makes them 1; `listed` counts the pixels listed
// before the band, and rowEnd[y + 1] receives the count after row y.
void ListEdgeRows(cv::Mat& map, RowBand rows, int* columns, const int* room, size_t listed,
                  std::vector<size_t>& rowEnd) {
    const int* const first = columns;
    for (int y = rows.top; y < rows.bottom; ++y) {
        unsigned char* row = map.ptr<unsigned char>(y);
        int x = 0;
#if CV_SIMD128
        constexpr int kStep = cv::v_uint8x16::nlanes;
        const cv::v_uint8x16 one = cv::v_setall_u8(1);
        for (; x + kStep <= map.cols; x += kStep) {
            const cv::v_uint8x16 pixels = cv::v_load(row + x);
            const auto bits = static_cast<unsigned>(cv::v_signmask(pixels != cv::v_setzero_u8()));
            if (bits == 0) {
                continue;
            }
            cv::v_store(row + x, cv::v_min(pixels, one));
            // Near the end of the band's share of the list, where the entries past
            // the end would land in the next band's, one bit at a time.
            if (room - columns >= kStep) {
                columns = AppendBitColumns(bits, x, columns);
                continue;
            }
            for (unsigned left = bits; left != 0; left &= left - 1) {
                *columns++ = x + __builtin_ctz(left);
            }
        }
#endif
        for (; x < map.cols; ++x) {
            if (row[x] != 0) {
                *columns++ = x;
                row[x] = 1;
            }
        }
        rowEnd[static_cast<size_t>(y) + 1] = listed + static_cast<size_t>(columns - first);
    }
}

// Lists the edge pixels and makes them 1 (the filters' output is 0/1), in one
// pass; the list holds no values since every listed pixel counts 1. The bands of
// rows count their pixels first and then list them in place: lists grown as the
// pixels are found, and joined afterwards, would be copied several times over.
void ListEdgePixels(cv::Mat& map, SparseRows<1>& edges, int threads) {
    edges.Clear(map.rows, map.cols);
    std::vector<size_t> bandStart(static_cast<size_t>(BandCount(map.rows, threads)) + 1, 0);
    ForEachBand(map.rows, threads, [&](RowBand band, int index) {
        bandStart[static_cast<size_t>(index) + 1] =
            static_cast<size_t>(cv::countNonZero(map.rowRange(band.top, band.bottom)));
    });
    std::partial_sum(bandStart.begin(), bandStart.end(), bandStart.begin());
    edges.columns.resize(bandStart.back());
    ForEachBand(map.rows, threads, [&](RowBand band, int index) {
        const size_t start = bandStart[static_cast<size_t>(index)];
        int* const columns = edges.columns.data();
        ListEdgeRows(map, band, columns + start,
                     columns + bandStart[static_cast<size_t>(index) + 1], start, edges.rowStart);
    });
    edges.largestValue = edges.columns.empty() ? 0 : 1;
}

// Calls filterBand(k, part) for every text band k, the bands shared among
// `threads` threads by the page rows they start on; `part` numbers the share, so
// that the bands of one share can reuse its storage. Text bands tile the page, so
// each filters rows of its own while every count reads the list taken before.
template <typename FilterBand>
void ForEachTextBand(const std::vector<LineBand>& lineBands, int rows, int threads,
                     const FilterBand& filterBand) {
    ForEachBand(rows, threads, [&](RowBand part, int index) {
        for (size_t k = 0; k < lineBands.size(); ++k) {
            if (lineBands[k].top >= part.top && lineBands[k].top < part.bottom) {
                filterBand(k, static_cast<size_t>(index));
            }
        }
    });
}

// Ring prefixes beyond this size are not kept; the three ranges are then summed
// side by side for every row instead.
constexpr double kMaxRingBytes = 64.0 * 1024 * 1024;

// Clears the edge pixels of row y with at least `minVotes` sparse windows of the
// five. `window(range, start)` gives the sum over the columns start .. start + side
// - 1 of the rows of one of the three vertical ranges: 0 centred, 1 hanging
// below the row (top corners), 2 standing above it (bottom corners). A window is
// sparse when its count, saturated at kCountLimit as the box filter's output is,
// lies below `threshold`: below the limit the raw sums decide alike, and above it
// every window is sparse.
template <typename Window>
void VoteOnRow(const SparseRows<1>& edges, int y, int side, std::uint32_t threshold, int minVotes,
               const Window& window, unsigned char* pixels) {
    const size_t begin = edges.RowBegin(y);
    const size_t end = edges.RowEnd(y);
    if (threshold > kCountLimit) {
        if (minVotes <= 5) {
            for (size_t p = begin; p < end; ++p) {
                pixels[edges.columns[p]] = 0;
            }
        }
        return;
    }
    const int before = side / 2;
    const auto sparse = [&](int range, long long start) {
        return static_cast<int>(window(range, start) < threshold);
    };
    for (size_t p = begin; p < end; ++p) {
        const int x = edges.columns[p];
        // Centred, top-left, bottom-left, top-right and bottom-right windows.
        const int votes = sparse(0, x - before) + sparse(1, x) + sparse(2, x) +
                          sparse(1, x - side + 1) + sparse(2, x - side + 1);
        if (votes >= minVotes) {
            pixels[x] = 0;
        }
    }
}

// The prefix of each range start t is computed once, kept in a ring of the last
// `side` starts and shared by the three rows that use it. The ring's first `side`
// prefixes serve; one ring serves band after band, as fresh prefixes for every
// band would be cleared only to be written over.
void CornerVoteBandWithRing(const SparseRows<1>& edges, const LineBand& band, int side,
                            const std::vector<int>& rowStrokeWidths, int minVotes,
                            double countFactor, std::vector<EdgePrefix<1>>& ring, cv::Mat& map) {
    const int before = side / 2;
    const long long from = -(side - 1);
    const long long to = map.cols + side - 1;
    const int firstStart = band.top - side + 1;
    std::vector<char> needed(static_cast<size_t>(band.bottom - firstStart + 1), 0);
    for (int y = band.top; y <= band.bottom; ++y) {
        if (edges.RowBegin(y) != edges.RowEnd(y)) {
            for (const int start : {y - side + 1, y - before, y}) {
                needed[static_cast<size_t>(start - firstStart)] = 1;
            }
        }
    }
    EdgeSums sums(edges);
    if (ring.size() < static_cast<size_t>(side)) {
        ring.resize(static_cast<size_t>(side));
    }
    const auto slot = [&](int start) {
        return static_cast<size_t>(start - firstStart) % static_cast<size_t>(side);
    };
    for (int t = firstStart; t <= band.bottom; ++t) {
        if (needed[static_cast<size_t>(t - firstStart)] != 0) {
            sums.Cover(t, side);
            ring[slot(t)].Build({&sums}, from, to, map.cols);
        }
        const int y = t;
        if (y < band.top || edges.RowBegin(y) == edges.RowEnd(y)) {
            continue;
        }
        const std::array<const std::uint32_t*, 3> entries = {
            ring[slot(y - before)].EntryAt(from), ring[slot(y)].EntryAt(from),
            ring[slot(y - side + 1)].EntryAt(from)};
        // The ring's prefix entries read directly: entry i is virtual column from + i.
        VoteOnRow(
            edges, y, side,
            static_cast<std::uint32_t>(
                CountThreshold(rowStrokeWidths[static_cast<size_t>(y)], countFactor)),
            minVotes,
            [&](int range, long long start) {
                const std::uint32_t* entry = entries[static_cast<size_t>(range)] + (start - from);
                return entry[side] - entry[0];
            },
            map.ptr<unsigned char>(y));
    }
}

// The three ranges summed side by side, one prefix of all three per row.
void CornerVoteBandWithTrackers(const SparseRows<1>& edges, const LineBand& band, int side,
                                const std::vector<int>& rowStrokeWidths, int minVotes,
                                double countFactor, cv::Mat& map) {
    const int before = side / 2;
    EdgeSums centred(edges);
    EdgeSums below(edges);
    EdgeSums above(edges);
    EdgePrefix<3> prefix;
    for (int y = band.top; y <= band.bottom; ++y) {
        if (edges.RowBegin(y) == edges.RowEnd(y)) {
            continue;
        }
        centred.Cover(y - before, side);
        below.Cover(y, side);
        above.Cover(y - side + 1, side);
        prefix.Build({&centred, &below, &above}, -(side - 1), map.cols + side - 1, map.cols);
        VoteOnRow(
            edges, y, side,
            static_cast<std::uint32_t>(
                CountThreshold(rowStrokeWidths[static_cast<size_t>(y)], countFactor)),
            minVotes,
            [&](int range, long long start) { return prefix.WindowSum(range, start, side); },
            map.ptr<unsigned char>(y));
    }
}

// Clears the listed pixels whose centred window is sparse. Removals go into `map`
// while the sums read the list taken before them.
void DensityFilterListed(const SparseRows<1>& edges, const std::vector<int>& rowStrokeWidths,
                         const std::vector<LineBand>& lineBands,
                         const std::vector<int>& bandStrokeWidths, double windowFactor,
                         double countFactor, int threads, cv::Mat& map) {
    ForEachTextBand(lineBands, map.rows, threads, [&](size_t k, size_t) {
        EdgeSums sums(edges);
        EdgePrefix<1> prefix;
        const LineBand& band = lineBands[k];
        const int side =
            WindowSide(band.bottom - band.top + 1, map.cols, bandStrokeWidths[k], windowFactor);
        const int before = side / 2;
        for (int y = band.top; y <= band.bottom; ++y) {
            if (edges.RowBegin(y) == edges.RowEnd(y)) {
                continue;
            }
            sums.Cover(y - before, side);
            prefix.Build({&sums}, -before, map.cols - before + side - 1, map.cols);
            const std::uint32_t threshold = static_cast<std::uint32_t>(
                CountThreshold(rowStrokeWidths[static_cast<size_t>(y)], countFactor));
            unsigned char* pixels = map.ptr<unsigned char>(y);
            // As in VoteOnRow: below kCountLimit the raw sums decide, above it every
            // window is sparse. Entry x starts the window of pixel x.
            const std::uint32_t* entries = prefix.EntryAt(-before);
            const bool allSparse = threshold > kCountLimit;
            for (size_t p = edges.RowBegin(y); p < edges.RowEnd(y); ++p) {
                const int x = edges.columns[p];
                if (allSparse || entries[x + side] - entries[x] < threshold) {
                    pixels[x] = 0;
                }
            }
        }
    });
}

// Clears the listed pixels that enough of their five windows find sparse.
// Removals go into `map` while the sums read the list taken before them.
void CornerVoteListed(const SparseRows<1>& edges, const std::vector<int>& rowStrokeWidths,
                      const std::vector<LineBand>& lineBands,
                      const std::vector<int>& bandStrokeWidths, int minVotes, double windowFactor,
                      double countFactor, int threads, cv::Mat& map) {
    std::vector<std::vector<EdgePrefix<1>>> rings(
        static_cast<size_t>(BandCount(map.rows, threads)));
    ForEachTextBand(lineBands, map.rows, threads, [&](size_t k, size_t part) {
        const LineBand& band = lineBands[k];
        const int side =
            WindowSide(band.bottom - band.top + 1, map.cols, bandStrokeWidths[k], windowFactor);
        const double ringBytes = static_cast<double>(side) *
                                 (static_cast<double>(map.cols) + 2.0 * side) *
                                 sizeof(std::uint32_t);
        if (ringBytes <= kMaxRingBytes) {
            CornerVoteBandWithRing(edges, band, side, rowStrokeWidths, minVotes, countFactor,
                                   rings[part], map);
        } else {
            CornerVoteBandWithTrackers(edges, band, side, rowStrokeWidths, minVotes, countFactor,
                                       map);
        }
    });
}

// Drops from the list the pixels `map` no longer holds: the list stays in raster
// order, so the next filter needs no scan of the whole page.
void KeepListedEdges(const cv::Mat& map, SparseRows<1>& edges) {
    size_t kept = 0;
    size_t from = 0;
    for (int y = 0; y < edges.rows; ++y) {
        const unsigned char* pixels = map.ptr<unsigned char>(y);
        const size_t end = edges.rowStart[static_cast<size_t>(y) + 1];
        for (; from < end; ++from) {
            const int x = edges.columns[from];
            if (pixels[x] != 0) {
                edges.columns[kept++] = x;
            }
        }
        edges.rowStart[static_cast<size_t>(y) + 1] = kept;
    }
    edges.columns.resize(kept);
    edges.largestValue = edges.columns.empty() ? 0 : 1;
}

// Lists the edge pixels of a map the filters take, making them 1; false, and the map
// left alone, when they refuse its description.
bool ListAcceptedEdges(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                       const std::vector<LineBand>& lineBands,
                       const std::vector<int>& bandStrokeWidths, int threads,
                       SparseRows<1>& edges) {
    if (!AcceptsDescription(map, rowStrokeWidths, lineBands, bandStrokeWidths) || map.empty()) {
        return false;
    }
    ListEdgePixels(map, edges, threads);
    return true;
}

}  // namespace

void DensityFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                   const std::vector<LineBand>& lineBands, const std::vector<int>& bandStrokeWidths,
                   double windowFactor, double countFactor, int threads) {
    SparseRows<1> edges;
    if (!ListAcceptedEdges(map, rowStrokeWidths, lineBands, bandStrokeWidths, threads, edges)) {
        return;
    }
    DensityFilterListed(edges, rowStrokeWidths, lineBands, bandStrokeWidths, windowFactor,
                        countFactor, threads, map);
}

void CornerVoteFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                      const std::vector<LineBand>& lineBands,
                      const std::vector<int>& bandStrokeWidths, int minVotes, double windowFactor,
                      double countFactor, int threads) {
    SparseRows<1> edges;
    if (!ListAcceptedEdges(map, rowStrokeWidths, lineBands, bandStrokeWidths, threads, edges)) {
        return;
    }
    CornerVoteListed(edges, rowStrokeWidths, lineBands, bandStrokeWidths, minVotes, windowFactor,
                     countFactor, threads, map);
}

void DensityThenCornerVote(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                           const std::vector<LineBand>& lineBands,
                           const std::vector<int>& bandStrokeWidths, const DensityRule& density,
                           const CornerVoteRule& cornerVote, int threads) {
    SparseRows<1> edges;
    if (!ListAcceptedEdges(map, rowStrokeWidths, lineBands, bandStrokeWidths, threads, edges)) {
        return;
    }
    DensityFilterListed(edges, rowStrokeWidths, lineBands, bandStrokeWidths, density.windowFactor,
                        density.countFactor, threads, map);
    KeepListedEdges(map, edges);
    CornerVoteListed(edges, rowStrokeWidths, lineBands, bandStrokeWidths, cornerVote.minVotes,
                     cornerVote.windowFactor, cornerVote.countFactor, threads, map);
}

}  // namespace edgebin::detail
