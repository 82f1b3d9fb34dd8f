// Exact window sums over sparse maps, for the stages that count edge pixels in
// stroke-scaled windows.
//
// Those windows are large (up to twenty stroke widths on a side) while the pixels
// that add to a count, and the pixels that need one, are few. The non-zero pixels
// of the maps are listed row by row once; per-column sums over a range of rows
// are then kept up to date point by point as the range slides down the page, and
// one prefix sum along a row turns each window sum of that row into the
// difference of two entries. Rows and columns beyond the map are mirrored about
// its border pixels without repeating them (reflect-101), the way cv::boxFilter
// reads a map, so the sums are the library's box sums exactly (before any
// saturation, which the callers apply).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <type_traits>
#include <utility>
#include <vector>

namespace edgebin::detail {

// Position p of a line of n values under reflect-101, for any p (n >= 1).
inline int Reflect101(long long p, int n) {
    if (n == 1) {
        return 0;
    }
    const long long period = 2LL * n - 2;
    long long q = p % period;
    if (q < 0) {
        q += period;
    }
    return static_cast<int>(q < n ? q : period - q);
}

// An allocator whose `resize` leaves new elements uninitialised (for trivial
// types): lists that are counted first and then written in place would otherwise
// be filled with zeros only to be written over.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}

    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// The non-zero pixels of kLanes maps of one size, row by row: a pixel is listed
// when any map is non-zero there, with the value of every map. A list without
// values (`values` empty) stands for pixels that are all 1.
template <int kLanes>
struct SparseRows {
    int rows = 0;
    int cols = 0;
    std::vector<int, UninitialisedAllocator<int>> columns;
    std::vector<std::array<std::uint8_t, kLanes>,
                UninitialisedAllocator<std::array<std::uint8_t, kLanes>>>
        values;
    std::vector<size_t> rowStart;  // rows + 1 entries
    std::uint8_t largestValue = 0;

    void Clear(int rowCount, int colCount) {
        rows = rowCount;
        cols = colCount;
        columns.clear();
        values.clear();
        rowStart.assign(static_cast<size_t>(rowCount) + 1, 0);
        largestValue = 0;
    }

    // Appends the listed pixels of row y; rows must come in order.
    void AddRow(int y, const std::array<const unsigned char*, kLanes>& maps) {
        int x = 0;
#if CV_SIMD128
        // Sixteen columns at a time: a mask of the non-zero ones, then its bits.
        constexpr int kStep = cv::v_uint8x16::nlanes;
        for (; x + kStep <= cols; x += kStep) {
            cv::v_uint8x16 any = cv::v_load(maps[0] + x);
            for (int j = 1; j < kLanes; ++j) {
                any |= cv::v_load(maps[j] + x);
            }
            unsigned bits = static_cast<unsigned>(cv::v_signmask(any != cv::v_setzero_u8()));
            while (bits != 0) {
                const int bit = __builtin_ctz(bits);
                bits &= bits - 1;
                Append(maps, x + bit);
            }
        }
#endif
        for (; x < cols; ++x) {
            std::uint8_t any = 0;
            for (int j = 0; j < kLanes; ++j) {
                any |= maps[j][x];
            }
            if (any != 0) {
                Append(maps, x);
            }
        }
        rowStart[static_cast<size_t>(y) + 1] = columns.size();
    }

    void Collect(const std::array<const cv::Mat*, kLanes>& maps) {
        Clear(maps[0]->rows, maps[0]->cols);
        for (int y = 0; y < rows; ++y) {
            std::array<const unsigned char*, kLanes> rowPointers;
            for (int j = 0; j < kLanes; ++j) {
                rowPointers[j] = maps[j]->template ptr<unsigned char>(y);
            }
            AddRow(y, rowPointers);
        }
    }

    size_t RowBegin(int y) const {
        return rowStart[static_cast<size_t>(y)];
    }
    size_t RowEnd(int y) const {
        return rowStart[static_cast<size_t>(y) + 1];
    }

