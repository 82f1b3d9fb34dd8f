// The contour-length curve for all levels without thresholding the map 256 times.
//
// At level l the measured mask is the set of pixels above l with its specks (8-connected
// components of one or two pixels) removed; the curve is its outline length (pixels
// outside it that touch it along a side) over its number of components. Everything
// but the component count is local:
// - a pixel is in a kept component at level l exactly when it lies in a connected
//   triple of pixels above l, so it is kept for the levels below `keptBelow`, the best
//   minimum over such triples, which its 5x5 neighbourhood decides;
// - a pixel is outline for the levels from its own keptBelow up to the largest
//   keptBelow of its side neighbours;
// - one- and two-pixel components at each level follow from the neighbours' values.
// Each of these adds one to a range of levels, kept as differences.
//
// The number of components of the pixels above l is their count minus the number of
// 8-neighbour joins that merge two components, in a sweep from the top level down
// (an edge joins one level below the smaller of its two values). A union-find over the whole page
// visits pixels in value order, that is at random in memory, and on large pages it
// spends its time in cache misses. So the sweep runs tile by tile, where the
// union-find fits in the cache: a join inside a tile always merges two components
// unless both already reach the tile's border, since only border pixels have edges
// to other tiles. Those joins, and the edges between tiles, go to a second union-find
// over the border pixels only, replayed level by level.
//
// Preconditions: gradMap is CV_8UC1.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <opencv2/core/hal/intrin.hpp>
#include <utility>
#include <vector>

#include "common/non_zero_bits.h"
#include "common/parallel_bands.h"
#include "global/contour_curve.h"

namespace edgebin::detail {

namespace {

// The largest side, in steps of sixteen, whose framed tile the 16-bit forest can
// number: the larger the tile, the fewer of its pixels lie on its border, and the
// joins of border pixels cost more than the rest of the sweep.
constexpr int kTileSide = 176;
constexpr int kLevels = 256;

using LevelCounts = std::array<long long, kLevels + 1>;

// Neighbour directions in ring order N, NE, E, SE, S, SW, W, NW; the opposite of
// direction d is (d + 4) % 8.
constexpr std::array<int, 8> kRingX = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr std::array<int, 8> kRingY = {-1, -1, 0, 1, 1, 1, 0, -1};

// The largest and second largest of the eight neighbour values of every framed
// pixel (0 on the frame). The largest of a pixel's neighbours other than neighbour
// x is then `second` when x holds the largest value, else `largest`: when several
// neighbours share the largest value, second equals it.
struct NeighbourMaxima {
    cv::Mat largest;
    cv::Mat second;
};

// The largest and second largest of eight values, kept in `largest` and `second`;
// `Value` is a byte or a vector of them.
template <typename Value, typename Max, typename Min>
void KeepTopTwo(const std::array<Value, 8>& values, Value& largest, Value& second, const Max& max,
                const Min& min) {
    for (const Value& value : values) {
        second = max(second, min(largest, value));
        largest = max(largest, value);
    }
}

// Fills the page rows of `band` (rows band.top + 1 .. band.bottom of the framed map),
// sixteen pixels a step and the last few one by one.
void FindNeighbourMaxima(const cv::Mat& framed, RowBand band, NeighbourMaxima& maxima) {
    const int cols = framed.cols - 2;
    constexpr int kStep = cv::v_uint8x16::nlanes;
    const auto vectorMax = [](const cv::v_uint8x16& a, const cv::v_uint8x16& b) {
        return cv::v_max(a, b);
    };
    const auto vectorMin = [](const cv::v_uint8x16& a, const cv::v_uint8x16& b) {
        return cv::v_min(a, b);
    };
    const auto byteMax = [](uint8_t a, uint8_t b) { return std::max(a, b); };
    const auto byteMin = [](uint8_t a, uint8_t b) { return std::min(a, b); };
    for (int y = band.top + 1; y <= band.bottom; ++y) {
        const uint8_t* up = framed.ptr<uint8_t>(y - 1) + 1;
        const uint8_t* mid = framed.ptr<uint8_t>(y) + 1;
        const uint8_t* down = framed.ptr<uint8_t>(y + 1) + 1;
        uint8_t* largestRow = maxima.largest.ptr<uint8_t>(y) + 1;
        uint8_t* secondRow = maxima.second.ptr<uint8_t>(y) + 1;
        int x = 0;
        for (; x + kStep <= cols; x += kStep) {
            const std::array<cv::v_uint8x16, 8> values = {
                cv::v_load(up + x - 1),  cv::v_load(up + x),      cv::v_load(up + x + 1),
                cv::v_load(mid + x - 1), cv::v_load(mid + x + 1), cv::v_load(down + x - 1),
                cv::v_load(down + x),    cv::v_load(down + x + 1)};
            cv::v_uint8x16 largest = cv::v_setzero_u8();
            cv::v_uint8x16 second = cv::v_setzero_u8();
            KeepTopTwo(values, largest, second, vectorMax, vectorMin);
            cv::v_store(largestRow + x, largest);
            cv::v_store(secondRow + x, second);
        }
        for (; x < cols; ++x) {
            const std::array<uint8_t, 8> values = {up[x - 1],  up[x],       up[x + 1], mid[x - 1],
                                                   mid[x + 1], down[x - 1], down[x],   down[x + 1]};
            uint8_t largest = 0;
            uint8_t second = 0;
            KeepTopTwo(values, largest, second, byteMax, byteMin);
            largestRow[x] = largest;
            secondRow[x] = second;
        }
    }
}

// Row pointers of the framed map and its neighbour maxima, from the pixel at (x, y).
struct FramedRows {
    const uint8_t* value;
    const uint8_t* largest;
    const uint8_t* second;
};

FramedRows RowsAt(const cv::Mat& framed, const NeighbourMaxima& maxima, int y, int x) {
    return {framed.ptr<uint8_t>(y) + x, maxima.largest.ptr<uint8_t>(y) + x,
            maxima.second.ptr<uint8_t>(y) + x};
}

// The largest value among a pixel's neighbours other than one of them, of value
// `otherValue`, from the pixel's largest and second largest neighbour values.
inline uint8_t LargestExcept(uint8_t largest, uint8_t second, uint8_t otherValue) {
    return otherValue == largest ? second : largest;
}

// The same for sixteen pixels. As second never exceeds largest, the largest of
// `second` and `largest` masked out where it equals otherValue picks the right one,
// one instruction shorter than a select without SSE4.1.
inline cv::v_uint8x16 LargestExcept(const cv::v_uint8x16& largest, const cv::v_uint8x16& second,
                                    const cv::v_uint8x16& otherValue) {
    return cv::v_max(second, largest & ~(otherValue == largest));
}

// keptBelow of the framed pixels of the page rows of `band`: the largest minimum
// value over the connected triples that contain it, either two of its neighbours or
// a neighbour and one of that neighbour's other neighbours. Sixteen pixels a step,
// the last few one by one.
void KeptBelowLevels(const cv::Mat& framed, const NeighbourMaxima& maxima, RowBand band,
                     cv::Mat& keptBelow) {
    const int cols = framed.cols - 2;
    constexpr int kStep = cv::v_uint8x16::nlanes;
    for (int y = band.top + 1; y <= band.bottom; ++y) {
        const FramedRows centre = RowsAt(framed, maxima, y, 1);
        // The step reads its neighbours from three rows at column offsets known at
        // compile time, which keeps its nine row pointers in registers; one pointer
        // per neighbour and plane did not fit and went through the stack.
        const std::array<FramedRows, 3> rowsAround = {RowsAt(framed, maxima, y - 1, 1), centre,
                                                      RowsAt(framed, maxima, y + 1, 1)};
        uint8_t* out = keptBelow.ptr<uint8_t>(y) + 1;
        int x = 0;
        for (; x + kStep <= cols; x += kStep) {
            const cv::v_uint8x16 own = cv::v_load(centre.value + x);
            cv::v_uint8x16 best = cv::v_load(centre.second + x);
            for (size_t d = 0; d < 8; ++d) {
                const FramedRows& row = rowsAround[static_cast<size_t>(kRingY[d] + 1)];
                const int at = x + kRingX[d];
                const cv::v_uint8x16 beyond =
                    LargestExcept(cv::v_load(row.largest + at), cv::v_load(row.second + at), own);
                best = cv::v_max(best, cv::v_min(cv::v_load(row.value + at), beyond));
            }
            cv::v_store(out + x, cv::v_min(own, best));
        }
        for (; x < cols; ++x) {
            const uint8_t own = centre.value[x];
            uint8_t best = centre.second[x];
            for (size_t d = 0; d < 8; ++d) {
                const FramedRows& row = rowsAround[static_cast<size_t>(kRingY[d] + 1)];
                const int at = x + kRingX[d];
                const uint8_t beyond = LargestExcept(row.largest[at], row.second[at], own);
                best = std::max(best, std::min(row.value[at], beyond));
            }
            out[x] = std::min(own, best);
        }
    }
}

// Neighbouring pixels often add to the same levels; spreading the updates over
// several copies of the counts keeps them from waiting on each other, and so does
// counting where ranges start apart from where they end, since an empty range
// starts and ends at one level. The counts of a chunk of rows fit in 32 bits.
constexpr size_t kLanes = 4;
using LaneCount = std::array<int32_t, kLevels + 1>;
struct RangeLanes {
    std::array<LaneCount, kLanes> starts{};
    std::array<LaneCount, kLanes> ends{};

