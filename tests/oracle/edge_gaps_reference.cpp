// Straightforward edge gap histogram: every pixel of every inner row tested for an
// edge end, one column at a time.
#include <algorithm>
#include <vector>

#include "oracle/oracle.h"

namespace reference {

namespace {

bool AnyNonZero(const unsigned char* row, int c) {
    return row[c - 1] != 0 || row[c] != 0 || row[c + 1] != 0;
}

// Columns of the right ends of vertical edge runs in row r (1 <= r <= rows - 2):
// an edge pixel with a gap to its right that continues both upwards and downwards.
void CollectEdgeEnds(const cv::Mat& mask, int r, std::vector<int>& ends) {
    ends.clear();
    const unsigned char* above = mask.ptr<unsigned char>(r - 1);
    const unsigned char* here = mask.ptr<unsigned char>(r);
    const unsigned char* below = mask.ptr<unsigned char>(r + 1);
    for (int c = 1; c <= mask.cols - 2; ++c) {
        if (here[c] != 0 && here[c + 1] == 0 && AnyNonZero(above, c) && AnyNonZero(below, c)) {
            ends.push_back(c);
        }
    }
}

// The peak is the first fullest bin; the width is the last bin at or beyond it
// whose count reaches max(peak - 20, 0.9 peak), truncated.
int WidthAtTolerance(const std::vector<int>& histogram, int& peakCount) {
    int peakBin = 0;
    peakCount = 0;
    for (size_t b = 0; b < histogram.size(); ++b) {
        if (histogram[b] > peakCount) {
            peakCount = histogram[b];
            peakBin = static_cast<int>(b);
        }
    }
    const double lowered = peakCount - 20.0;
    const double scaled = 0.9 * peakCount;
    const int tolerance = static_cast<int>(lowered > scaled ? lowered : scaled);
    int width = peakBin;
    for (size_t b = static_cast<size_t>(peakBin) + 1; b < histogram.size(); ++b) {
        if (histogram[b] >= tolerance) {
            width = static_cast<int>(b);
        }
    }
    return width;
}

}  // namespace

int StrokeWidthFromEdgeGaps(const cv::Mat& mask, int& peakCount, int& gapCount) {
    std::vector<int> histogram(static_cast<size_t>(std::max(mask.cols, 0)), 0);
    gapCount = 0;
    std::vector<int> ends;
    for (int r = 1; r <= mask.rows - 2 && mask.cols >= 3; ++r) {
        CollectEdgeEnds(mask, r, ends);
        for (size_t i = 1; i < ends.size(); ++i) {
            ++histogram[static_cast<size_t>(ends[i] - ends[i - 1])];
            ++gapCount;
        }
    }
    return WidthAtTolerance(histogram, peakCount);
}

}  // namespace reference
