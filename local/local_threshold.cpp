// Preconditions: `edgeMaskCopy`, `gray` and `restoredMap` are CV_8UC1 of one
// size and `rowStrokeWidths` has an entry for every row. When the widths run
// short (or the sizes disagree) nothing can be sized safely: MaskedWindowStats
// leaves both maps zero and VoteLocalThreshold returns an all-paper `dst`.
//
// The voting reads each voter's statistics from exact integer window sums (count,
// sum and sum of squares of the voters' grey values) kept per column as the
// windows slide down the page, so a voter costs O(1) instead of two passes over
// its window. The mean is then the very double of a two-pass computation (an
// exact integer sum divided by the count); the deviation may differ from the
// two-pass one in its last bits, which can only change the rounded threshold when
// mean + k * deviation lies within a hair of a half. Such voters are recomputed
// with the two-pass sums, so every threshold is the one the definition gives.
// VoteLocalThreshold therefore takes its statistics from these sums rather than
// from MaskedWindowStats' maps, which it would only read back; MaskedWindowStats
// itself still fills its maps with the two-pass values.
//
// The votes of one row of voters are laid out once for all the rows they reach
// and summed per block of sixteen columns; 16-bit counters serve wherever no pixel
// can receive more than 32767 votes.
#include "local/local_threshold.h"
#include "common/parallel_bands.h"
#include "local/row_scan.h"
#include "local/voter_window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <opencv2/core/hal/intrin.hpp>
#include <type_traits>

namespace edgebin::detail {

namespace {

// Relative distance from a half below which the fast threshold is recomputed. The
// two deviations differ by far less: the two-pass sum of n squares carries a
// relative error of about n * 2^-53 (below 2^-22 for any page that fits in memory).
constexpr double kHalfTolerance = 1e-6;

// Thresholds beyond this are recomputed too, so that the rounding of values far
// outside the grey range behaves exactly as in the two-pass computation.
constexpr double kLargeThreshold = 1 << 30;

// A square sum over this many voters still fits 32 bits (66051 * 255^2 < 2^32),
// so pages whose statistics windows hold no more pixels keep 32-bit sums.
constexpr std::int64_t kMaxPixelsForNarrowSums = 66051;

// Columns of the voters, row by row (compressed rows: the voters of row y are
// columns[rowStart[y]] .. columns[rowStart[y + 1] - 1], left to right).
struct VoterColumns {
    std::vector<int> columns;
    std::vector<size_t> rowStart;
};

void CollectVoterColumns(const cv::Mat& edgeMaskCopy, VoterColumns& voters) {
    voters.columns.clear();
    voters.rowStart.assign(static_cast<size_t>(edgeMaskCopy.rows) + 1, 0);
    for (int y = 0; y < edgeMaskCopy.rows; ++y) {
        const unsigned char* voter = edgeMaskCopy.ptr<unsigned char>(y);
        for (int x = 0; x < edgeMaskCopy.cols; ++x) {
            if (voter[x] != 0) {
                voters.columns.push_back(x);
            }
        }
        voters.rowStart[static_cast<size_t>(y) + 1] = voters.columns.size();
    }
}

// The two-pass statistics of every voter of one row, visiting only the voters of
// each window (in raster order, so with the same rounding steps as a scan of the
// whole window). Windows of one row slide right, so per window row two cursors
// mark the voters inside and only ever move forward.
class RowTwoPassStats {
  public:
    RowTwoPassStats(const VoterColumns& voters, const cv::Mat& gray)
        : voters_(voters), gray_(gray) {}

    void StartRow(int y0, int y1) {
        y0_ = y0;
        y1_ = y1;
        const size_t height = y1 >= y0 ? static_cast<size_t>(y1 - y0 + 1) : 0;
        begin_.resize(height);
        end_.resize(height);
        for (size_t i = 0; i < height; ++i) {
            begin_[i] = end_[i] = voters_.rowStart[static_cast<size_t>(y0) + i];
        }
    }

    // Windows must come in increasing x0 and x1 within a row.
    void Stats(int x0, int x1, double& mean, double& deviation) {
        int n = 0;
        double sum = 0.0;
        for (int y = y0_; y <= y1_; ++y) {
            const size_t i = static_cast<size_t>(y - y0_);
            const size_t rowEnd = voters_.rowStart[static_cast<size_t>(y) + 1];
            while (begin_[i] < rowEnd && voters_.columns[begin_[i]] < x0) {
                ++begin_[i];
            }
            end_[i] = std::max(end_[i], begin_[i]);
            while (end_[i] < rowEnd && voters_.columns[end_[i]] <= x1) {
                ++end_[i];
            }
            const unsigned char* grey = gray_.ptr<unsigned char>(y);
            for (size_t v = begin_[i]; v < end_[i]; ++v) {
                ++n;
                sum += grey[voters_.columns[v]];
            }
        }
        mean = n > 0 ? sum / n : 0.0;
        double squares = 0.0;
        for (int y = y0_; y <= y1_; ++y) {
            const size_t i = static_cast<size_t>(y - y0_);
            const unsigned char* grey = gray_.ptr<unsigned char>(y);
            for (size_t v = begin_[i]; v < end_[i]; ++v) {
                const double d = grey[voters_.columns[v]] - mean;
                squares += d * d;
            }
        }
        deviation = n > 0 ? std::sqrt(squares / n) : 0.0;
    }

