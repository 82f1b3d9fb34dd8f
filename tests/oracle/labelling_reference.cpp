// Components of a mask through the contour-tracing labeller: pack the complement,
// label every pixel, collect the records from the label buffer.
#include "oracle/contour_tracing.h"
#include "oracle/oracle.h"

namespace reference {

int FindMaskComponents(const cv::Mat& mask, std::vector<ComponentRecord>& records) {
    CV_Assert(mask.type() == CV_8UC1);
    const int rows = mask.rows;
    const int cols = mask.cols;
    std::vector<unsigned char> pixels(static_cast<size_t>(rows) * cols);
    for (int y = 0; y < rows; ++y) {
        const unsigned char* in = mask.ptr<unsigned char>(y);
        unsigned char* out = pixels.data() + static_cast<size_t>(y) * cols;
        for (int x = 0; x < cols; ++x) {
            out[x] = in[x] != 0 ? 0 : 255;
        }
    }
    std::vector<int> labels(pixels.size());
    const int n = LabelComponents(pixels.data(), cols, rows, labels.data());
    CollectComponentStats(labels.data(), cols, rows, n, records);
    return n;
}

}  // namespace reference
