// Preconditions: `map` is CV_8UC1; every band lies inside the map; there is a
// width for every band and every window side comes out at least 1. A violation
// raises cv::Exception and leaves `map` untouched. Positions that no band covers
// count 0.
#include "local/band_window_sums.h"

#include <opencv2/imgproc.hpp>

namespace {

cv::Rect BandRect(const LineBand& band) {
    return cv::Rect(band.left, band.top, band.right - band.left + 1, band.bottom - band.top + 1);
}

int WindowSide(int strokeWidth, double scale) {
    return static_cast<int>(static_cast<double>(strokeWidth) * scale);
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
        cv::Mat tileSums;
        cv::boxFilter(tile, tileSums, CV_16U, cv::Size(side, side), cv::Point(-1, -1), false,
                      cv::BORDER_REFLECT_101);
        tileSums.copyTo(sums(rect));
    }
    map = sums;
}
