// The binarization driver: runs every stage in order on one grey page.
#pragma once

#include <opencv2/core.hpp>

#include "edgebin/edgebin.hpp"

namespace edgebin::detail {

// Binarizes `src` (8-bit, one or three channels) into `dst` (CV_8UC1, 0 = ink,
// 255 = paper). Returns 0 on success or the first stage's code (11, 12 or -1);
// `dst` is left untouched on failure. What the stages decide goes to `trace`.
int BinarizeImage(const cv::Mat& src, cv::Mat& dst, double alpha, double k, double Rthre,
                  Trace& trace);

}  // namespace edgebin::detail
