#include "local/voter_window.h"

#include <cmath>

namespace edgebin::detail {

void VoterStats(const cv::Mat& edgeMaskCopy, const cv::Mat& gray, const VoterWindow& w,
                double& mean, double& deviation) {
    int n = 0;
    double sum = 0.0;
    for (int y = w.y0; y <= w.y1; ++y) {
        const unsigned char* voter = edgeMaskCopy.ptr<unsigned char>(y);
        const unsigned char* grey = gray.ptr<unsigned char>(y);
        for (int x = w.x0; x <= w.x1; ++x) {
            if (voter[x] != 0) {
                ++n;
                sum += grey[x];
            }
        }
    }
    mean = n > 0 ? sum / n : 0.0;
    double squares = 0.0;
    for (int y = w.y0; y <= w.y1; ++y) {
        const unsigned char* voter = edgeMaskCopy.ptr<unsigned char>(y);
        const unsigned char* grey = gray.ptr<unsigned char>(y);
        for (int x = w.x0; x <= w.x1; ++x) {
            if (voter[x] != 0) {
                const double d = grey[x] - mean;
                squares += d * d;
            }
        }
    }
    deviation = n > 0 ? std::sqrt(squares / n) : 0.0;
}

}  // namespace edgebin::detail