    void Add(size_t lane, int from, int to) {
        ++starts[lane][static_cast<size_t>(from)];
        ++ends[lane][static_cast<size_t>(to)];
    }

    // Adds the differences to `counts`.
    void AddTo(LevelCounts& counts) const {
        for (size_t lane = 0; lane < kLanes; ++lane) {
            for (size_t level = 0; level < counts.size(); ++level) {
                counts[level] += starts[lane][level] - ends[lane][level];
            }
        }
    }
};

// Adds the range of levels [from[x], to[x]) of every pixel of a row; `to` must not
// be below `from`, and an empty range adds one and takes it off again, which spares
// a test per pixel.
void AddRowRanges(const uint8_t* from, const uint8_t* to, int cols, RangeLanes& lanes) {
    // Sixteen pixels a round keep the loop's own steps few beside the counting.
    constexpr int kRound = 4 * static_cast<int>(kLanes);
    int x = 0;
    for (; x + kRound <= cols; x += kRound) {
        for (size_t i = 0; i < static_cast<size_t>(kRound); ++i) {
            const size_t at = static_cast<size_t>(x) + i;
            lanes.Add(i % kLanes, from[at], to[at]);
        }
    }
    for (; x < cols; ++x) {
        lanes.Add(0, from[x], to[x]);
    }
}

// Where a pixel and its neighbour towards ring direction d (E, SE, S or SW) make a
// two-pixel component: the levels [from, until), empty when until is not above from.
// `Value` is a byte or a vector of them, read by `load`; select(other, largest,
// second) is LargestExcept.
template <typename Value, typename Load, typename Select, typename Max, typename Min>
void PairLevels(const FramedRows& centre, int offset, int x, const Load& load, const Select& select,
                const Max& max, const Min& min, Value& from, Value& until) {
    const Value ownValue = load(centre.value + x);
    const Value value = load(centre.value + x + offset);
    // The largest value of each pixel's neighbours but the other one.
    const Value beyondCentre = select(value, load(centre.largest + x), load(centre.second + x));
    const Value beyondOther =
        select(ownValue, load(centre.largest + x + offset), load(centre.second + x + offset));
    from = max(beyondCentre, beyondOther);
    until = min(ownValue, value);
}

// Adds the specks (one- and two-pixel components) of one row of pixels to `lanes`,
// as ranges of levels. A lone pixel is a speck from its largest neighbour value up
// to its own. The ranges are worked out sixteen pixels a step and the few that
// are not empty are added: most pixels are in no speck at any level.
void AddRowSpecks(const FramedRows& centre, int stride, int cols, RangeLanes& lanes, size_t& lane) {
    constexpr int kStep = cv::v_uint8x16::nlanes;
    constexpr std::array<int, 4> kPairDirections = {2, 3, 4, 5};
    std::array<int, 4> offsets{};
    for (size_t i = 0; i < offsets.size(); ++i) {
        offsets[i] = kRingY[kPairDirections[i]] * stride + kRingX[kPairDirections[i]];
    }
    const auto vectorLoad = [](const uint8_t* at) { return cv::v_load(at); };
    const auto vectorSelect = [](const cv::v_uint8x16& other, const cv::v_uint8x16& largest,
                                 const cv::v_uint8x16& second) {
        return LargestExcept(largest, second, other);
    };
    const auto vectorMax = [](const cv::v_uint8x16& a, const cv::v_uint8x16& b) {
        return cv::v_max(a, b);
    };
    const auto vectorMin = [](const cv::v_uint8x16& a, const cv::v_uint8x16& b) {
        return cv::v_min(a, b);
    };
    // Ranges by kind (lone, then the four pairs) for the pixels of one step, stored
    // only for the steps that hold a speck, kind after kind so that bit b of a step's
    // mask below (bits 16 * kind + pixel) reads its range at index b.
    constexpr size_t kKinds = 5;
    // Past the ranges, an empty one (from level 0 to level 0), which adds nothing.
    constexpr size_t kEmpty = kKinds * kStep;
    std::array<uint8_t, kEmpty + 1> from{};
    std::array<uint8_t, kEmpty + 1> until{};
    // Bits of the empty ranges (high not above low); the inverse marks the specks.
    const auto empty = [](const cv::v_uint8x16& low, const cv::v_uint8x16& high) {
        return static_cast<uint64_t>(cv::v_signmask((high - low) == cv::v_setzero_u8()));
    };
    // The place of the lowest bit of `bits`, or the empty range without one;
    // worked out, not tested, which the compiler would make a branch.
    const auto lowest = [](uint64_t bits) {
        const uint64_t none = bits == 0 ? 1 : 0;
        return static_cast<size_t>(__builtin_ctzll(bits | none)) + (kEmpty & (0 - none));
    };
    int x = 0;
    for (; x + kStep <= cols; x += kStep) {
        std::array<cv::v_uint8x16, kKinds> low;
        std::array<cv::v_uint8x16, kKinds> high;
        low[0] = cv::v_load(centre.largest + x);
        high[0] = cv::v_load(centre.value + x);
        for (size_t i = 0; i < offsets.size(); ++i) {
            PairLevels(centre, offsets[i], x, vectorLoad, vectorSelect, vectorMax, vectorMin,
                       low[i + 1], high[i + 1]);
        }
        // Four kinds fill the 64 bits; the fifth gets a mask of its own.
        static_assert(kStep * (kKinds - 1) == 64, "four kinds of sixteen pixels fill a mask");
        uint64_t absent = 0;
        for (size_t kind = 0; kind + 1 < kKinds; ++kind) {
            absent |= empty(low[kind], high[kind]) << (kStep * kind);
        }
        const uint64_t present = ~absent;
        const uint64_t presentLast = ~empty(low[kKinds - 1], high[kKinds - 1]) & 0xffffu;
        for (size_t kind = 0; kind < kKinds; ++kind) {
            cv::v_store(from.data() + kStep * kind, low[kind]);
            cv::v_store(until.data() + kStep * kind, high[kind]);
        }
        // Half the steps hold no speck and most others one or two, in no order
        // a branch could learn; so the first two of the mask are added whether
        // there or not, the empty range standing in for a missing one, and only
        // the few steps with more go on in a loop.
        const uint64_t rest = present & (present - 1);
        for (const size_t at : {lowest(present), lowest(rest)}) {
            lanes.Add(lane++ % kLanes, from[at], until[at]);
        }
        for (uint64_t bits = rest & (rest - 1); bits != 0; bits &= bits - 1) {
            const size_t at = static_cast<size_t>(__builtin_ctzll(bits));
            lanes.Add(lane++ % kLanes, from[at], until[at]);
        }
        for (uint64_t bits = presentLast; bits != 0; bits &= bits - 1) {
            const size_t at = kStep * (kKinds - 1) + static_cast<size_t>(__builtin_ctzll(bits));
            lanes.Add(lane++ % kLanes, from[at], until[at]);
        }
    }
    const auto byteLoad = [](const uint8_t* at) { return *at; };
    const auto byteSelect = [](uint8_t other, uint8_t largest, uint8_t second) {
        return LargestExcept(largest, second, other);
    };
    const auto byteMax = [](uint8_t a, uint8_t b) { return std::max(a, b); };
    const auto byteMin = [](uint8_t a, uint8_t b) { return std::min(a, b); };
    for (; x < cols; ++x) {
        if (centre.value[x] > centre.largest[x]) {
            lanes.Add(lane++ % kLanes, centre.largest[x], centre.value[x]);
        }
        for (const int offset : offsets) {
            uint8_t low = 0;
            uint8_t high = 0;
            PairLevels(centre, offset, x, byteLoad, byteSelect, byteMax, byteMin, low, high);
            if (low < high) {
                lanes.Add(lane++ % kLanes, low, high);
            }
        }
    }
}

// Per level: specks and outline pixels of the page rows of `band`, as differences
// over the levels.
void CountSpecksAndOutline(const cv::Mat& framed, const NeighbourMaxima& maxima,
                           const cv::Mat& keptBelow, RowBand band, LevelCounts& specks,
                           LevelCounts& outline) {
    const int cols = framed.cols - 2;
    // One offset serves the map and its maxima: all three share their layout.
    const int stride = static_cast<int>(framed.step1());
    CV_Assert(maxima.largest.step1() == framed.step1() && maxima.second.step1() == framed.step1());
    RangeLanes speckLanes;
    RangeLanes outlineLanes;
    size_t lane = 0;
    std::vector<uint8_t> to(static_cast<size_t>(cols));
    for (int y = band.top + 1; y <= band.bottom; ++y) {
        AddRowSpecks(RowsAt(framed, maxima, y, 1), stride, cols, speckLanes, lane);
        // Outline: from a pixel's own keptBelow up to its side neighbours' largest.
        const uint8_t* up = keptBelow.ptr<uint8_t>(y - 1) + 1;
        const uint8_t* mid = keptBelow.ptr<uint8_t>(y) + 1;
        const uint8_t* down = keptBelow.ptr<uint8_t>(y + 1) + 1;
        for (int x = 0; x < cols; ++x) {
            to[static_cast<size_t>(x)] = std::max(
                std::max(std::max(up[x], down[x]), std::max(mid[x - 1], mid[x + 1])), mid[x]);
        }
        AddRowRanges(mid, to.data(), cols, outlineLanes);
    }
    speckLanes.AddTo(specks);
    outlineLanes.AddTo(outline);
}

// Page rows counted at a time: a chunk's maxima and keptBelow are still in the
// cache when the next step reads them, and the page needs no copies of its own.
constexpr int kChunkRows = 32;
// Rows read around a chunk: its outline reads keptBelow a row out, which reads the
// maxima two rows out, which read the values three rows out.
constexpr int kChunkHalo = 3;

// The local terms of the page rows of `band`, a chunk of rows at a time. The rows
// around a chunk are worked out again for each chunk (the frame of zeros stands
// for rows beyond the page), so every count is the one of a whole-page pass.
void CountLocalTermsOfRows(const cv::Mat& gradMap, RowBand band, LevelCounts& specks,
                           LevelCounts& outline) {
    const int rows = gradMap.rows;
    const int cols = gradMap.cols;
    const int height = kChunkRows + 2 * kChunkHalo;
    const size_t framedCols = static_cast<size_t>(cols) + 2;
    cv::Mat framed = cv::Mat::zeros(height, cols + 2, CV_8UC1);
    NeighbourMaxima maxima{cv::Mat::zeros(height, cols + 2, CV_8UC1),
                           cv::Mat::zeros(height, cols + 2, CV_8UC1)};
    cv::Mat keptBelow = cv::Mat::zeros(height, cols + 2, CV_8UC1);
    for (int top = band.top; top < band.bottom; top += kChunkRows) {
        const int bottom = std::min(top + kChunkRows, band.bottom);
        const int firstRow = top - kChunkHalo;  // the page row of the chunk's row 0
        for (int i = 0; i < bottom - top + 2 * kChunkHalo; ++i) {
            const int y = firstRow + i;
            if (y < 0 || y >= rows) {
                for (cv::Mat* plane : {&framed, &maxima.largest, &maxima.second, &keptBelow}) {
                    std::memset(plane->ptr<uint8_t>(i), 0, framedCols);
                }
                continue;
            }
            std::memcpy(framed.ptr<uint8_t>(i) + 1, gradMap.ptr<uint8_t>(y),
                        static_cast<size_t>(cols));
        }
        // The steps take page rows [from, to) as framed rows from + 1 .. to; here
        // they are the chunk's rows, and cut to the page.
        const auto chunkRows = [&](int from, int to) {
            return RowBand{std::max(from, 0) - firstRow - 1, std::min(to, rows) - firstRow - 1};
        };
        FindNeighbourMaxima(framed, chunkRows(top - 2, bottom + 2), maxima);
        KeptBelowLevels(framed, maxima, chunkRows(top - 1, bottom + 1), keptBelow);
        CountSpecksAndOutline(framed, maxima, keptBelow, chunkRows(top, bottom), specks, outline);
    }
}

// Rows of a block of the local terms on more than one thread: blocks short enough
// that the threads end close together, long enough that the rows recounted around
// each and its buffers cost little.
constexpr int kTermBlockRows = 8 * kChunkRows;

// The local terms in blocks of rows, taken by the threads as they come free, beside
// `alongside`, run by the first thread free. The blocks' counts are integers and add
// up alike in any order.
void CountLocalTerms(const cv::Mat& gradMap, int threads, const std::function<void()>& alongside,
                     LevelCounts& specks, LevelCounts& outline) {
    const int rows = gradMap.rows;
    const int blockRows = threads > 1 ? kTermBlockRows : rows;
    const int blocks = (rows + blockRows - 1) / blockRows;
    std::vector<LevelCounts> blockSpecks(static_cast<size_t>(blocks));
    std::vector<LevelCounts> blockOutline(blockSpecks.size());
    ForEachTask(blocks + 1, threads, [&](int task) {
        if (task == 0) {
            alongside();
            return;
        }
        const size_t at = static_cast<size_t>(task) - 1;
        const int top = (task - 1) * blockRows;
        blockSpecks[at].fill(0);
        blockOutline[at].fill(0);
        CountLocalTermsOfRows(gradMap, RowBand{top, std::min(top + blockRows, rows)},
                              blockSpecks[at], blockOutline[at]);
    });
    for (size_t b = 0; b < blockSpecks.size(); ++b) {
        for (size_t level = 0; level < specks.size(); ++level) {
            specks[level] += blockSpecks[b][level];
            outline[level] += blockOutline[b][level];
        }
    }
}

// One neighbour (as a ring direction) of each group of mutually touching neighbours,
// for every pattern of present neighbours. Present neighbours that touch are already
// in one component, so one join per group is enough. Patterns hold their bits in the
// order in which they are gathered: NW, N, NE, W, E, SW, S, SE.
struct NeighbourGroups {
    int count = 0;
    std::array<int, 4> first{};
};
using NeighbourGroupTable = std::array<NeighbourGroups, 256>;

// Directions in the order a pixel prefers its first group and its parent: the row
// above first, whose parents can be passed on (see TileSweep::ParentAbove).
constexpr std::array<int, 8> kPreferredDirections = {0, 1, 7, 2, 3, 4, 5, 6};

NeighbourGroupTable BuildNeighbourGroupTable() {
    // Neighbours touch when next to each other on the ring, or when both are side
    // neighbours (even directions) two steps apart.
    const auto touch = [](int i, int j) {
        const int gap = (j - i + 8) % 8;
        return gap == 1 || gap == 7 || ((gap == 2 || gap == 6) && i % 2 == 0);
    };
    constexpr std::array<int, 8> kGatheredDirection = {7, 0, 1, 6, 2, 5, 4, 3};
    NeighbourGroupTable table{};
    for (unsigned gathered = 0; gathered < 256; ++gathered) {
        unsigned pattern = 0;  // in ring order
        for (size_t bit = 0; bit < 8; ++bit) {
            pattern |= (gathered >> bit & 1U) << kGatheredDirection[bit];
        }
        std::array<int, 8> group{};
        group.fill(-1);
        NeighbourGroups& groups = table[gathered];
        for (const int i : kPreferredDirections) {
            if ((pattern >> i & 1U) == 0 || group[i] >= 0) {
                continue;
            }
            std::array<int, 8> stack{};
            int top = 0;
            stack[top++] = i;
            group[i] = groups.count;
            while (top > 0) {
                const int at = stack[--top];
                for (int j = 0; j < 8; ++j) {
                    if ((pattern >> j & 1U) != 0 && group[j] < 0 && touch(at, j)) {
                        group[j] = groups.count;
                        stack[top++] = j;
                    }
                }
            }
            groups.first[groups.count++] = i;
        }
    }
    return table;
}

// What a tile's raster pass makes of a pixel, counted by value and kind. A border
// pixel always stays a root, as its component must keep a border pixel to
// represent it.
enum PixelKind : uint8_t {
    kStarts = 0,    // no neighbour present: a component of its own
    kAttaches = 1,  // one group present: hangs below it
    kJoins = 2,     // two or more groups: hangs below one, the sweep joins the others
    kBorder = 3,    // a border pixel with some group: the sweep joins them all
};

// Union-find by rank with path halving; a root is its own parent and keeps its
// rank apart, where it may also carry a mark that it keeps through every link and
// that wins every link against a root without one. `Index` holds the element
// numbers: 16 bits for a tile, whose forest then takes half the cache.
template <typename Index>
class DisjointSets {
    static constexpr int kBranchFreeSteps = 4;
    // Ranks stay below it: they grow at most to the logarithm of the size.
    static constexpr uint8_t kMark = 64;