  private:
    const VoterColumns& voters_;
    const cv::Mat& gray_;
    int y0_ = 0;
    int y1_ = -1;
    std::vector<size_t> begin_;
    std::vector<size_t> end_;
};

// Count, grey sum and grey square sum of the voters of one window.
struct WindowSums {
    std::int64_t count;
    std::int64_t sum;
    std::int64_t squares;
};

// Prefix sums out[0] = 0, out[i + 1] = out[i] + in[i] for i < n, wrapping.
template <typename Column>
void WrappingPrefix(const Column* in, size_t n, Column* out) {
    out[0] = 0;
    size_t i = 0;
#if CV_SIMD128
    // Four 32-bit sums at a time: the one sequential chain of additions the
    // compiler leaves scalar.
    if constexpr (std::is_same_v<Column, std::uint32_t>) {
        cv::v_uint32x4 carry = cv::v_setzero_u32();
        for (; i + 4 <= n; i += 4) {
            cv::v_uint32x4 sums = cv::v_load(in + i);
            sums += cv::v_rotate_left<1>(sums);
            sums += cv::v_rotate_left<2>(sums);
            sums += carry;
            cv::v_store(out + i + 1, sums);
            carry = cv::v_broadcast_element<3>(sums);
        }
    }
#endif
    for (; i < n; ++i) {
        out[i + 1] = static_cast<Column>(out[i] + in[i]);
    }
}

// Per-column sums of the voters over a range of rows that follows the windows
// down the page, with prefix sums along the current row for O(1) window sums.
// Both wrap in `Column`, which must hold the square sum of the largest window
// (so the difference of two prefixes is exact): 32 bits are enough for windows
// of up to 66051 pixels.
template <typename Column>
class VoterColumnSums {
  public:
    VoterColumnSums(const cv::Mat& edgeMaskCopy, const cv::Mat& gray)
        : edgeMaskCopy_(edgeMaskCopy),
          gray_(gray),
          count_(static_cast<size_t>(gray.cols), 0),
          sum_(static_cast<size_t>(gray.cols), 0),
          squares_(static_cast<size_t>(gray.cols), 0),
          countPrefix_(static_cast<size_t>(gray.cols) + 1, 0),
          sumPrefix_(static_cast<size_t>(gray.cols) + 1, 0),
          squaresPrefix_(static_cast<size_t>(gray.cols) + 1, 0) {}

    // Makes the column sums cover rows top..bottom (none when top > bottom) and
    // refreshes the prefixes over columns from..to, which every window summed
    // before the next call must lie within.
    void Cover(int top, int bottom, int from, int to) {
        if (top > bottom) {
            top = 0;
            bottom = -1;
        }
        const long long moves = std::llabs(static_cast<long long>(top) - top_) +
                                std::llabs(static_cast<long long>(bottom) - bottom_);
        if (bottom_ < top_ || bottom < top_ || top > bottom_ || moves > bottom - top + 1) {
            Reset();
            top_ = top;
            bottom_ = top - 1;
        }
        while (bottom_ < bottom) {
            AddRow<true>(++bottom_);
        }
        while (top_ > top) {
            AddRow<true>(--top_);
        }
        while (bottom_ > bottom) {
            AddRow<false>(bottom_--);
        }
        while (top_ < top) {
            AddRow<false>(top_++);
        }
        BuildPrefixes(from, to);
    }

    // Sums over columns x0..x1 of the covered rows; zero for an empty range. The
    // prefixes start from zero at the first column they cover, which cancels out.
    WindowSums Sum(int x0, int x1) const {
        if (x0 > x1) {
            return WindowSums{0, 0, 0};
        }
        const size_t a = static_cast<size_t>(x0);
        const size_t b = static_cast<size_t>(x1) + 1;
        return WindowSums{
            static_cast<std::int64_t>(static_cast<Column>(countPrefix_[b] - countPrefix_[a])),
            static_cast<std::int64_t>(static_cast<Column>(sumPrefix_[b] - sumPrefix_[a])),
            static_cast<std::int64_t>(static_cast<Column>(squaresPrefix_[b] - squaresPrefix_[a]))};
    }

  private:
    void Reset() {
        std::fill(count_.begin(), count_.end(), Column{0});
        std::fill(sum_.begin(), sum_.end(), Column{0});
        std::fill(squares_.begin(), squares_.end(), Column{0});
    }

    // Unsigned wrap-around makes removing a row exact as well.
    template <bool kAdd>
    void AddRow(int y) {
        const unsigned char* voter = edgeMaskCopy_.ptr<unsigned char>(y);
        const unsigned char* grey = gray_.ptr<unsigned char>(y);
        const int cols = gray_.cols;
        Column* count = count_.data();
        Column* sum = sum_.data();
        Column* squares = squares_.data();
        // Only the columns from the row's first voter to its last change; rows
        // between lines of text often have none.
        const int first = NextNonZero(voter, 0, cols);
        const int end = first == cols ? cols : EndOfNonZero(voter, cols);
        for (int x = first; x < end; ++x) {
            const Column on = voter[x] != 0 ? 1 : 0;
            const Column value = grey[x] * on;
            if (kAdd) {
                count[x] += on;
                sum[x] += value;
                squares[x] += value * value;
            } else {
                count[x] -= on;
                sum[x] -= value;
                squares[x] -= value * value;
            }
        }
    }

