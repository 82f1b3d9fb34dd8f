#include <opencv2/imgproc.hpp>

#include "oracle/oracle.h"

namespace reference {

void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve) {
    for (int level = 0; level < 256; ++level) {
        cv::Mat mask;
        cv::threshold(gradMap, mask, level, 255, cv::THRESH_BINARY);
        RemoveSpecks(mask);
        contourCurve[static_cast<size_t>(level)] = MeanContourLength(mask);
    }
}

}  // namespace reference