  public:
    void Reset(size_t size) {
        parent_.resize(size);
        for (size_t i = 0; i < size; ++i) {
            parent_[i] = static_cast<Index>(i);
        }
        rank_.assign(size, 0);
    }

    // With path halving: for forests too large for the cache, where every step
    // beyond the root would be a miss.
    int Find(int p) {
        for (;;) {
            const int up = parent_[static_cast<size_t>(p)];
            const int upper = parent_[static_cast<size_t>(up)];
            if (upper == up) {
                return up;
            }
            parent_[static_cast<size_t>(p)] = static_cast<Index>(upper);
            p = upper;
        }
    }

    // For a forest in the cache, such as a tile's. Most paths there are a few
    // steps long, but of any length up to about five, so a loop that tests each
    // step mispredicts once a call. A few steps that stay put at the root run
    // without branches, each a bare load as a root is its own parent; longer paths
    // go on in a loop and are then compressed. Short paths stay as they are: a
    // store to a place known only from the loads before it held up the loads of
    // the finds after it more than the step it would save them.
    int FindNear(int p) {
        size_t root = static_cast<size_t>(p);
        for (int step = 0; step < kBranchFreeSteps; ++step) {
            root = static_cast<size_t>(parent_[root]);
        }
        if (static_cast<size_t>(parent_[root]) != root) {
            // A long path, such as one down a column of a flat area, whose pixels
            // hang one below the other: it all points at the root afterwards, so
            // that finds through it later take one step.
            while (static_cast<size_t>(parent_[root]) != root) {
                root = static_cast<size_t>(parent_[root]);
            }
            for (size_t at = static_cast<size_t>(p); at != root;) {
                const size_t next = static_cast<size_t>(parent_[at]);
                parent_[at] = static_cast<Index>(root);
                at = next;
            }
        }
        return static_cast<int>(root);
    }

