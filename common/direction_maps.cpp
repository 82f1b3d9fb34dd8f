// Preconditions: `mask` is CV_8UC1; `gradX` and `gradY` are CV_16SC1 of the
// mask's size. Violations raise cv::Exception before anything is written.
//
// Each output row is cleared once and only the candidates are visited: the
// non-zero bytes of the mask are found sixteen at a time, and a candidate's eight
// sector tests need just two products, since negating a product is exact.
#include "common/direction_maps.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <opencv2/core/hal/intrin.hpp>
#include <utility>

#include "common/parallel_bands.h"

namespace edgebin::detail {

namespace {

// Slopes of the sector edges, a little above tan 22.5 and below tan 67.5 degrees.
constexpr double kShallow = 0.414;
constexpr double kSteep = 2.414;
constexpr int kMapCount = 9;

// The values of one candidate: map 0, and maps 1..8 for the sectors (down, up,
// left, right, down-right, down-left, up-right, up-left) its gradient falls into,
// from gy against the sector edges `shallow` and `steep` (the slopes times gx).
// Every comparison is strict, so a gradient lying exactly on a sector edge belongs
// to neither side of it.
template <typename T>
std::array<std::uint8_t, kMapCount> SectorValues(T gy, T shallow, T steep) {
    return {1,
            static_cast<std::uint8_t>((gy > shallow) & (gy > -shallow)),
            static_cast<std::uint8_t>((gy < shallow) & (gy < -shallow)),
            static_cast<std::uint8_t>((gy > steep) & (gy < -steep)),
            static_cast<std::uint8_t>((gy < steep) & (gy > -steep)),
            static_cast<std::uint8_t>((gy > -steep) & (gy > -shallow)),
            static_cast<std::uint8_t>((gy > steep) & (gy > shallow)),
            static_cast<std::uint8_t>((gy < shallow) & (gy < steep)),
            static_cast<std::uint8_t>((gy < -shallow) & (gy < -steep))};
}

std::array<std::uint8_t, kMapCount> CandidateValues(double gx, double gy) {
    return SectorValues(gy, kShallow * gx, kSteep * gx);
}

// CandidateValues of 16-bit derivatives in integers, without the conversions and
// products in double. The slopes are 207 / 500 and 1207 / 500 to within 3e-16, so
// wherever 500 gy differs from 207 gx or 1207 gx (either sign) by the least it can,
// 1, the double products, off by under 1e-10, fall on the same side of gy. Where the
// products are equal, gy lies on a sector edge and the rounding of the double
// product decides (for gx = 6500 it rounds above 1207 gx / 500): those rare pixels
// take the double tests. With gx = 0 every product is exactly zero.
std::array<std::uint8_t, kMapCount> IntegerCandidateValues(int gx, int gy) {
    const int y = 500 * gy;
    const int shallow = 207 * gx;
    const int steep = 1207 * gx;
    if (gx != 0 && (y == shallow || y == -shallow || y == steep || y == -steep)) {
        return CandidateValues(gx, gy);
    }
    return SectorValues(y, shallow, steep);
}

void MarkCandidate(const std::array<unsigned char*, kMapCount>& out, int x, double gx, double gy) {
    const std::array<std::uint8_t, kMapCount> values = CandidateValues(gx, gy);
    for (int j = 0; j < kMapCount; ++j) {
        out[j][x] = values[j];
    }
}

// Calls visit(x) for the non-zero bytes of a mask row, left to right.
template <typename Visit>
void ForEachCandidate(const unsigned char* candidate, int cols, const Visit& visit) {
    int x = 0;
#if CV_SIMD128
    constexpr int kStep = cv::v_uint8x16::nlanes;
    for (; x + kStep <= cols; x += kStep) {
        unsigned bits =
            static_cast<unsigned>(cv::v_signmask(cv::v_load(candidate + x) != cv::v_setzero_u8()));
        while (bits != 0) {
            visit(x + __builtin_ctz(bits));
            bits &= bits - 1;
        }
    }
#endif
    for (; x < cols; ++x) {
        if (candidate[x] != 0) {
            visit(x);
        }
    }
}

// The number of candidates in rows band.top .. band.bottom - 1.
size_t CandidatesIn(const cv::Mat& mask, RowBand band) {
    return static_cast<size_t>(
        cv::countNonZero(mask(cv::Range(band.top, band.bottom), cv::Range::all())));
}

// Lists the candidates of rows band.top .. band.bottom - 1 into the page's list,
// already sized, from its entry `first` on.
void ListRows(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask, RowBand band,
              size_t first, DirectionList& directions) {
    int* column = directions.columns.data();
    std::array<std::uint8_t, kMapCount>* value = directions.values.data();
    size_t listed = first;
    for (int y = band.top; y < band.bottom; ++y) {
        const short* gxRow = gradX.ptr<short>(y);
        const short* gyRow = gradY.ptr<short>(y);
        ForEachCandidate(mask.ptr<unsigned char>(y), mask.cols, [&](int x) {
            column[listed] = x;
            value[listed] = IntegerCandidateValues(gxRow[x], gyRow[x]);
            ++listed;
        });
        directions.rowStart[static_cast<size_t>(y) + 1] = listed;
    }
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
        ForEachCandidate(candidate, cols,
                         [&](int x) { MarkCandidate(out, x, gxRow[x], gyRow[x]); });
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

void ListDirections(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask,
                    DirectionList& directions, int threads) {
    CV_Assert(mask.type() == CV_8UC1 && gradX.type() == CV_16SC1 && gradY.type() == CV_16SC1);
    CV_Assert(gradX.size() == mask.size() && gradY.size() == mask.size());
    // Counted first and written in place, each band from where the bands above it
    // end: growing the list would copy it several times over on a page dense with
    // edges, and joining bands' lists afterwards would copy it once more on one
    // thread, its fresh memory faulted in there too.
    std::vector<size_t> firsts(static_cast<size_t>(BandCount(mask.rows, threads)) + 1, 0);
    ForEachBand(mask.rows, threads, [&](RowBand band, int index) {
        firsts[static_cast<size_t>(index) + 1] = CandidatesIn(mask, band);
    });
    std::partial_sum(firsts.begin(), firsts.end(), firsts.begin());
    directions.Clear(mask.rows, mask.cols);
    directions.columns.resize(firsts.back());
    directions.values.resize(firsts.back());
    ForEachBand(mask.rows, threads, [&](RowBand band, int index) {
        ListRows(gradX, gradY, mask, band, firsts[static_cast<size_t>(index)], directions);
    });
    // Every candidate holds a 1 in map 0, and no map holds more.
    directions.largestValue = firsts.back() > 0 ? 1 : 0;
}

void ExpandDirections(const DirectionList& directions, std::vector<cv::Mat>& dirMaps) {
    std::vector<cv::Mat> maps(kMapCount);
    for (cv::Mat& map : maps) {
        map = cv::Mat::zeros(directions.rows, directions.cols, CV_8UC1);
    }
    for (int y = 0; y < directions.rows; ++y) {
        for (size_t p = directions.RowBegin(y); p < directions.RowEnd(y); ++p) {
            for (int j = 0; j < kMapCount; ++j) {
                maps[j].at<unsigned char>(y, directions.columns[p]) = directions.values[p][j];
            }
        }
    }
    dirMaps.swap(maps);
}

}  // namespace edgebin::detail
