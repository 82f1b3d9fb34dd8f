// Straightforward direction maps: every pixel of every map written from a scan of
// the mask, the sectors of a candidate from its gradient in double precision.
#include <array>

#include "oracle/oracle.h"
#include "pipeline/direction_maps.h"

namespace reference {

namespace {

// Slopes of the sector edges, a little above tan 22.5 and below tan 67.5 degrees.
constexpr double kShallow = 0.414;
constexpr double kSteep = 2.414;

// One flag per direction map 1..8. Every comparison is strict, so a gradient
// lying exactly on a sector edge belongs to neither side of it.
std::array<bool, 8> DirectionSectors(double gx, double gy) {
    return {gy > kShallow * gx && gy > -kShallow * gx,  // down
            gy < kShallow * gx &&
                gy<-kShallow * gx,  // up
                   gy>
                        kSteep *
                    gx &&
                gy<-kSteep * gx,                         // left
                   gy<kSteep * gx && gy> - kSteep * gx,  // right
                   gy> -
                    kSteep * gx &&
                gy > -kShallow * gx,                    // down-right
            gy > kSteep * gx && gy > kShallow * gx,     // down-left
            gy < kShallow * gx && gy < kSteep * gx,     // up-right
            gy < -kShallow * gx && gy < -kSteep * gx};  // up-left
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
        const unsigned char* candidate = mask.ptr<unsigned char>(y);
        const short* gxRow = gradX.ptr<short>(y);
        const short* gyRow = gradY.ptr<short>(y);
        std::array<unsigned char*, 9> out;
        for (int j = 0; j < 9; ++j) {
            out[j] = maps[j].ptr<unsigned char>(y);
        }
        for (int x = 0; x < mask.cols; ++x) {
            if (candidate[x] == 0) {
                continue;
            }
            out[0][x] = 1;
            const std::array<bool, 8> sectors = DirectionSectors(gxRow[x], gyRow[x]);
            for (int j = 0; j < 8; ++j) {
                out[j + 1][x] = sectors[j] ? 1 : 0;
            }
        }
    }
    dirMaps.swap(maps);
}

}  // namespace reference