    // The parents and the roots' ranks themselves, for setting many at once.
    Index* Parents() { return parent_.data(); }
    uint8_t* Ranks() { return rank_.data(); }

    // What a marked root of rank 0 holds as its rank.
    static constexpr uint8_t kMarkedRank = kMark;

    // Whether root `root` carries the mark.
    bool IsMarked(int root) const { return (rank_[static_cast<size_t>(root)] & kMark) != 0; }

    // Links two distinct roots, below the marked one if only one is; returns the
    // new root.
    int Link(int a, int b) {
        // Which one wins is a coin toss; picked by masks, it costs no mispredicted
        // branch (the compiler turns a select into one).
        const int bWins =
            -static_cast<int>(rank_[static_cast<size_t>(a)] < rank_[static_cast<size_t>(b)]);
        const int root = (b & bWins) | (a & ~bWins);
        LinkBelow(a ^ b ^ root, root);
        return root;
    }

    // Links root `child` below root `root`, whatever their ranks; the root keeps
    // its mark.
    void LinkBelow(int child, int root) {
        const int rankChild = rank_[static_cast<size_t>(child)] & (kMark - 1);
        const int heldRoot = rank_[static_cast<size_t>(root)];
        const int rank = std::max(heldRoot & (kMark - 1), rankChild + 1);
        parent_[static_cast<size_t>(child)] = static_cast<Index>(root);
        rank_[static_cast<size_t>(root)] = static_cast<uint8_t>(rank | (heldRoot & kMark));
    }

