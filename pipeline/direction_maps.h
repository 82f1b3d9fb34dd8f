// Edge pixels sorted by the direction of their grey-level gradient.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace edgebin::detail {

// dirMaps[0] = 1 at every non-zero pixel of `mask`; dirMaps[1..8] = 1 at the
// candidates whose (gradX, gradY) falls in one of eight overlapping 135-degree
// sectors (down, up, left, right, down-right, down-left, up-right, up-left).
// `gradX`, `gradY`: CV_16SC1 of mask's size. `dirMaps` is replaced (nine CV_8UC1).
// `threads` (>= 1) bands of rows share the work.
void BuildDirectionMaps(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask,
                        std::vector<cv::Mat>& dirMaps, int threads = 1);

}  // namespace edgebin::detail