    void BuildPrefixes(int from, int to) {
        if (from > to) {
            return;
        }
        const auto first = static_cast<size_t>(from);
        const auto n = static_cast<size_t>(to - from) + 1;
        WrappingPrefix(count_.data() + first, n, countPrefix_.data() + first);
        WrappingPrefix(sum_.data() + first, n, sumPrefix_.data() + first);
        WrappingPrefix(squares_.data() + first, n, squaresPrefix_.data() + first);
    }

    const cv::Mat& edgeMaskCopy_;
    const cv::Mat& gray_;
    int top_ = 0;
    int bottom_ = -1;
    std::vector<Column> count_;
    std::vector<Column> sum_;
    std::vector<Column> squares_;
    std::vector<Column> countPrefix_;
    std::vector<Column> sumPrefix_;
    std::vector<Column> squaresPrefix_;
};

// n * squares - sum^2 from exact sums: n^2 times the population variance, exact
// (in 64 bits while n * 255^2 * n fits, else in 128) and rounded only once.
double Spread(const WindowSums& sums) {
    constexpr std::int64_t kMaxCountFor64Bits = 11000000;
    if (sums.count < kMaxCountFor64Bits) {
        return static_cast<double>(sums.count * sums.squares - sums.sum * sums.sum);
    }
    return static_cast<double>(static_cast<__int128>(sums.count) * sums.squares -
                               static_cast<__int128>(sums.sum) * sums.sum);
}

// Every threshold from 256 up marks every grey value as ink, every one from 0
// down none, so only the rounding of values in between matters.
bool RoundingMatters(double value) {
    return value > -1.0 && value < 257.0;
}

// std::floor for |value| < 2^62, where truncation is exact: without SSE4.1 the
// library's floor is a call, which would cost as much as the rest of a voter.
double FloorOfModerate(double value) {
    const double truncated = static_cast<double>(static_cast<std::int64_t>(value));
    return truncated > value ? truncated - 1.0 : truncated;
}

// The threshold of one voter, from its window's exact sums. `recompute` gives the
// two-pass statistics when the fast value might round differently.
template <typename Recompute>
int VoterThreshold(const WindowSums& sums, double k, const Recompute& recompute) {
    if (sums.count == 0) {
        return cvRound(0.0 * k + 0.0);
    }
    const double spread = Spread(sums);
    // A zero spread means equal grey values, whose two-pass deviation is exactly 0;
    // so is k * deviation when k is 0. The threshold is then the mean itself, the
    // exact sum over the count as in the two-pass computation.
    if (spread <= 0.0 || k == 0.0) {
        const double mean = static_cast<double>(sums.sum) / static_cast<double>(sums.count);
        return cvRound(spread <= 0.0 ? 0.0 * k + mean : mean);
    }
    // Otherwise a few ulps do not matter (the tolerance below is far wider), so one
    // reciprocal serves both quotients.
    const double reciprocal = 1.0 / static_cast<double>(sums.count);
    const double deviation = std::sqrt(spread) * reciprocal;
    const double value = deviation * k + static_cast<double>(sums.sum) * reciprocal;
    const double tolerance = kHalfTolerance * (std::fabs(k) * (deviation + 1.0) + 1.0);
    if (!(std::fabs(value) < kLargeThreshold) ||
        (std::fabs(value - FloorOfModerate(value) - 0.5) <= tolerance && RoundingMatters(value))) {
        double exactMean = 0.0;
        double exactDeviation = 0.0;
        recompute(exactMean, exactDeviation);
        return cvRound(exactDeviation * k + exactMean);
    }
    return cvRound(value);
}

// The votes of one voter on each row of its window: columns x0..x1 and the
// threshold clamped to 0..256 (thresholds beyond that range vote alike).
struct Segment {
    int x0;
    int x1;
    int threshold;
};

// The segments of one row of voters, written in place: a row has at most one
// voter per column, so storage for every column is set aside once per page and
// no write has to check for room.
class SegmentRow {
  public:
    explicit SegmentRow(int cols) : storage_(static_cast<size_t>(std::max(cols, 0))) {}

    void Clear() { count_ = 0; }
    void Add(const Segment& segment) { storage_[count_++] = segment; }

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const Segment* begin() const { return storage_.data(); }
    const Segment* end() const { return storage_.data() + count_; }
    const Segment& operator[](size_t i) const { return storage_[i]; }