  private:
    std::vector<Index> parent_;
    std::vector<uint8_t> rank_;
};

// Pixels on the border of their tile, numbered tile by tile in raster order.
class TileBorders {
  public:
    TileBorders(int rows, int cols)
        : rows_(rows), cols_(cols), tilesX_((cols + kTileSide - 1) / kTileSide) {
        const int tilesY = (rows + kTileSide - 1) / kTileSide;
        first_.resize(static_cast<size_t>(tilesX_) * tilesY + 1, 0);
        for (int ty = 0; ty < tilesY; ++ty) {
            for (int tx = 0; tx < tilesX_; ++tx) {
                const size_t tile = static_cast<size_t>(ty) * tilesX_ + tx;
                first_[tile + 1] = first_[tile] + BorderCount(TileWidth(tx), TileHeight(ty));
            }
        }
    }

    int Count() const { return first_.back(); }

    int TileWidth(int tx) const { return std::min(kTileSide, cols_ - tx * kTileSide); }
    int TileHeight(int ty) const { return std::min(kTileSide, rows_ - ty * kTileSide); }

    // Number of the page pixel (x, y), or -1 inside its tile.
    int Id(int x, int y) const {
        const int tx = x / kTileSide;
        const int ty = y / kTileSide;
        const int local =
            BorderIndex(x - tx * kTileSide, y - ty * kTileSide, TileWidth(tx), TileHeight(ty));
        return local < 0 ? -1 : FirstId(tx, ty) + local;
    }

    // Number of the first border pixel of tile (tx, ty).
    int FirstId(int tx, int ty) const { return first_[static_cast<size_t>(ty) * tilesX_ + tx]; }

    // Place of the pixel (x, y) among the border pixels of a tile of this size, or
    // -1 inside it.
    static int BorderIndex(int x, int y, int width, int height) {
        if (y == 0) {
            return x;
        }
        if (y == height - 1) {
            return width + (height - 2) * Middle(width) + x;
        }
        if (x == 0) {
            return width + (y - 1) * Middle(width);
        }
        if (x == width - 1) {
            return width + (y - 1) * Middle(width) + 1;
        }
        return -1;
    }

  private:
    static int Middle(int width) { return std::min(width, 2); }

    static int BorderCount(int width, int height) {
        return height == 1 ? width : 2 * width + (height - 2) * Middle(width);
    }

    int rows_;
    int cols_;
    int tilesX_;
    std::vector<int> first_;
};

// Joins of two border-reaching components, to be replayed over the border pixels.
using BorderJoins = std::vector<std::vector<std::pair<int, int>>>;

// The level sweep inside one tile. Joins that certainly merge are counted in
// `merges`; the others go to `borderJoins` by level.
//
// Which neighbours a pixel finds present when it joins is local: in the sweep's
// order (value descending, then raster order within the tile) they are the
// neighbours of larger value and those of equal value before it in raster order.
// So one raster pass sees every pixel's neighbour groups. A pixel inside the tile
// with a single group only hangs below that group, and one with none starts a
// component; neither needs the union-find's roots, so the pass settles both at
// once. Only the pixels that join two or more groups, and the border pixels that
// touch one, are swept in value order; their roots are reached through parents
// that all point earlier in that order, so the forest they see is the one a full
// sweep would have built.
//
// A component that reaches the border keeps a border pixel as its root (every
// border pixel starts as a marked root, and a link keeps the marked side's root),
// so the root's mark alone tells whether a join must wait for the replay over the
// border pixels; the mark sits with the root's rank, which the link reads anyway.
class TileSweep {
    // Offsets of the eight neighbours in the framed tile, in ring order.
    static constexpr int kStride = kTileSide + 2;
    static constexpr std::array<int, 8> kRing = {-kStride, -kStride + 1, 1,  kStride + 1,
                                                 kStride,  kStride - 1,  -1, -kStride - 1};
    static constexpr size_t kFramedSize = static_cast<size_t>(kStride) * kStride;

    // A pixel to sweep: its place in the framed tile, with kOnBorder added for a
    // border pixel, its pattern of present neighbours and its value.
    struct ListedPixel {
        uint16_t at;
        uint8_t pattern;
        uint8_t value;
    };
    static_assert(kFramedSize <= 1 << 15, "framed tile places fit the forest's 16 bits");
    static constexpr int kOnBorder = 1 << 15;
    using Forest = DisjointSets<uint16_t>;

  public:
    TileSweep() : groups_(BuildNeighbourGroupTable()) {
        values_.resize(kFramedSize);
        borderIndex_.resize(kFramedSize);
        sets_.Reset(kFramedSize);
        patterns_.resize(kTileSide);
        keys_.resize(kTileSide);
        listing_.resize(kTileSide);
        // Room for every pixel of the tile, so that listing never allocates.
        listed_.resize(kFramedSize);
        order_.resize(kFramedSize);
    }

