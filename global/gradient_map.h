// Scharr derivatives and the 8-bit gradient-magnitude map of the enhanced page.
#pragma once

#include <opencv2/core.hpp>

namespace edgebin::detail {

// `enhanced`: 8-bit, one or three channels (three are converted BGR to grey).
// `gradX`, `gradY`: CV_16S Scharr derivatives. `gradMap`: CV_8U mean of their
// absolute values stretched min..max onto 0..255. `threads` (>= 1) bands of rows
// share the work; the result does not depend on their number.
void ComputeGradientMap(const cv::Mat& enhanced, cv::Mat& gradX, cv::Mat& gradY, cv::Mat& gradMap,
                        int threads = 1);

// `gradX` and `gradY` alone, as ComputeGradientMap makes them: for a run that has
// the gradient map already.
void ComputeDerivatives(const cv::Mat& enhanced, cv::Mat& gradX, cv::Mat& gradY, int threads = 1);

}  // namespace edgebin::detail