  private:
    std::vector<Segment> storage_;
    size_t count_ = 0;
};

// Adds the votes of `segments` to the rows y0..y1 of `balance`: -1 where
// grey < threshold (ink), +1 elsewhere.
template <typename Counter>
class RowVoter {
  public:
    void Vote(const cv::Mat& gray, const SegmentRow& segments, int y0, int y1, cv::Mat& balance) {
        for (int y = y0; y <= y1; ++y) {
            const unsigned char* grey = gray.ptr<unsigned char>(y);
            Counter* votes = balance.ptr<Counter>(y);
            for (const Segment& segment : segments) {
                for (int x = segment.x0; x <= segment.x1; ++x) {
                    votes[x] += grey[x] < segment.threshold ? -1 : 1;
                }
            }
        }
    }
};

#if CV_SIMD128
// The votes of one row of voters laid out once for all the rows they vote on, in
// blocks of sixteen columns: per block the votes every covering segment casts
// whatever the grey value (+1 each, -1 for a threshold of 256, below which every
// grey value is ink), and the thresholds t in 1..255 of the segments reaching the
// block as 127 - t in their lanes, packed into as few vectors as the block's most
// crowded column needs (127 where a vector holds none). Segments ordered by x0
// and x1 that share a column are consecutive, so a vector is free again once its
// last segment ends left of the next one's start. Against grey values g mirrored
// into signed bytes as 127 - g, one compare per block and vector then finds the
// ink (g below t), counted in bytes for up to sixteen vectors at a time and added
// twice to the votes' 16-bit counters. Columns past the last whole block are voted
// one by one.
class VotePlan {
  public:
    // Lays out `segments`, which must be ordered by x0 and by x1, as the voters
    // of one row are. The storage is kept from one row of voters to the next.
    void Lay(const SegmentRow& segments, int cols) {
        blocks_.clear();
        tail_.clear();
        // Sixteen lanes loaded from here at 16 - from are set from lane `from` on,
        // loaded at 31 - to up to lane `to`: a segment's lanes in a block without
        // a compare per lane. In one cache line, so that no load is split.
        alignas(64) static const uchar kEdges[3 * kLanes] = {
            0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
            0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0,    0,
            0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};
        const cv::v_int8x16 never = cv::v_setall_s8(127);
        const size_t n = segments.size();
        if (segmentLimits_.size() < n) {
            segmentLimits_.resize(n);
        }
        size_t limitCount = 0;
        size_t first = 0;  // segments before `first` end left of the block
        size_t last = 0;   // segments from `last` on start right of the block
        int start = 0;
        tailStart_ = cols / kLanes * kLanes;
        while (first < n) {
            if (first == last) {
                start = std::max(start, segments[first].x0 / kLanes * kLanes);
            }
            if (start >= tailStart_) {
                tail_.assign(segments.begin() + static_cast<std::ptrdiff_t>(first), segments.end());
                break;
            }
            for (; last < n && segments[last].x0 < start + kLanes; ++last) {
                const int limit = 127 - std::clamp(segments[last].threshold, 1, 255);
                segmentLimits_[last] = cv::v_setall_s8(static_cast<schar>(limit));
            }
            Block block{start, limitCount, 0, cv::v_setzero_s16(), cv::v_setzero_s16()};
            // At most one vector per segment reaching the block.
            const size_t reaching = last - first;
            if (limits_.size() < limitCount + reaching) {
                limits_.resize(std::max(2 * limits_.size(), limitCount + reaching));
                takenUntil_.resize(limits_.size());
                layerOf_.resize(limits_.size());
            }
            cv::v_int8x16* layerLimits = limits_.data() + limitCount;
            // Plain pointers, since the vector stores below may alias any memory,
            // the vectors' own pointers included, which would be reloaded after each.
            const Segment* const reachingSegments = segments.begin();
            const cv::v_int8x16* const reachingLimits = segmentLimits_.data();
            int* const takenUntil = takenUntil_.data();
            size_t* const layerOf = layerOf_.data();
            // No segment is placed yet: the first one opens a vector.
            takenUntil[0] = std::numeric_limits<int>::max();
            size_t layers = 0;
            size_t placed = 0;
            size_t oldest = 0;  // the earliest placed segment still last in its vector
            // Covering segments and those of threshold 256 counted in bytes, which
            // hold up to 255 of them: +1 each, less two for each at 256.
            for (size_t chunk = first; chunk < last; chunk += kMaxByteCount) {
                const size_t chunkEnd = std::min(last, chunk + kMaxByteCount);
                cv::v_uint8x16 covering = cv::v_setzero_u8();
                cv::v_uint8x16 allInk = cv::v_setzero_u8();
                for (size_t i = chunk; i < chunkEnd; ++i) {
                    const Segment& segment = reachingSegments[i];
                    // It reaches the block: it starts left of its end, ends right
                    // of its start, so one side of each clamp is never needed.
                    const int from = std::max(segment.x0 - start, 0);
                    const int to = std::min(segment.x1 - start, kLanes - 1);
                    const cv::v_uint8x16 inside = cv::v_load(kEdges + kLanes - from) &
                                                  cv::v_load(kEdges + 2 * kLanes - 1 - to);
                    covering = cv::v_sub_wrap(covering, inside);
                    // Thresholds 1..255 in one unsigned compare.
                    if (static_cast<unsigned>(segment.threshold - 1) < 255U) {
                        // The vector of the oldest segment still last in its own is
                        // free once that segment ends left of this one; else a fresh
                        // vector, which limits no lane yet. No branch: which of the two
                        // happens follows no pattern.
                        layerLimits[layers] = never;
                        const size_t reuse = takenUntil[oldest] < segment.x0 ? 1 : 0;
                        const size_t layer = layers + reuse * (layerOf[oldest] - layers);
                        oldest += reuse;
                        layers += 1 - reuse;
                        takenUntil[placed] = segment.x1;
                        layerOf[placed] = layer;
                        ++placed;
                        cv::v_int8x16& limit = layerLimits[layer];
                        limit =
                            cv::v_select(cv::v_reinterpret_as_s8(inside), reachingLimits[i], limit);
                    } else if (segment.threshold >= 256) {
                        allInk = cv::v_sub_wrap(allInk, inside);
                    }
                }
                cv::v_uint16x8 coveringLow;
                cv::v_uint16x8 coveringHigh;
                cv::v_uint16x8 allInkLow;
                cv::v_uint16x8 allInkHigh;
                cv::v_expand(covering, coveringLow, coveringHigh);
                cv::v_expand(allInk, allInkLow, allInkHigh);
                // Wrapping, as the sum may be negative: 16-bit `-` saturates.
                block.baseLow += cv::v_sub_wrap(cv::v_reinterpret_as_s16(coveringLow),
                                                cv::v_reinterpret_as_s16(allInkLow + allInkLow));
                block.baseHigh += cv::v_sub_wrap(cv::v_reinterpret_as_s16(coveringHigh),
                                                 cv::v_reinterpret_as_s16(allInkHigh + allInkHigh));
            }
            limitCount += layers;
            block.endLimit = limitCount;
            blocks_.push_back(block);
            start += kLanes;
            while (first < last && segments[first].x1 < start) {
                ++first;
            }
        }
    }