  private:
    void Append(const std::array<const unsigned char*, kLanes>& maps, int x) {
        std::array<std::uint8_t, kLanes> value;
        for (int j = 0; j < kLanes; ++j) {
            value[j] = maps[j][x];
            largestValue = std::max(largestValue, value[j]);
        }
        columns.push_back(x);
        values.push_back(value);
    }
};

// Column sums of a SparseRows over a range of virtual rows, and prefix sums of
// them along virtual columns. `Sum` is an unsigned type: sums are kept modulo its
// range, so a window sum is exact whenever its true value fits in `Sum`.
template <int kLanes, typename Sum>
class SlidingColumnSums {
  public:
    using Lanes = std::array<Sum, kLanes>;

    explicit SlidingColumnSums(const SparseRows<kLanes>& points)
        : points_(points), columns_(static_cast<size_t>(points.cols)) {}

    // Makes the column sums cover virtual rows first .. first + count - 1.
    void Cover(long long first, long long count) {
        const long long end = first + count;
        const long long moves = std::llabs(first - first_) + std::llabs(end - end_);
        if (end_ <= first_ || end <= first_ || first >= end_ || moves >= count) {
            std::fill(columns_.begin(), columns_.end(), Lanes{});
            first_ = first;
            end_ = first;
        }
        while (end_ < end) {
            AddRow<true>(end_++);
        }
        while (first_ > first) {
            AddRow<true>(--first_);
        }
        while (end_ > end) {
            AddRow<false>(--end_);
        }
        while (first_ < first) {
            AddRow<false>(first_++);
        }
    }

    // The current column sums, one entry per column of the map.
    const std::vector<Lanes>& Columns() const { return columns_; }

  private:
    template <bool kAdd>
    void AddRow(long long virtualRow) {
        const int y = Reflect101(virtualRow, points_.rows);
        const size_t last = points_.RowEnd(y);
#if CV_SIMD128
        // Nine 16-bit lanes (the count of all and eight directions): the first
        // eight in one vector, wrapping like the scalar sums.
        if constexpr (kLanes == 1 + cv::v_uint16x8::nlanes && std::is_same_v<Sum, std::uint16_t>) {
            if (!points_.values.empty()) {
                for (size_t p = points_.RowBegin(y); p < last; ++p) {
                    Sum* column = columns_[static_cast<size_t>(points_.columns[p])].data();
                    const std::uint8_t* value = points_.values[p].data();
                    const cv::v_uint16x8 values = cv::v_load_expand(value);
                    const cv::v_uint16x8 sums = cv::v_load(column);
                    cv::v_store(column,
                                kAdd ? cv::v_add_wrap(sums, values) : cv::v_sub_wrap(sums, values));
                    column[kLanes - 1] =
                        static_cast<Sum>(kAdd ? column[kLanes - 1] + value[kLanes - 1]
                                              : column[kLanes - 1] - value[kLanes - 1]);
                }
                return;
            }
        }
#endif
        for (size_t p = points_.RowBegin(y); p < last; ++p) {
            Lanes& column = columns_[static_cast<size_t>(points_.columns[p])];
            if (points_.values.empty()) {
                for (int j = 0; j < kLanes; ++j) {
                    column[j] += kAdd ? 1 : static_cast<Sum>(-1);
                }
                continue;
            }
            const std::array<std::uint8_t, kLanes>& value = points_.values[p];
            for (int j = 0; j < kLanes; ++j) {
                if (kAdd) {
                    column[j] += value[j];
                } else {
                    column[j] -= value[j];
                }
            }
        }
    }

    const SparseRows<kLanes>& points_;
    std::vector<Lanes> columns_;
    long long first_ = 0;
    long long end_ = 0;
};

// Prefix sums along one row of the column sums of several trackers side by side,
// over virtual columns (reflect-101 beyond the map); a window sum of a row is
// then the difference of two entries. The trackers' chains are summed in one
// loop, independently of each other.
template <int kTrackers, int kLanes, typename Sum>
class RowPrefix {
  public:
    using Tracker = SlidingColumnSums<kLanes, Sum>;

