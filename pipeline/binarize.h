// The binarization driver: runs every stage in order on one grey page.
#pragma once

#include <opencv2/core.hpp>

namespace edgebin::detail {

// Prints the parameter line, then binarizes `src` (8-bit grey) into `dst`
// (CV_8UC1, 0 = ink, 255 = paper). Returns 0 on success or the first stage's code
// (11, 12 or -1); `dst` is left untouched on failure.
int BinarizeImage(const cv::Mat& src, cv::Mat& dst, double alpha, double k, double Rthre);

}  // namespace edgebin::detail
