// Preconditions: `enhanced` is 8-bit with one or three channels (three are read
// as BGR). Outputs are (re)allocated to the input's size.
//
// The map is what cv::normalize (NORM_MINMAX onto 0..255) and cv::convertScaleAbs
// make of the half-sum of |gradX| and |gradY|, taken row by row: the Scharr
// derivatives are sums of integers, exact in any order, so each row is made in one
// pass over the three grey rows around it, which also finds the row's highest
// half-sum; the stretch needs the page's highest first, and makes the
// half-sums again from the derivatives rather than keep them, which would cost two
// bytes a pixel.
#include "global/gradient_map.h"

#include <algorithm>
#include <cstdlib>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "common/parallel_bands.h"

namespace edgebin::detail {

namespace {

// Index i of a line of `length` pixels mirrored as the Scharr filter mirrors it.
int MirrorNext(int i, int length) {
    return cv::borderInterpolate(i, length, cv::BORDER_REFLECT_101);
}

// Per band: the vertical [3 10 3] sums and [-1 0 1] differences of one row,
// indexed from column -1 so that the horizontal pass needs no mirrored index.
struct RowScratch {
    std::vector<short> smooth;
    std::vector<short> diff;
};

// The half-sum is cv::addWeighted (0.5, 0.5) of the absolute values, which never
// rounds: in both Scharr derivatives the middle weights are even and the corners
// weigh 3, so each has the parity of the sum of the four corner pixels, and their
// absolute values add up to an even number.
short HalfSum(short gx, short gy) {
    return static_cast<short>((std::abs(gx) + std::abs(gy)) >> 1);
}

// Row y of both derivatives; returns its highest half-sum. Derivatives of an 8-bit
// page stay within 16 * 255: no sum overflows 16 bits.
short DerivativeRow(const cv::Mat& grey, int y, RowScratch& scratch, short* __restrict gx,
                    short* __restrict gy) {
    const int cols = grey.cols;
    const unsigned char* __restrict above = grey.ptr<unsigned char>(MirrorNext(y - 1, grey.rows));
    const unsigned char* __restrict centre = grey.ptr<unsigned char>(y);
    const unsigned char* __restrict below = grey.ptr<unsigned char>(MirrorNext(y + 1, grey.rows));
    short* __restrict smooth = scratch.smooth.data();
    short* __restrict diff = scratch.diff.data();
    for (int x = 0; x < cols; ++x) {
        smooth[x + 1] = static_cast<short>(3 * (above[x] + below[x]) + 10 * centre[x]);
        diff[x + 1] = static_cast<short>(below[x] - above[x]);
    }
    smooth[0] = smooth[MirrorNext(-1, cols) + 1];
    diff[0] = diff[MirrorNext(-1, cols) + 1];
    smooth[cols + 1] = smooth[MirrorNext(cols, cols) + 1];
    diff[cols + 1] = diff[MirrorNext(cols, cols) + 1];
    short high = 0;
    for (int x = 0; x < cols; ++x) {
        const auto dx = static_cast<short>(smooth[x + 2] - smooth[x]);
        const auto dy = static_cast<short>(3 * (diff[x] + diff[x + 2]) + 10 * diff[x + 1]);
        gx[x] = dx;
        gy[x] = dy;
        high = std::max(high, HalfSum(dx, dy));
    }
    return high;
}

// The stretch as cv::normalize (NORM_MINMAX onto 0..255) and cv::Mat::convertTo
// make it of 16-bit values: in float, scale (float)(255 / high) and shift 0. The
// page's lowest half-sum is always 0: at the corner pixel the mirrored border makes
// both derivatives 0. With no shift to add, a fused multiply-add and a multiply
// round alike, so no order of the float operations can change a result.
float StretchScale(int high) {
    return static_cast<float>(255.0 * (high > 0 ? 1.0 / high : 0.0));
}

unsigned char StretchedValue(short halfSum, float scale) {
    return cv::saturate_cast<unsigned char>(
        std::abs(cv::saturate_cast<short>(cvRound(halfSum * scale))));
}

// The stretched row, eight pixels a step.
void StretchRow(const short* gx, const short* gy, int cols, float scale, unsigned char* out) {
    int x = 0;
#if CV_SIMD128
    const cv::v_float32x4 scales = cv::v_setall_f32(scale);
    const auto stretched = [&](const cv::v_int32x4& halfSums) {
        return cv::v_round(cv::v_cvt_f32(halfSums) * scales);
    };
    for (; x + 8 <= cols; x += 8) {
        const cv::v_int16x8 halfSums = cv::v_reinterpret_as_s16(cv::v_abs(cv::v_load(gx + x)) +
                                                                cv::v_abs(cv::v_load(gy + x))) >>
                                       1;
        cv::v_int32x4 low;
        cv::v_int32x4 high;
        cv::v_expand(halfSums, low, high);
        const cv::v_int16x8 rounded = cv::v_pack(stretched(low), stretched(high));
        cv::v_pack_u_store(out + x, cv::v_reinterpret_as_s16(cv::v_abs(rounded)));
    }
#endif
    for (; x < cols; ++x) {
        out[x] = StretchedValue(HalfSum(gx[x], gy[x]), scale);
    }
}

cv::Mat GreyView(const cv::Mat& enhanced) {
    CV_Assert(enhanced.depth() == CV_8U && (enhanced.channels() == 1 || enhanced.channels() == 3));
    if (enhanced.channels() == 1) {
        return enhanced;
    }
    cv::Mat grey;
    cv::cvtColor(enhanced, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

RowScratch ScratchFor(int cols) {
    const size_t size = static_cast<size_t>(cols) + 2;
    return RowScratch{std::vector<short>(size), std::vector<short>(size)};
}

}  // namespace

void ComputeGradientMap(const cv::Mat& enhanced, cv::Mat& gradX, cv::Mat& gradY, cv::Mat& gradMap,
                        int threads) {
    const cv::Mat grey = GreyView(enhanced);
    const int rows = grey.rows;
    const int cols = grey.cols;
    gradX.create(grey.size(), CV_16S);
    gradY.create(grey.size(), CV_16S);
    gradMap.create(grey.size(), CV_8U);

    std::vector<int> highest(static_cast<size_t>(BandCount(rows, threads)), 0);
    ForEachBand(rows, threads, [&](RowBand band, int index) {
        int& high = highest[static_cast<size_t>(index)];
        RowScratch scratch = ScratchFor(cols);
        for (int y = band.top; y < band.bottom; ++y) {
            high = std::max<int>(
                high, DerivativeRow(grey, y, scratch, gradX.ptr<short>(y), gradY.ptr<short>(y)));
        }
    });
    const float scale = StretchScale(*std::max_element(highest.begin(), highest.end()));
    ForEachBand(rows, threads, [&](RowBand band, int) {
        for (int y = band.top; y < band.bottom; ++y) {
            StretchRow(gradX.ptr<short>(y), gradY.ptr<short>(y), cols, scale,
                       gradMap.ptr<unsigned char>(y));
        }
    });
}

void ComputeDerivatives(const cv::Mat& enhanced, cv::Mat& gradX, cv::Mat& gradY, int threads) {
    const cv::Mat grey = GreyView(enhanced);
    gradX.create(grey.size(), CV_16S);
    gradY.create(grey.size(), CV_16S);
    ForEachBand(grey.rows, threads, [&](RowBand band, int) {
        RowScratch scratch = ScratchFor(grey.cols);
        for (int y = band.top; y < band.bottom; ++y) {
            DerivativeRow(grey, y, scratch, gradX.ptr<short>(y), gradY.ptr<short>(y));
        }
    });
}

}  // namespace edgebin::detail
