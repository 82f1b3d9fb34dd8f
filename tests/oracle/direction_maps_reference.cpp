// Straightforward direction maps: every pixel of every map written from a scan of
// the mask, the sectors of a candidate from its gradient in double precision.
#include <array>

#include "common/direction_maps.h"
#include "oracle/oracle.h"

namespace reference {

namespace {

// Slopes of the sector edges, a little above tan 22.5 and below tan 67.5 degrees.
constexpr double kShallow = 0.414;
constexpr double kSteep = 2.414;

// One flag per direction map 1..8. Every comparison is strict, so a gradient
// lying exactly on a sector edge belongs to neither side of it.
std::array<bool, 8> DirectionSectors(double gx, double gy) {
    const auto above = [gx, gy](double slope) { return gy > slope * gx; };
    const auto below = [gx, gy](double slope) { return gy < slope * gx; };
    return {above(kShallow) && above(-kShallow),  // down
            below(kShallow) && below(-kShallow),  // up
            above(kSteep) && below(-kSteep),      // left
            below(kSteep) && above(-kSteep),      // right
            above(-kSteep) && above(-kShallow),   // down-right
            above(kSteep) && above(kShallow),     // down-left
            below(kShallow) && below(kSteep),     // up-right
            below(-kShallow) && below(-kSteep)};  // up-left
}

}  // namespace

void BuildDirectionMaps(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask,
                        std::vector<cv::Mat>& dirMaps) {
    CV_Assert(mask.type() == CV_8UC1 && gradX.type() == CV_16SC1 && gradY.type() == CV_16SC1);
    CV_Assert(gradX.size() == mask.size() && gradY.size() == mask.size());

    // Built aside so that `mask` may alias one of the caller's old maps.
    std::vector<cv::Mat> maps(9);
    for (cv::Mat& map : maps) {
        map = cv::Mat::zeros(mask.size(), CV_8UC1);
    }
    for (int y = 0; y < mask.rows; ++y) {
        for (int x = 0; x < mask.cols; ++x) {
            if (mask.at<unsigned char>(y, x) == 0) {
                continue;
            }
            maps[0].at<unsigned char>(y, x) = 1;
            const auto sectors = DirectionSectors(gradX.at<short>(y, x), gradY.at<short>(y, x));
            for (int j = 0; j < 8; ++j) {
                maps[j + 1].at<unsigned char>(y, x) = sectors[j] ? 1 : 0;
            }
        }
    }
    dirMaps.swap(maps);
}

}  // namespace reference
