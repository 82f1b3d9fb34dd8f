// Straightforward contour-length curve: at every level the mask is thresholded,
// its specks cleared and its outline counted, with OpenCV's own labelling.
#include <opencv2/imgproc.hpp>

#include "oracle/oracle.h"

namespace reference {

namespace {

// Clears every 8-connected component of fewer than three pixels.
void ClearSpecks(cv::Mat& mask) {
    cv::Mat labels;
    cv::Mat stats;
    cv::Mat centroids;
    cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    for (int y = 0; y < mask.rows; ++y) {
        for (int x = 0; x < mask.cols; ++x) {
            const int label = labels.at<int>(y, x);
            if (label > 0 && stats.at<int>(label, cv::CC_STAT_AREA) < 3) {
                mask.at<unsigned char>(y, x) = 0;
            }
        }
    }
}

bool IsForeground(const cv::Mat& mask, int y, int x) {
    return y >= 0 && x >= 0 && y < mask.rows && x < mask.cols && mask.at<unsigned char>(y, x) != 0;
}

// Background pixels with a foreground pixel beside, above or below them, per
// 8-connected foreground component.
double OutlinePerComponent(const cv::Mat& mask) {
    cv::Mat labels;
    const int components = cv::connectedComponents(mask, labels, 8, CV_32S) - 1;
    if (components < 1) {
        return 0.0;
    }
    long long outline = 0;
    for (int y = 0; y < mask.rows; ++y) {
        for (int x = 0; x < mask.cols; ++x) {
            if (!IsForeground(mask, y, x) &&
                (IsForeground(mask, y, x - 1) || IsForeground(mask, y, x + 1) ||
                 IsForeground(mask, y - 1, x) || IsForeground(mask, y + 1, x))) {
                ++outline;
            }
        }
    }
    return static_cast<double>(outline) / components;
}

}  // namespace

void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve) {
    for (int level = 0; level < 256; ++level) {
        cv::Mat mask;
        cv::threshold(gradMap, mask, level, 255, cv::THRESH_BINARY);
        ClearSpecks(mask);
        contourCurve[static_cast<size_t>(level)] = OutlinePerComponent(mask);
    }
}

}  // namespace reference