    // Prefix over virtual columns from .. to - 1 of the trackers' current sums.
    void Build(const std::array<const Tracker*, kTrackers>& trackers, long long from, long long to,
               int cols) {
        from_ = from;
        entries_.resize(static_cast<size_t>(to - from) + 1);
        std::array<const typename Tracker::Lanes*, kTrackers> columns;
        for (int t = 0; t < kTrackers; ++t) {
            columns[t] = trackers[t]->Columns().data();
        }
        Entry running{};
        entries_[0] = running;
        Entry* out = entries_.data() + 1;
        const auto add = [&](int column) {
            for (int t = 0; t < kTrackers; ++t) {
                for (int j = 0; j < kLanes; ++j) {
                    running[t * kLanes + j] += columns[t][column][j];
                }
            }
            *out++ = running;
        };
        // Mirrored columns on the left, the map's own, mirrored ones on the right;
        // windows longer than the map need the general rule.
        long long v = from;
        for (; v < 0 && v < to; ++v) {
            add(v > -cols ? static_cast<int>(-v) : Reflect101(v, cols));
        }
#if CV_SIMD128
        if constexpr (kTrackers == 1 && kLanes == 1 && std::is_same_v<Sum, std::uint32_t>) {
            v = AddFourAtATime(columns[0], v, std::min<long long>(cols, to), running, out);
        }
        if constexpr (kTrackers == 1 && kLanes == 1 + cv::v_uint16x8::nlanes &&
                      std::is_same_v<Sum, std::uint16_t>) {
            v = AddNineLanes(columns[0], v, std::min<long long>(cols, to), running, out);
        }
#endif
        for (; v < cols && v < to; ++v) {
            add(static_cast<int>(v));
        }
        for (; v < to; ++v) {
            add(v < 2LL * cols - 1 ? static_cast<int>(2LL * cols - 2 - v) : Reflect101(v, cols));
        }
    }

    // Sum of lane j of tracker t over virtual columns start .. start + count - 1,
    // which must lie inside the prefix.
    Sum WindowSum(int t, long long start, long long count, int j = 0) const {
        const size_t a = static_cast<size_t>(start - from_);
        const int lane = t * kLanes + j;
        return static_cast<Sum>(entries_[a + static_cast<size_t>(count)][lane] - entries_[a][lane]);
    }

    // Every lane of the prefix entry of virtual column `start`, which must lie
    // inside the prefix.
    const Sum* EntryAt(long long start) const {
        return entries_[static_cast<size_t>(start - from_)].data();
    }

  private:
    using Entry = std::array<Sum, kTrackers * kLanes>;

#if CV_SIMD128
    // The prefix of a single 32-bit sum over the map's columns v .. end - 1 in steps
    // of four: the one sequential chain of additions the compiler leaves scalar.
    // Returns the first column left; `running` is the sum up to it.
    static long long AddFourAtATime(const typename Tracker::Lanes* columns, long long v,
                                    long long end, Entry& running, Entry*& out) {
        static_assert(sizeof(Entry) == sizeof(std::uint32_t) &&
                      sizeof(typename Tracker::Lanes) == sizeof(std::uint32_t));
        cv::v_uint32x4 carry = cv::v_setall_u32(running[0]);
        for (; v + 4 <= end; v += 4) {
            cv::v_uint32x4 sums = cv::v_load(columns[v].data());
            sums += cv::v_rotate_left<1>(sums);
            sums += cv::v_rotate_left<2>(sums);
            sums += carry;
            cv::v_store(out->data(), sums);
            out += 4;
            carry = cv::v_broadcast_element<3>(sums);
        }
        running[0] = carry.get0();
        return v;
    }

    // The same for nine 16-bit lanes, eight of them in one vector (wrapping, like
    // the scalar sums).
    static long long AddNineLanes(const typename Tracker::Lanes* columns, long long v,
                                  long long end, Entry& running, Entry*& out) {
        static_assert(sizeof(Entry) == 9 * sizeof(std::uint16_t));
        cv::v_uint16x8 eight = cv::v_load(running.data());
        Sum ninth = running[8];
        for (; v < end; ++v) {
            eight = cv::v_add_wrap(eight, cv::v_load(columns[v].data()));
            ninth = static_cast<Sum>(ninth + columns[v][8]);
            cv::v_store(out->data(), eight);
            (*out)[8] = ninth;
            ++out;
        }
        cv::v_store(running.data(), eight);
        running[8] = ninth;
        return v;
    }
#endif

    std::vector<Entry> entries_;
    long long from_ = 0;
};

}  // namespace edgebin::detail
