// Scanning helper shared by the sparse local stages.
#pragma once

#include <cstdint>
#include <cstring>
#include <opencv2/core/hal/intrin.hpp>

namespace edgebin::detail {

// The first column from x on whose byte is non-zero, or `cols`. Marked pixels are
// sparse, so zero bytes are skipped eight at a time.
inline int NextNonZero(const unsigned char* row, int x, int cols) {
    for (; x + 8 <= cols; x += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, row + x, sizeof(word));
        if (word != 0) {
            break;
        }
    }
    while (x < cols && row[x] == 0) {
        ++x;
    }
    return x;
}

// One past the last column whose byte is non-zero, or 0; zero bytes are skipped
// eight at a time from the right.
inline int EndOfNonZero(const unsigned char* row, int cols) {
    int end = cols;
    for (; end >= 8; end -= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, row + end - 8, sizeof(word));
        if (word != 0) {
            break;
        }
    }
    while (end > 0 && row[end - 1] == 0) {
        --end;
    }
    return end;
}

// Calls visit(x) for every column from x on whose byte is non-zero, left to right.
// Sixteen columns are tested at once and their set bits walked: a branch per byte
// would be mispredicted at every run of marked pixels.
template <typename Visit>
void ForEachNonZero(const unsigned char* row, int x, int cols, const Visit& visit) {
#if CV_SIMD128
    constexpr int kStep = cv::v_uint8x16::nlanes;
    for (; x + kStep <= cols; x += kStep) {
        auto bits =
            static_cast<unsigned>(cv::v_signmask(cv::v_load(row + x) != cv::v_setzero_u8()));
        for (; bits != 0; bits &= bits - 1) {
            visit(x + __builtin_ctz(bits));
        }
    }
#endif
    for (; x < cols; ++x) {
        if (row[x] != 0) {
            visit(x);
        }
    }
}

}  // namespace edgebin::detail
