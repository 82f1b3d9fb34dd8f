// Preconditions: `map` is CV_8UC1; every band lies inside the map; there is a
// width for every band and every window side comes out at least 1. A violation
// raises cv::Exception and leaves `map` untouched. Positions that no band covers
// count 0.
#include "local/band_window_sums.h"

#include <cstdint>
#include <limits>
#include <opencv2/imgproc.hpp>

namespace edgebin::detail {

namespace {

// cv::boxFilter buffers `side` rows of (width + side) running sums; beyond this
// many bytes the sums are computed line by line instead. Only windows far larger
// than the page get there (the widths measured on very short, wide pages).
constexpr double kMaxFilterBufferBytes = 256.0 * 1024 * 1024;

cv::Rect BandRect(const LineBand& band) {
    return cv::Rect(band.left, band.top, band.right - band.left + 1, band.bottom - band.top + 1);
}

int WindowSide(int strokeWidth, double scale) {
    const double side = static_cast<double>(strokeWidth) * scale;
    // Beyond int a side means "far larger than any map" all the same.
    if (side >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(side);
}

// Sum of the first m values of the reflect-101 extension of a line, for any m
// (negative m counts backwards from position 0). The extension repeats with the
// period held by `periodPrefix`, the prefix sums of one period.
std::int64_t ReflectedPrefix(const std::vector<std::int64_t>& periodPrefix, std::int64_t m) {
    const std::int64_t period = static_cast<std::int64_t>(periodPrefix.size()) - 1;
    std::int64_t periods = m / period;
    std::int64_t rest = m % period;
    if (rest < 0) {
        rest += period;
        --periods;
    }
    return periods * periodPrefix[static_cast<size_t>(period)] +
           periodPrefix[static_cast<size_t>(rest)];
}

// Window sums of one line with boxFilter's centring (side / 2 values before the
// centre) and reflect-101 beyond both ends, for a window of any length.
void LineWindowSums(const std::vector<std::int64_t>& line, int side,
                    std::vector<std::int64_t>& sums) {
    const int n = static_cast<int>(line.size());
    const int period = n > 1 ? 2 * n - 2 : 1;
    std::vector<std::int64_t> periodPrefix(static_cast<size_t>(period) + 1, 0);
    for (int i = 0; i < period; ++i) {
        periodPrefix[i + 1] = periodPrefix[i] + line[i < n ? i : period - i];
    }
    const std::int64_t before = side / 2;
    sums.resize(line.size());
    for (int x = 0; x < n; ++x) {
        const std::int64_t first = x - before;
        sums[x] =
            ReflectedPrefix(periodPrefix, first + side) - ReflectedPrefix(periodPrefix, first);
    }
}

bool FilterBufferTooLarge(int side, int width) {
    return static_cast<double>(side) * (static_cast<double>(width) + side) * sizeof(int) >
           kMaxFilterBufferBytes;
}

// The whole map's window sums for any side, at the cost of one pass per row and
// one per column whatever the side. Row sums saturate early, which cannot change
// a 16-bit result because every term is non-negative.
cv::Mat WideWindowSums(const cv::Mat& map, int side) {
    cv::Mat rowSums(map.size(), CV_16UC1);
    std::vector<std::int64_t> line(static_cast<size_t>(map.cols));
    std::vector<std::int64_t> sums;
    for (int y = 0; y < map.rows; ++y) {
        const unsigned char* in = map.ptr<unsigned char>(y);
        line.assign(in, in + map.cols);
        LineWindowSums(line, side, sums);
        std::uint16_t* out = rowSums.ptr<std::uint16_t>(y);
        for (int x = 0; x < map.cols; ++x) {
            out[x] = cv::saturate_cast<std::uint16_t>(sums[x]);
        }
    }
    cv::Mat result(map.size(), CV_16UC1);
    line.resize(static_cast<size_t>(map.rows));
    for (int x = 0; x < map.cols; ++x) {
        for (int y = 0; y < map.rows; ++y) {
            line[y] = rowSums.at<std::uint16_t>(y, x);
        }
        LineWindowSums(line, side, sums);
        for (int y = 0; y < map.rows; ++y) {
            result.at<std::uint16_t>(y, x) = cv::saturate_cast<std::uint16_t>(sums[y]);
        }
    }
    return result;
}

}  // namespace

void BandWindowSums(cv::Mat& map, const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths, double scale) {
    CV_Assert(map.type() == CV_8UC1);
    CV_Assert(bandStrokeWidths.size() >= lineBands.size());

    cv::Mat sums = cv::Mat::zeros(map.size(), CV_16UC1);
    for (size_t i = 0; i < lineBands.size(); ++i) {
        const cv::Rect rect = BandRect(lineBands[i]);
        const int side = WindowSide(bandStrokeWidths[i], scale);
        CV_Assert(side >= 1);
        // A view, not a copy: the filter then reads the real pixels beyond the
        // band and reflects only at the border of the whole map.
        const cv::Mat tile = map(rect);
        if (FilterBufferTooLarge(side, rect.width)) {
            WideWindowSums(map, side)(rect).copyTo(sums(rect));
            continue;
        }
        cv::Mat tileSums;
        cv::boxFilter(tile, tileSums, CV_16U, cv::Size(side, side), cv::Point(-1, -1), false,
                      cv::BORDER_REFLECT_101);
        tileSums.copyTo(sums(rect));
    }
    map = sums;
}

}  // namespace edgebin::detail
