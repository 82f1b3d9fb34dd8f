// Preconditions: every image is CV_8UC1; a pixel is foreground when non-zero.
// Components are the 8-connected ones of the shared labelling. The curve over all
// levels is built by a sweep in contour_curve_sweep.cpp; these two measurements
// define what it computes at each level.
#include "global/contour_curve.h"

#include <vector>

#include "pipeline/labelling.h"

namespace edgebin::detail {

namespace {

// Components of fewer pixels than this are specks. One or two 8-connected pixels
// always fill their bounding box alone, so clearing the box clears exactly them.
constexpr int kSpeckLimit = 3;

// Background pixels with a foreground 4-neighbour inside the image.
long long CountOutlinePixels(const cv::Mat& img) {
    long long count = 0;
    for (int y = 0; y < img.rows; ++y) {
        const unsigned char* row = img.ptr<unsigned char>(y);
        const unsigned char* above = y > 0 ? img.ptr<unsigned char>(y - 1) : nullptr;
        const unsigned char* below = y + 1 < img.rows ? img.ptr<unsigned char>(y + 1) : nullptr;
        for (int x = 0; x < img.cols; ++x) {
            if (row[x] != 0) {
                continue;
            }
            const bool touches =
                (x > 0 && row[x - 1] != 0) || (x + 1 < img.cols && row[x + 1] != 0) ||
                (above != nullptr && above[x] != 0) || (below != nullptr && below[x] != 0);
            count += touches ? 1 : 0;
        }
    }
    return count;
}

}  // namespace

void RemoveSpecks(cv::Mat& img) {
    CV_Assert(img.type() == CV_8UC1);
    img.setTo(255, img);
    std::vector<ComponentRecord> records;
    FindMaskComponents(img, records);
    for (const ComponentRecord& record : records) {
        if (record.pixelCount < kSpeckLimit) {
            img(cv::Rect(record.xMin, record.yMin, record.xMax - record.xMin + 1,
                         record.yMax - record.yMin + 1))
                .setTo(0);
        }
    }
}

double MeanContourLength(const cv::Mat& img) {
    CV_Assert(img.type() == CV_8UC1);
    std::vector<ComponentRecord> records;
    const int n = FindMaskComponents(img, records);
    if (n < 1) {
        return 0.0;
    }
    return static_cast<double>(CountOutlinePixels(img)) / static_cast<double>(n);
}

}  // namespace edgebin::detail
