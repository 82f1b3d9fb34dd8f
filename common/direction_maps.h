// Edge pixels sorted by the direction of their grey-level gradient.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "common/sparse_window_sums.h"

namespace edgebin::detail {

// dirMaps[0] = 1 at every non-zero pixel of `mask`; dirMaps[1..8] = 1 at the
// candidates whose (gradX, gradY) falls in one of eight overlapping 135-degree
// sectors (down, up, left, right, down-right, down-left, up-right, up-left).
// `gradX`, `gradY`: CV_16SC1 of mask's size. `dirMaps` is replaced (nine CV_8UC1).
// `threads` (>= 1) bands of rows share the work.
void BuildDirectionMaps(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask,
                        std::vector<cv::Mat>& dirMaps, int threads = 1);

// The same nine maps as a list of the candidates, row by row, each with its nine
// values (every map is 0 elsewhere): 13 bytes per candidate instead of nine per
// pixel, which on a page of few edge pixels is most of the pipeline's memory.
using DirectionList = SparseRows<9>;
void ListDirections(const cv::Mat& gradX, const cv::Mat& gradY, const cv::Mat& mask,
                    DirectionList& directions, int threads = 1);

// The nine maps of a list (CV_8UC1 of the list's size), replacing `dirMaps`.
void ExpandDirections(const DirectionList& directions, std::vector<cv::Mat>& dirMaps);

}  // namespace edgebin::detail
