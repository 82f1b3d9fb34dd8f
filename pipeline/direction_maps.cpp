// Preconditions: `mask` is CV_8UC1; `gradX` and `gradY` are CV_16SC1 of the
// mask's size. Violations raise cv::Exception before anything is written.
//
// Each output row is cleared once and only the candidates are visited: the
// non-zero bytes of the mask are found sixteen at a time, and a candidate's eight
// sector tests need just two products, since negating a product is exact.
#include "pipeline/direction_maps.h"

#include <array>
#include <cstring>
#include <opencv2/core/hal/intrin.hpp>

#include "pipeline/parallel_bands.h"

namespace edgebin::detail {

namespace {

// Slopes of the sector edges, a little above tan 22.5 and below tan 67.5 degrees.
constexpr double kShallow = 0.414;
constexpr double kSteep = 2.414;
constexpr int kMapCount = 9;

// Marks one candidate: map 0, and maps 1..8 for the sectors (down, up, left,
// right, down-right, down-left, up-right, up-left) its gradient falls into. Every
// comparison is strict, so a gradient lying exactly on a sector edge belongs to
// neither side of it.
void MarkCandidate(const std::array<unsigned char*, kMapCount>& out, int x, double gx, double gy) {
    const double shallow = kShallow * gx;
    const double steep = kSteep * gx;
    out[0][x] = 1;
    out[1][x] = (gy > shallow) & (gy > -shallow);
    out[2][x] = (gy < shallow) & (gy < -shallow);
    out[3][x] = (gy > steep) & (gy < -steep);
    out[4][x] = (gy < steep) & (gy > -steep);
    out[5][x] = (gy > -steep) & (gy > -shallow);
    out[6][x] = (gy > steep) & (gy > shallow);
    out[7][x] = (gy < shallow) & (gy < steep);
    out[8][x] = (gy < -shallow) & (gy < -steep);
}

// Fills rows band.top .. band.bottom - 1 of the nine maps.
void MarkRows(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask, RowBand band,
              std::vector<cv::Mat>& maps) {
    const int cols = mask.cols;
    for (int y = band.top; y < band.bottom; ++y) {
        const unsigned char* candidate = mask.ptr<unsigned char>(y);
        const short* gxRow = gradX.ptr<short>(y);
        const short* gyRow = gradY.ptr<short>(y);
        std::array<unsigned char*, kMapCount> out;
        for (int j = 0; j < kMapCount; ++j) {
            out[j] = maps[j].ptr<unsigned char>(y);
            std::memset(out[j], 0, static_cast<size_t>(cols));
        }
        int x = 0;
#if CV_SIMD128
        constexpr int kStep = cv::v_uint8x16::nlanes;
        for (; x + kStep <= cols; x += kStep) {
            unsigned bits = static_cast<unsigned>(
                cv::v_signmask(cv::v_load(candidate + x) != cv::v_setzero_u8()));
            while (bits != 0) {
                const int at = x + __builtin_ctz(bits);
                bits &= bits - 1;
                MarkCandidate(out, at, gxRow[at], gyRow[at]);
            }
        }
#endif
        for (; x < cols; ++x) {
            if (candidate[x] != 0) {
                MarkCandidate(out, x, gxRow[x], gyRow[x]);
            }
        }
    }
}

}  // namespace

void BuildDirectionMaps(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask,
                        std::vector<cv::Mat>& dirMaps, int threads) {
    CV_Assert(mask.type() == CV_8UC1 && gradX.type() == CV_16SC1 && gradY.type() == CV_16SC1);
    CV_Assert(gradX.size() == mask.size() && gradY.size() == mask.size());

    // Built aside so that `mask` may alias one of the caller's old maps.
    std::vector<cv::Mat> maps(kMapCount);
    for (cv::Mat& map : maps) {
        map.create(mask.size(), CV_8UC1);
    }
    ForEachBand(mask.rows, threads,
                [&](RowBand band, int) { MarkRows(gradX, gradY, mask, band, maps); });
    dirMaps.swap(maps);
}

}  // namespace edgebin::detail
