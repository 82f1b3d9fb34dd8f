// Connected components of a mask: their bounding boxes and sizes, in the raster
// order of their first pixel. The straightforward labeller by contour tracing that
// the fast one is checked against lives with the tests (oracle/contour_tracing.h).
#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace edgebin::detail {

// Bounding box (inclusive) and size of one labelled component.
struct ComponentRecord {
    int xMin;
    int xMax;
    int yMin;
    int yMax;
    int label;
    int pixelCount;
    int flag;   // always 1, kept for layout compatibility with older callers
    int spare;  // unused
};

// Components of the non-zero pixels of an 8-bit one-channel mask: packs the
// mask's complement, labels it and collects the records. Returns their count.
// `threads` split the search for runs into bands of rows; the records are the same.
int FindMaskComponents(const cv::Mat& mask, std::vector<ComponentRecord>& records, int threads = 1);

}  // namespace edgebin::detail
