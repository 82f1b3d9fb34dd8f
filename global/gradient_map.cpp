// Preconditions: `enhanced` is 8-bit with one or three channels (three are read
// as BGR). Outputs are (re)allocated to the input's size.
#include "global/gradient_map.h"

#include <opencv2/imgproc.hpp>

namespace edgebin::detail {

void ComputeGradientMap(const cv::Mat& enhanced, cv::Mat& gradX, cv::Mat& gradY, cv::Mat& gradMap) {
    CV_Assert(enhanced.depth() == CV_8U && (enhanced.channels() == 1 || enhanced.channels() == 3));
    cv::Mat grayView;
    if (enhanced.channels() == 3) {
        cv::cvtColor(enhanced, grayView, cv::COLOR_BGR2GRAY);
    } else {
        grayView = enhanced;
    }

    cv::Scharr(grayView, gradX, CV_16S, 1, 0, 1.0, 0.0, cv::BORDER_DEFAULT);
    const cv::Mat absGradX = cv::abs(gradX);
    cv::Scharr(grayView, gradY, CV_16S, 0, 1, 1.0, 0.0, cv::BORDER_DEFAULT);
    const cv::Mat absGradY = cv::abs(gradY);

    // Every intermediate stays a 16-bit integer image, so the half-sum and the
    // stretch are rounded before the final 8-bit conversion.
    cv::addWeighted(absGradX, 0.5, absGradY, 0.5, 0.0, gradMap, CV_16S);
    cv::normalize(gradMap, gradMap, 0.0, 255.0, cv::NORM_MINMAX, -1);
    cv::convertScaleAbs(gradMap, gradMap, 1.0, 0.0);
}

}  // namespace edgebin::detail
