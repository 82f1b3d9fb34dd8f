// Rows of a mask as bit masks, 64 pixels to a word, for scans that visit only the
// set pixels or count runs with a shift.
#pragma once

#include <cstdint>
#include <opencv2/core/hal/intrin.hpp>

namespace edgebin::detail {

// Bit i set where row[i] is non-zero, for up to 64 bytes.
inline std::uint64_t NonZeroBits(const unsigned char* row, int count) {
    std::uint64_t bits = 0;
    int i = 0;
#if CV_SIMD128
    constexpr int kStep = cv::v_uint8x16::nlanes;
    for (; i + kStep <= count; i += kStep) {
        const cv::v_uint8x16 value = cv::v_load(row + i);
        const std::uint64_t mask =
            static_cast<std::uint16_t>(cv::v_signmask(value != cv::v_setzero_u8()));
        bits |= mask << i;
    }
#endif
    for (; i < count; ++i) {
        bits |= static_cast<std::uint64_t>(row[i] != 0 ? 1 : 0) << i;
    }
    return bits;
}

}  // namespace edgebin::detail