    // Also adds the tile's pixels to `histogram` by value.
    void Run(const cv::Mat& gradMap, const TileBorders& borders, int tx, int ty,
             LevelCounts& histogram, LevelCounts& merges, BorderJoins& borderJoins) {
        const int width = borders.TileWidth(tx);
        const int height = borders.TileHeight(ty);
        FrameTile(gradMap, tx * kTileSide, ty * kTileSide, width, height);
        MarkBorder(width, height);
        // Pixels by value and kind, one count per pixel. Runs of equal keys are
        // common (flat paper), so two copies of the counts take turns.
        std::array<std::array<int, kLevels * 4>, 2> kinds{};
        size_t listedSize = 0;
        for (int y = 1; y <= height; ++y) {
            ClassifyRow(y, width);
            const int row = y * kStride;
            if (y == 1 || y == height) {
                for (int x = 0; x < width; ++x) {
                    SettleOnBorder(y, x);
                }
            } else {
                SettleOnBorder(y, 0);
                SettleOnBorder(y, width - 1);
            }
            const uint16_t* keys = keys_.data();
            int x = 0;
            for (; x + 4 <= width; x += 4) {
                ++kinds[0][keys[x]];
                ++kinds[1][keys[x + 1]];
                ++kinds[0][keys[x + 2]];
                ++kinds[1][keys[x + 3]];
            }
            for (; x < width; ++x) {
                ++kinds[0][keys[x]];
            }
            // Listing is close to random, so the listed pixels are found from bit
            // masks rather than by a branch per pixel.
            const bool borderRow = y == 1 || y == height;
            for (int x0 = 0; x0 < width; x0 += 64) {
                for (uint64_t bits = NonZeroBits(listing_.data() + x0, std::min(64, width - x0));
                     bits != 0; bits &= bits - 1) {
                    const int x = x0 + __builtin_ctzll(bits);
                    const bool onBorder = borderRow || x == 0 || x == width - 1;
                    const size_t at = static_cast<size_t>(row + 1 + x);
                    listed_[listedSize++] =
                        ListedPixel{static_cast<uint16_t>(at | (onBorder ? kOnBorder : 0)),
                                    patterns_[static_cast<size_t>(x)], values_[at]};
                }
            }
        }
        std::array<int, kLevels> listedCount{};
        for (size_t value = 0; value < kLevels; ++value) {
            std::array<int, 4> byKind{};
            for (size_t kind = 0; kind < 4; ++kind) {
                byKind[kind] = kinds[0][value << 2 | kind] + kinds[1][value << 2 | kind];
            }
            histogram[value] +=
                byKind[kStarts] + byKind[kAttaches] + byKind[kJoins] + byKind[kBorder];
            if (value > 0) {
                merges[value - 1] += byKind[kAttaches] + byKind[kJoins];
            }
            listedCount[value] = byKind[kJoins] + byKind[kBorder];
        }
        SortListed(listedSize, listedCount);
        const int firstId = borders.FirstId(tx, ty);
        for (size_t i = 0; i < listedSize; ++i) {
            const ListedPixel& pixel = order_[i];
            const int p = pixel.at & ~kOnBorder;
            const NeighbourGroups& groups = groups_[pixel.pattern];
            const auto neighbour = [&](int g) {
                return p + kRing[static_cast<size_t>(groups.first[g])];
            };
            // An inner pixel already hangs below its first group. A border pixel is
            // still a root: only pixels after it in the sweep join it.
            const bool inner = (pixel.at & kOnBorder) == 0;
            int root = inner ? sets_.FindNear(neighbour(0)) : p;
            for (int g = inner ? 1 : 0; g < groups.count; ++g) {
                root = Join(root, neighbour(g), pixel.value - 1, firstId, merges, borderJoins);
            }
            if (inner) {
                sets_.Parents()[p] = static_cast<uint16_t>(root);  // later finds through p
            }
        }
    }

  private:
    // The tile with a frame of zeros, which no pixel above a level ever joins.
    void FrameTile(const cv::Mat& gradMap, int x0, int y0, int width, int height) {
        if (width < kTileSide || height < kTileSide) {
            std::fill(values_.begin(), values_.end(), uint8_t{0});
        } else {
            std::fill_n(values_.begin(), kStride, uint8_t{0});
            std::fill_n(values_.end() - kStride, kStride, uint8_t{0});
        }
        for (int y = 0; y < height; ++y) {
            uint8_t* row = values_.data() + static_cast<size_t>(y + 1) * kStride;
            const uint8_t* source = gradMap.ptr<uint8_t>(y0 + y) + x0;
            row[0] = 0;
            // A copy of known length is a few vector moves; one of any length is
            // a string instruction that takes long to start, once per row.
            if (width == kTileSide) {
                std::memcpy(row + 1, source, kTileSide);
            } else {
                std::memcpy(row + 1, source, static_cast<size_t>(width));
            }
            row[width + 1] = 0;
        }
    }

    // The border places of a tile of this size, the only places read; most tiles
    // share the size of the one before.
    void MarkBorder(int width, int height) {
        if (width == markedWidth_ && height == markedHeight_) {
            return;
        }
        markedWidth_ = width;
        markedHeight_ = height;
        const auto mark = [&](int x, int y) {
            borderIndex_[static_cast<size_t>((y + 1) * kStride + x + 1)] =
                static_cast<int16_t>(TileBorders::BorderIndex(x, y, width, height));
        };
        for (int x = 0; x < width; ++x) {
            mark(x, 0);
            mark(x, height - 1);
        }
        for (int y = 1; y + 1 < height; ++y) {
            mark(0, y);
            mark(width - 1, y);
        }
    }