    // Adds the plan's votes to rows y0..y1 of `balance`. Block by block, each
    // block down all the rows: the block's limits then stay in registers for the
    // whole window instead of being reloaded row after row, and the rows' pixels
    // stay in the cache for the next block.
    void Apply(const cv::Mat& gray, int y0, int y1, cv::Mat& balance) const {
        const Rows rows{gray.ptr<unsigned char>(y0), gray.step[0], balance.ptr<std::int16_t>(y0),
                        balance.step[0] / sizeof(std::int16_t), y1 - y0 + 1};
        for (const Block& block : blocks_) {
            // The first pass adds the block's base votes too.
            cv::v_int16x8 baseLow = block.baseLow;
            cv::v_int16x8 baseHigh = block.baseHigh;
            size_t i = block.firstLimit;
            do {
                const size_t held = std::min(block.endLimit - i, kHeldLimits);
                AddVotes(i, held, block.start, baseLow, baseHigh, rows);
                baseLow = baseHigh = cv::v_setzero_s16();
                i += held;
            } while (i < block.endLimit);
        }
        for (int y = y0; y <= y1; ++y) {
            const unsigned char* grey = gray.ptr<unsigned char>(y);
            std::int16_t* votes = balance.ptr<std::int16_t>(y);
            for (const Segment& segment : tail_) {
                for (int x = std::max(segment.x0, tailStart_); x <= segment.x1; ++x) {
                    votes[x] += grey[x] < segment.threshold ? -1 : 1;
                }
            }
        }
    }

  private:
    static constexpr int kLanes = cv::v_int8x16::nlanes;
    // Segments counted in bytes at most.
    static constexpr size_t kMaxByteCount = 255;
    struct Block {
        int start;
        size_t firstLimit;
        size_t endLimit;
        cv::v_int16x8 baseLow;
        cv::v_int16x8 baseHigh;
    };
    // The window's rows of grey values and of votes.
    struct Rows {
        const unsigned char* grey;
        size_t greyStep;
        std::int16_t* votes;
        size_t voteStep;
        int count;
    };
    // Limits compared at once: on the generated pages a block holds about eleven,
    // which one pass then covers instead of two. Those that find no register are
    // read from memory by the compare itself, since the mirrored grey value, not
    // the limit, is the operand it overwrites.
    static constexpr size_t kHeldLimits = 16;

    // Adds base votes to the rows of the block at `start`, and takes two off for
    // each ink vote of limits first..first + held - 1 (paper +1, ink -1). Each count
    // up to kHeldLimits has its own instance, whose limits stay in registers where
    // they fit; the compares below are resolved at compile time into a jump per call.
    template <size_t kHeld = 0>
    void AddVotes(size_t first, size_t held, int start, const cv::v_int16x8& baseLow,
                  const cv::v_int16x8& baseHigh, const Rows& rows) const {
        if constexpr (kHeld < kHeldLimits) {
            if (held != kHeld) {
                return AddVotes<kHeld + 1>(first, held, start, baseLow, baseHigh, rows);
            }
        }
        AddHeldVotes<kHeld>(first, start, baseLow, baseHigh, rows);
    }

