// Scanning helper shared by the sparse local stages.
#pragma once

#include <cstdint>
#include <cstring>

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

}  // namespace edgebin::detail