    // What the raster pass does with each pixel of framed row y, taken as if
    // inside the tile (SettleOnBorder then mends the border pixels): its parent in
    // the forest, its count key (value << 2 | kind), whether it is listed, and its
    // pattern of present neighbours as bits in the group table's order: NW, N, NE,
    // W before it in raster order count from its own value up, E, SW, S, SE only
    // above it; none for a pixel of value 0, which never joins.
    //
    // Sixteen pixels a step, without the group table: sides next to each other
    // around the pixel touch, and a corner touches the sides beside it, so the
    // groups are the runs of present sides around the ring and the corners with
    // neither side beside them. The parent is the present neighbour first in the
    // preferred order, which lies in the table's first group. The steps run past the tile's
    // last column into the frame and the next row, which are written again before
    // they are read, or never read.
    void ClassifyRow(int y, int width) {
        const uint8_t* up = values_.data() + static_cast<size_t>(y - 1) * kStride + 1;
        const uint8_t* mid = up + kStride;
        const uint8_t* down = mid + kStride;
        const int first = y * kStride + 1;
        // The SIMD steps work on the parents as signed lanes, which hold the same bits.
        int16_t* parents = reinterpret_cast<int16_t*>(sets_.Parents()) + first;
        uint8_t* ranks = sets_.Ranks() + first;
        // Values are compared as signed bytes, offset by 128: SSE2 compares no others.
        const cv::v_uint8x16 offset = cv::v_setall_u8(0x80);
        const cv::v_int16x8 lanes(0, 1, 2, 3, 4, 5, 6, 7);
        for (int x = 0; x < width; x += cv::v_uint8x16::nlanes) {
            const auto load = [x, &offset](const uint8_t* row) {
                return cv::v_reinterpret_as_s8(cv::v_load(row + x) ^ offset);
            };
            const cv::v_int8x16 v = load(mid);
            const auto present = [](const cv::v_int8x16& mask) {
                return cv::v_reinterpret_as_u8(mask);
            };
            // Neighbours before the pixel are present from its value up, the others
            // above it. A pixel of value 0 (on is clear) has none.
            const cv::v_uint8x16 on = present(v > cv::v_setall_s8(-128));
            const cv::v_uint8x16 nw = ~present(v > load(up - 1));
            const cv::v_uint8x16 n = ~present(v > load(up));
            const cv::v_uint8x16 ne = ~present(v > load(up + 1));
            const cv::v_uint8x16 w = ~present(v > load(mid - 1));
            const cv::v_uint8x16 e = present(load(mid + 1) > v);
            const cv::v_uint8x16 sw = present(load(down - 1) > v);
            const cv::v_uint8x16 s = present(load(down) > v);
            const cv::v_uint8x16 se = present(load(down + 1) > v);
            const auto bit = [](const cv::v_uint8x16& mask, int b) {
                return mask & cv::v_setall_u8(static_cast<uint8_t>(1 << b));
            };
            cv::v_store(patterns_.data() + x,
                        on & (bit(nw, 0) | bit(n, 1) | bit(ne, 2) | bit(w, 3) | bit(e, 4) |
                              bit(sw, 5) | bit(s, 6) | bit(se, 7)));
            // Each group adds one, as a mask of all ones is -1.
            cv::v_uint8x16 groups = cv::v_setzero_u8();
            for (const cv::v_uint8x16& start :
                 {n & ~e, e & ~s, s & ~w, w & ~n, n & e & s & w, ne & ~(n | e), se & ~(e | s),
                  sw & ~(s | w), nw & ~(w | n)}) {
                groups = cv::v_sub_wrap(groups, start);
            }
            groups &= on;
            const cv::v_uint8x16 kind = cv::v_min(groups, cv::v_setall_u8(2));
            cv::v_store(listing_.data() + x, groups > cv::v_setall_u8(1));
            // The first present neighbour in the order N, NE, NW, E, SE, S, SW, W.
            const cv::v_uint8x16 noneAbove = ~(n | ne | nw);
            const cv::v_uint8x16 atNE = ne & ~n;
            const cv::v_uint8x16 atNW = nw & ~(n | ne);
            const cv::v_uint8x16 atE = noneAbove & e;
            const cv::v_uint8x16 noneE = noneAbove & ~e;
            const cv::v_uint8x16 atSE = noneE & se;
            const cv::v_uint8x16 noneSE = noneE & ~se;
            const cv::v_uint8x16 atS = noneSE & s;
            const cv::v_uint8x16 atSW = noneSE & ~s & sw;
            const cv::v_uint8x16 atW = noneSE & ~(s | sw) & w;
            // Masks are -1 as signed bytes, so up less down is the row step.
            const cv::v_int8x16 dy = cv::v_sub_wrap(cv::v_reinterpret_as_s8(~noneAbove),
                                                    cv::v_reinterpret_as_s8(atSE | atS | atSW));
            const cv::v_int8x16 dx = cv::v_sub_wrap(cv::v_reinterpret_as_s8(atSW | atW | atNW),
                                                    cv::v_reinterpret_as_s8(atNE | atE | atSE));
            cv::v_int16x8 dyLow, dyHigh, dxLow, dxHigh, rootLow, rootHigh;
            cv::v_expand(dy, dyLow, dyHigh);
            cv::v_expand(dx, dxLow, dxHigh);
            // A root is its own parent, of rank 0.
            cv::v_expand(cv::v_reinterpret_as_s8(groups == cv::v_setzero_u8()), rootLow, rootHigh);
            const cv::v_int16x8 stride = cv::v_setall_s16(kStride);
            const cv::v_int16x8 at = lanes + cv::v_setall_s16(static_cast<int16_t>(first + x));
            cv::v_store(parents + x,
                        ParentAbove(parents + x - kStride, dyLow, dxLow,
                                    at + ((cv::v_mul_wrap(dyLow, stride) + dxLow) & ~rootLow)));
            cv::v_store(parents + x + 8,
                        ParentAbove(parents + x + 8 - kStride, dyHigh, dxHigh,
                                    at + cv::v_setall_s16(8) +
                                        ((cv::v_mul_wrap(dyHigh, stride) + dxHigh) & ~rootHigh)));
            cv::v_store(ranks + x, cv::v_setzero_u8());
            cv::v_uint16x8 valueLow, valueHigh, kindLow, kindHigh;
            cv::v_expand(cv::v_load(mid + x), valueLow, valueHigh);
            cv::v_expand(kind, kindLow, kindHigh);
            cv::v_store(keys_.data() + x, cv::v_shl<2>(valueLow) | kindLow);
            cv::v_store(keys_.data() + x + 8, cv::v_shl<2>(valueHigh) | kindHigh);
        }
    }

    // The parents of eight pixels whose first present neighbour lies at (dx, dy):
    // a neighbour in the row above that is not a root passes on its own parent,
    // which is in the same component by then and earlier in the sweep. The pixels
    // down a column of a flat area then all hang from its top one instead of each
    // from the one above, which a find would walk step by step. `above` holds the
    // parents of the row above from the first pixel's column, final by now.
    static cv::v_int16x8 ParentAbove(const int16_t* above, const cv::v_int16x8& dy,
                                     const cv::v_int16x8& dx, const cv::v_int16x8& parent) {
        const cv::v_int16x8 zero = cv::v_setzero_s16();
        const cv::v_int16x8 up =
            cv::v_select(dx < zero, cv::v_load(above - 1),
                         cv::v_select(dx == zero, cv::v_load(above), cv::v_load(above + 1)));
        // `parent` is the neighbour itself here, a root when it is its own parent.
        return cv::v_select((dy < zero) & (up != parent), up, parent);
    }

    // A border pixel of the current row stays a root; with some group present the
    // value-ordered sweep joins it to all of them.
    void SettleOnBorder(int y, int x) {
        const size_t at = static_cast<size_t>(x);
        const int kind = patterns_[at] != 0 ? kBorder : kStarts;
        keys_[at] = static_cast<uint16_t>((keys_[at] & ~3) | kind);
        listing_[at] = static_cast<uint8_t>(-(kind >> 1));
        const size_t place = static_cast<size_t>(y * kStride + 1 + x);
        sets_.Parents()[place] = static_cast<uint16_t>(place);
        sets_.Ranks()[place] = Forest::kMarkedRank;
    }

    // The first `size` listed pixels by value descending, in raster order within a
    // value, into order_.
    void SortListed(size_t size, const std::array<int, kLevels>& listedCount) {
        std::array<int, kLevels> next{};
        int start = 0;
        for (int value = kLevels - 1; value >= 0; --value) {
            next[static_cast<size_t>(value)] = start;
            start += listedCount[static_cast<size_t>(value)];
        }
        for (size_t i = 0; i < size; ++i) {
            const ListedPixel& pixel = listed_[i];
            order_[static_cast<size_t>(next[pixel.value]++)] = pixel;
        }
    }

    // Joins the component of root `a` with that of pixel q at `level`; returns the
    // root of the union.
    int Join(int a, int q, int level, int firstId, LevelCounts& merges, BorderJoins& borderJoins) {
        const int b = sets_.FindNear(q);
        if (a == b) {
            return a;
        }
        if (sets_.IsMarked(a) && sets_.IsMarked(b)) {
            borderJoins[static_cast<size_t>(level)].emplace_back(
                firstId + borderIndex_[static_cast<size_t>(a)],
                firstId + borderIndex_[static_cast<size_t>(b)]);
        } else {
            ++merges[static_cast<size_t>(level)];
        }
        return sets_.Link(a, b);
    }