    template <size_t kHeld>
    void AddHeldVotes(size_t first, int start, const cv::v_int16x8& baseLow,
                      const cv::v_int16x8& baseHigh, const Rows& rows) const {
        std::array<cv::v_int8x16, kHeld> limits;
        for (size_t i = 0; i < kHeld; ++i) {
            limits[i] = limits_[first + i];
        }
        const cv::v_uint8x16 mirror = cv::v_setall_u8(0x7F);
        const unsigned char* grey = rows.grey + start;
        std::int16_t* out = rows.votes + start;
        for (int r = 0; r < rows.count; ++r, grey += rows.greyStep, out += rows.voteStep) {
            const cv::v_int8x16 value = cv::v_reinterpret_as_s8(cv::v_load(grey) ^ mirror);
            // A true compare is all ones, so subtracting it counts one.
            cv::v_uint8x16 ink = cv::v_setzero_u8();
            for (size_t i = 0; i < kHeld; ++i) {
                ink = cv::v_sub_wrap(ink, cv::v_reinterpret_as_u8(value > limits[i]));
            }
            cv::v_uint16x8 low;
            cv::v_uint16x8 high;
            cv::v_expand(ink, low, high);
            const cv::v_int16x8 inkLow = cv::v_reinterpret_as_s16(low);
            const cv::v_int16x8 inkHigh = cv::v_reinterpret_as_s16(high);
            cv::v_store(out, cv::v_load(out) + baseLow - (inkLow + inkLow));
            cv::v_store(out + kLanes / 2,
                        cv::v_load(out + kLanes / 2) + baseHigh - (inkHigh + inkHigh));
        }
    }

    std::vector<Block> blocks_;
    std::vector<cv::v_int8x16> limits_;
    // Per segment with a limit placed in the block being laid out: its last column
    // and its vector.
    std::vector<int> takenUntil_;
    std::vector<size_t> layerOf_;
    std::vector<cv::v_int8x16> segmentLimits_;  // 127 - t in every lane, by segment
    std::vector<Segment> tail_;
    int tailStart_ = 0;
};

template <>
class RowVoter<std::int16_t> {
  public:
    void Vote(const cv::Mat& gray, const SegmentRow& segments, int y0, int y1, cv::Mat& balance) {
        plan_.Lay(segments, gray.cols);
        plan_.Apply(gray, y0, y1, balance);
    }

