// Window geometry and two-pass statistics of the local threshold's voters, shared
// by the voting and its straightforward counterpart.
#pragma once

#include <algorithm>
#include <opencv2/core.hpp>
#include <vector>

namespace edgebin::detail {

// Inclusive window of one pixel, clipped to the page.
struct VoterWindow {
    int x0;
    int y0;
    int x1;
    int y1;
};

// Half sides beyond this reach past every page the front end accepts; the clamp
// keeps the conversion and the window arithmetic inside int.
constexpr double kMaxHalfSide = 1 << 29;

inline int HalfSide(double alpha, int strokeWidth, double factor) {
    const double half = ((alpha * 0.5) * strokeWidth) * factor;
    return static_cast<int>(std::max(-kMaxHalfSide, std::min(half, kMaxHalfSide)));
}

inline VoterWindow ClippedWindow(int x, int y, int half, int rows, int cols) {
    VoterWindow w;
    w.x0 = x - half > 0 ? x - half : 0;
    w.y0 = y - half > 0 ? y - half : 0;
    w.x1 = x + half >= cols ? cols - 1 : x + half;
    w.y1 = y + half >= rows ? rows - 1 : y + half;
    return w;
}

inline bool HasWidthPerRow(const std::vector<int>& rowStrokeWidths, int rows) {
    return rowStrokeWidths.size() >= static_cast<size_t>(rows);
}

// Mean and population deviation of the grey values of the voters (non-zero
// pixels of `edgeMaskCopy`) in `w`, in two passes so that the deviation does not
// suffer from cancellation; 0 and 0 without voters.
void VoterStats(const cv::Mat& edgeMaskCopy, const cv::Mat& gray, const VoterWindow& w,
                double& mean, double& deviation);

}  // namespace edgebin::detail