    NeighbourGroupTable groups_;
    std::vector<uint8_t> values_;       // framed tile; the frame stays zero
    std::vector<int16_t> borderIndex_;  // place among the tile's border pixels, there only
    int markedWidth_ = 0;
    int markedHeight_ = 0;
    Forest sets_;  // border pixels are its marked roots
    // Of the current row: patterns, count keys (value << 2 | kind), 0xFF where listed.
    std::vector<uint8_t> patterns_;
    std::vector<uint16_t> keys_;
    std::vector<uint8_t> listing_;
    std::vector<ListedPixel> listed_;  // pixels to sweep, in raster order
    std::vector<ListedPixel> order_;   // the same by value, descending
};

// Calls onEdge(level, x, y, nx, ny) for the edges between 8-neighbours in
// different tiles from the pixels of rows [rows.top, rows.bottom), with the level
// at which both ends are above it, when there is one. Such edges leave a tile's
// last row downwards, and cross the seams between tile columns.
template <typename OnEdge>
void ForEachTileEdge(const cv::Mat& gradMap, RowBand rows, const OnEdge& onEdge) {
    const int cols = gradMap.cols;
    const auto edge = [&onEdge](const uint8_t* row, const uint8_t* nextRow, int x, int y, int nx,
                                int ny) {
        const int low = std::min(row[x], nextRow[nx]);
        if (low > 0) {
            onEdge(low - 1, x, y, nx, ny);
        }
    };
    for (int y = rows.top; y < rows.bottom; ++y) {
        const uint8_t* row = gradMap.ptr<uint8_t>(y);
        const bool hasBelow = y + 1 < gradMap.rows;
        const uint8_t* below = hasBelow ? gradMap.ptr<uint8_t>(y + 1) : nullptr;
        if (hasBelow && y % kTileSide == kTileSide - 1) {
            for (int x = 0; x < cols; ++x) {
                if (x > 0) {
                    edge(row, below, x, y, x - 1, y + 1);
                }
                edge(row, below, x, y, x, y + 1);
                if (x + 1 < cols) {
                    edge(row, below, x, y, x + 1, y + 1);
                }
            }
        }
        for (int seam = kTileSide; seam < cols; seam += kTileSide) {
            edge(row, row, seam - 1, y, seam, y);
            // The diagonals across the seam, unless the row below's were counted
            // with the tile's last row.
            if (hasBelow && y % kTileSide != kTileSide - 1) {
                edge(row, below, seam - 1, y, seam, y + 1);
                edge(row, below, seam, y, seam - 1, y + 1);
            }
        }
    }
}

// The edges between tiles from the pixels of `rows`, as joins by level. They are
// listed first and then sorted by level, so that each level's list grows once:
// 256 lists that grow a little at a time spend their time copying and in fresh
// pages.
void CollectTileEdges(const cv::Mat& gradMap, const TileBorders& borders, RowBand rows,
                      BorderJoins& borderJoins) {
    struct TileEdge {
        int level;
        int from;
        int to;
    };
    std::vector<TileEdge> edges;
    std::array<size_t, kLevels> added{};
    ForEachTileEdge(gradMap, rows, [&](int level, int x, int y, int nx, int ny) {
        ++added[static_cast<size_t>(level)];
        edges.push_back({level, borders.Id(x, y), borders.Id(nx, ny)});
    });
    for (size_t level = 0; level < kLevels; ++level) {
        std::vector<std::pair<int, int>>& joins = borderJoins[level];
        const size_t needed = joins.size() + added[level];
        if (needed > joins.capacity()) {
            joins.reserve(std::max(needed, 2 * joins.capacity()));
        }
    }
    for (const TileEdge& edge : edges) {
        borderJoins[static_cast<size_t>(edge.level)].emplace_back(edge.from, edge.to);
    }
}

// Joins that merge two components within tiles, by level, and the histogram of the
// map; returns the joins across tiles, for ReplayBorderJoins. The tiles are swept by
// bands of tile rows, each band with its own counts and joins, and the edges leaving
// its rows.
std::vector<BorderJoins> CountTileMerges(const cv::Mat& gradMap, const TileBorders& borders,
                                         int threads, LevelCounts& histogram, LevelCounts& merges) {
    const int tileRows = (gradMap.rows + kTileSide - 1) / kTileSide;
    const size_t bands = static_cast<size_t>(BandCount(tileRows, threads));
    std::vector<LevelCounts> bandHistograms(bands);
    std::vector<LevelCounts> bandMerges(bands);
    std::vector<BorderJoins> bandJoins(bands, BorderJoins(kLevels));
    ForEachBand(tileRows, threads, [&](RowBand band, int index) {
        const size_t at = static_cast<size_t>(index);
        bandHistograms[at].fill(0);
        bandMerges[at].fill(0);
        TileSweep sweep;
        for (int ty = band.top; ty < band.bottom; ++ty) {
            for (int tx = 0; tx * kTileSide < gradMap.cols; ++tx) {
                sweep.Run(gradMap, borders, tx, ty, bandHistograms[at], bandMerges[at],
                          bandJoins[at]);
            }
            // Right after its tiles, while their seam pixels are still in the cache.
            const RowBand pageRows{ty * kTileSide, std::min((ty + 1) * kTileSide, gradMap.rows)};
            CollectTileEdges(gradMap, borders, pageRows, bandJoins[at]);
        }
    });
    for (size_t band = 0; band < bands; ++band) {
        for (size_t level = 0; level < merges.size(); ++level) {
            histogram[level] += bandHistograms[band][level];
            merges[level] += bandMerges[band][level];
        }
    }
    return bandJoins;
}

// Adds to `merges` the joins across tiles that merge two components. How many of a
// level's joins merge does not depend on their order (the components after the level
// are the same), so the bands' joins are replayed one band after the other.
void ReplayBorderJoins(const std::vector<BorderJoins>& bandJoins, const TileBorders& borders,
                       LevelCounts& merges) {
    DisjointSets<int> sets;
    sets.Reset(static_cast<size_t>(borders.Count()));
    for (int level = kLevels - 1; level >= 0; --level) {
        for (const BorderJoins& joins : bandJoins) {
            for (const auto& [p, q] : joins[static_cast<size_t>(level)]) {
                const int a = sets.Find(p);
                const int b = sets.Find(q);
                if (a != b) {
                    sets.Link(a, b);
                    ++merges[static_cast<size_t>(level)];
                }
            }
        }
    }
}

}  // namespace

void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve, int threads) {
    CV_Assert(gradMap.type() == CV_8UC1);
    contourCurve.fill(0.0);
    if (gradMap.empty()) {
        return;
    }
    LevelCounts histogram{};
    LevelCounts merges{};
    const TileBorders borders(gradMap.rows, gradMap.cols);
    const std::vector<BorderJoins> bandJoins =
        CountTileMerges(gradMap, borders, threads, histogram, merges);
    // The joins across tiles are replayed on one thread while the others count the
    // local terms, which read only the map.
    LevelCounts specks{};
    LevelCounts outline{};
    CountLocalTerms(
        gradMap, threads, [&] { ReplayBorderJoins(bandJoins, borders, merges); }, specks, outline);

    // Components at each level: pixels above it less the merges at or above it.
    std::array<long long, kLevels> components{};
    long long pixelsAbove = 0;
    long long mergesAbove = 0;
    for (int level = kLevels - 1; level >= 0; --level) {
        pixelsAbove += histogram[static_cast<size_t>(level) + 1];
        mergesAbove += merges[static_cast<size_t>(level)];
        components[static_cast<size_t>(level)] = pixelsAbove - mergesAbove;
    }
    long long speckCount = 0;
    long long outlineCount = 0;
    for (int level = 0; level < kLevels; ++level) {
        speckCount += specks[static_cast<size_t>(level)];
        outlineCount += outline[static_cast<size_t>(level)];
        const long long kept = components[static_cast<size_t>(level)] - speckCount;
        contourCurve[static_cast<size_t>(level)] =
            kept > 0 ? static_cast<double>(outlineCount) / static_cast<double>(kept) : 0.0;
    }
}

}  // namespace edgebin::detail