  private:
    VotePlan plan_;
};
#endif

// The voters of one row and how many of them are restored. The whole page is
// counted, so sixteen columns at a time, counted in bytes for up to 255 steps.
std::array<std::int64_t, 2> CountRowVoters(const unsigned char* voter,
                                           const unsigned char* restored, int cols) {
    std::int64_t voters = 0;
    std::int64_t wide = 0;
    int x = 0;
#if CV_SIMD128
    constexpr int kStep = cv::v_uint8x16::nlanes;
    constexpr int kMaxSteps = 255;
    const cv::v_uint8x16 zero = cv::v_setzero_u8();
    while (x + kStep <= cols) {
        const int end = x + std::min((cols - x) / kStep, kMaxSteps) * kStep;
        cv::v_uint8x16 voterCount = zero;
        cv::v_uint8x16 wideCount = zero;
        for (; x < end; x += kStep) {
            const cv::v_uint8x16 isVoter = cv::v_load(voter + x) != zero;
            voterCount = cv::v_sub_wrap(voterCount, isVoter);
            wideCount = cv::v_sub_wrap(wideCount, isVoter & (cv::v_load(restored + x) != zero));
        }
        voters += cv::v_reduce_sum(voterCount);
        wide += cv::v_reduce_sum(wideCount);
    }
#endif
    for (; x < cols; ++x) {
        const int isVoter = voter[x] != 0 ? 1 : 0;
        voters += isVoter;
        wide += isVoter & (restored[x] != 0 ? 1 : 0);
    }
    return {voters, wide};
}

// A bound on the votes any pixel of a row can receive: from every row whose
// window rows (narrow or wide) reach it, the voters within half a window of its
// column, at most one per column. Exceeding 32767 anywhere calls for 32-bit
// counters.
bool FitsSixteenBits(const cv::Mat& edgeMaskCopy, const cv::Mat& restoredMap,
                     const std::vector<int>& rowStrokeWidths, double alpha, int threads) {
    const int rows = edgeMaskCopy.rows;
    // Voters of each row, narrow and wide, counted in bands.
    std::vector<std::array<std::int64_t, 2>> rowCounts(static_cast<size_t>(rows));
    ForEachBand(rows, threads, [&](RowBand band, int) {
        for (int y = band.top; y < band.bottom; ++y) {
            const std::array<std::int64_t, 2> counts =
                CountRowVoters(edgeMaskCopy.ptr<unsigned char>(y),
                               restoredMap.ptr<unsigned char>(y), edgeMaskCopy.cols);
            rowCounts[static_cast<size_t>(y)] = {counts[0] - counts[1], counts[1]};
        }
    });
    std::vector<std::int64_t> reach(static_cast<size_t>(rows) + 1, 0);
    for (int y = 0; y < rows; ++y) {
        const std::array<std::int64_t, 2>& counts = rowCounts[static_cast<size_t>(y)];
        for (int f = 0; f < 2; ++f) {
            const int half = HalfSide(alpha, rowStrokeWidths[y], f ? 3.0 : 1.0);
            const VoterWindow w = ClippedWindow(0, y, half, rows, edgeMaskCopy.cols);
            // A pixel is reached by the voters of this row within half columns of it.
            const std::int64_t reaching =
                std::min(counts[f], 2 * static_cast<std::int64_t>(std::max(half, 0)) + 1);
            if (w.y0 <= w.y1 && counts[f] > 0) {
                reach[static_cast<size_t>(w.y0)] += reaching;
                reach[static_cast<size_t>(w.y1) + 1] -= reaching;
            }
        }
    }
    std::int64_t running = 0;
    for (int y = 0; y < rows; ++y) {
        running += reach[static_cast<size_t>(y)];
        if (running > 32767) {
            return false;
        }
    }
    return true;
}

// Whether every statistics window (at most 2 half + 1 pixels on a side, and no
// larger than the page) holds few enough pixels for 32-bit sums.
bool StatsWindowsFitNarrowSums(const std::vector<int>& rowStrokeWidths, double alpha, int rows,
                               int cols) {
    int largestHalf = 0;
    for (int y = 0; y < rows; ++y) {
        largestHalf = std::max(largestHalf, HalfSide(alpha, rowStrokeWidths[y], 1.0));
    }
    const std::int64_t side = 2 * static_cast<std::int64_t>(largestHalf) + 1;
    return std::min<std::int64_t>(side, rows) * std::min<std::int64_t>(side, cols) <=
           kMaxPixelsForNarrowSums;
}

// The window rows y0..y1 cut to the rows of `target`; empty when they miss it.
VoterWindow RowsWithin(VoterWindow w, RowBand target) {
    w.y0 = std::max(w.y0, target.top);
    w.y1 = std::min(w.y1, target.bottom - 1);
    return w;
}

// Adds to rows target.top .. target.bottom - 1 of `balance` the votes of every
// voter whose window rows reach them. A row of voters near the band's edge is
// thresholded by both bands it reaches; each adds only its own rows' votes, and
// integer votes add up alike in any order.
template <typename Column, typename Counter>
void VoteWithSums(const cv::Mat& edgeMaskCopy, const cv::Mat& gray, const cv::Mat& restoredMap,
                  const std::vector<int>& rowStrokeWidths, double alpha, double k, RowBand target,
                  cv::Mat& balance) {
    const int rows = edgeMaskCopy.rows;
    const int cols = edgeMaskCopy.cols;
    VoterColumnSums<Column> columnSums(edgeMaskCopy, gray);
    SegmentRow narrowSegments(cols);
    SegmentRow wideSegments(cols);
    RowVoter<Counter> rowVoter;
    for (int y = 0; y < rows; ++y) {
        const unsigned char* voter = edgeMaskCopy.ptr<unsigned char>(y);
        const unsigned char* restored = restoredMap.ptr<unsigned char>(y);
        const int firstVoter = NextNonZero(voter, 0, cols);
        if (firstVoter == cols) {
            continue;
        }
        const int strokeWidth = rowStrokeWidths[y];
        const int statsHalf = HalfSide(alpha, strokeWidth, 1.0);
        const int wideHalf = HalfSide(alpha, strokeWidth, 3.0);
        const VoterWindow narrowVotes =
            RowsWithin(ClippedWindow(0, y, statsHalf, rows, cols), target);
        const VoterWindow wideVotes = RowsWithin(ClippedWindow(0, y, wideHalf, rows, cols), target);
        if (narrowVotes.y0 > narrowVotes.y1 && wideVotes.y0 > wideVotes.y1) {
            continue;
        }
        const VoterWindow statsRows = ClippedWindow(0, y, statsHalf, rows, cols);
        // The windows' columns grow with the voter's, so the first and the last
        // voter's bound them all.
        const int lastVoter = EndOfNonZero(voter, cols) - 1;
        columnSums.Cover(statsRows.y0, statsRows.y1,
                         ClippedWindow(firstVoter, y, statsHalf, rows, cols).x0,
                         ClippedWindow(lastVoter, y, statsHalf, rows, cols).x1);
        narrowSegments.Clear();
        wideSegments.Clear();
        ForEachNonZero(voter, firstVoter, lastVoter + 1, [&](int x) {
            const bool wide = restored[x] != 0;
            const VoterWindow w = ClippedWindow(x, y, wide ? wideHalf : statsHalf, rows, cols);
            // A window cut down below one stroke width by the page border sees too
            // little of the page to judge it.
            if (w.y1 - w.y0 + 1 < strokeWidth || w.x1 - w.x0 + 1 < strokeWidth) {
                return;
            }
            const VoterWindow statsWindow = ClippedWindow(x, y, statsHalf, rows, cols);
            const int threshold =
                VoterThreshold(columnSums.Sum(statsWindow.x0, statsWindow.x1), k,
                               [&](double& mean, double& deviation) {
                                   VoterStats(edgeMaskCopy, gray, statsWindow, mean, deviation);
                               });
            (wide ? wideSegments : narrowSegments)
                .Add(Segment{w.x0, w.x1, std::max(0, std::min(threshold, 256))});
        });
        // Every voter of the row votes on the same window rows.
        for (const bool wide : {false, true}) {
            const SegmentRow& segments = wide ? wideSegments : narrowSegments;
            if (segments.empty()) {
                continue;
            }
            const VoterWindow& w = wide ? wideVotes : narrowVotes;
            if (w.y0 <= w.y1) {
                rowVoter.Vote(gray, segments, w.y0, w.y1, balance);
            }
        }
    }
}

}  // namespace

void MaskedWindowStats(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                       const std::vector<int>& rowStrokeWidths, cv::Mat& meanMap,
                       cv::Mat& deviationMap, double alpha) {
    const int rows = gray.rows;
    const int cols = gray.cols;
    meanMap = cv::Mat::zeros(rows, cols, CV_64F);
    deviationMap = cv::Mat::zeros(rows, cols, CV_64F);
    if (edgeMaskCopy.size() != gray.size() || !HasWidthPerRow(rowStrokeWidths, rows)) {
        return;
    }
    CV_Assert(edgeMaskCopy.type() == CV_8UC1 && gray.type() == CV_8UC1);

    VoterColumns voters;
    CollectVoterColumns(edgeMaskCopy, voters);
    RowTwoPassStats rowStats(voters, gray);
    for (int y = 0; y < rows; ++y) {
        const size_t first = voters.rowStart[static_cast<size_t>(y)];
        const size_t last = voters.rowStart[static_cast<size_t>(y) + 1];
        if (first == last) {
            continue;
        }
        const int half = HalfSide(alpha, rowStrokeWidths[y], 1.0);
        const VoterWindow rowWindow = ClippedWindow(0, y, half, rows, cols);
        rowStats.StartRow(rowWindow.y0, rowWindow.y1);
        double* means = meanMap.ptr<double>(y);
        double* deviations = deviationMap.ptr<double>(y);
        for (size_t i = first; i < last; ++i) {
            const int x = voters.columns[i];
            const VoterWindow w = ClippedWindow(x, y, half, rows, cols);
            rowStats.Stats(w.x0, w.x1, means[x], deviations[x]);
        }
    }
}

void VoteLocalThreshold(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                        const cv::Mat& restoredMap, const std::vector<int>& rowStrokeWidths,
                        cv::Mat& dst, double alpha, double k, cv::Mat* balanceOut, int threads,
                        cv::Mat* counters) {
    const int rows = edgeMaskCopy.rows;
    const int cols = edgeMaskCopy.cols;
    if (gray.size() != edgeMaskCopy.size() || restoredMap.size() != edgeMaskCopy.size() ||
        !HasWidthPerRow(rowStrokeWidths, rows)) {
        dst = cv::Mat(rows, cols, CV_8UC1, cv::Scalar(255));
        if (balanceOut != nullptr) {
            *balanceOut = cv::Mat::zeros(rows, cols, CV_32S);
        }
        return;
    }
    CV_Assert(edgeMaskCopy.type() == CV_8UC1 && gray.type() == CV_8UC1 &&
              restoredMap.type() == CV_8UC1);

    // Wider counters only where the page could need them.
    const bool narrowColumns = StatsWindowsFitNarrowSums(rowStrokeWidths, alpha, rows, cols);
    const bool narrowCounters =
        FitsSixteenBits(edgeMaskCopy, restoredMap, rowStrokeWidths, alpha, threads);
    cv::Mat balance = counters != nullptr ? *counters : cv::Mat();
    ClearInBands(balance, rows, cols, narrowCounters ? CV_16S : CV_32S, threads);
    ForEachBand(rows, threads, [&](RowBand target, int) {
        if (narrowColumns && narrowCounters) {
            VoteWithSums<std::uint32_t, std::int16_t>(edgeMaskCopy, gray, restoredMap,
                                                      rowStrokeWidths, alpha, k, target, balance);
        } else if (narrowColumns) {
            VoteWithSums<std::uint32_t, std::int32_t>(edgeMaskCopy, gray, restoredMap,
                                                      rowStrokeWidths, alpha, k, target, balance);
        } else if (narrowCounters) {
            VoteWithSums<std::uint64_t, std::int16_t>(edgeMaskCopy, gray, restoredMap,
                                                      rowStrokeWidths, alpha, k, target, balance);
        } else {
            VoteWithSums<std::uint64_t, std::int32_t>(edgeMaskCopy, gray, restoredMap,
                                                      rowStrokeWidths, alpha, k, target, balance);
        }
    });
    // Ties and pixels no window reached stay paper.
    dst.create(rows, cols, CV_8UC1);
    ForEachBand(rows, threads, [&](RowBand band, int) {
        cv::Mat dstRows = dst.rowRange(band.top, band.bottom);
        cv::compare(balance.rowRange(band.top, band.bottom), 0, dstRows, cv::CMP_GE);
    });
    if (balanceOut != nullptr) {
        balance.convertTo(*balanceOut, CV_32S);
    }
}

}  // namespace edgebin::detail
