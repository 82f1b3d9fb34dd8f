// Straightforward edge gap histogram: every pixel of every inner row tested for an
// edge end, one column at a time, and every gap tested for ink under it.
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

int Around(const std::vector<int>& histogram, int bin) {
    int sum = 0;
    for (int b = bin - 1; b <= bin + 1; ++b) {
        sum += histogram[static_cast<size_t>(b)];
    }
    return sum;
}

// A hollow stroke's own width: the first fullest three bins from twice the width on
// (and past the peak), when they hold at least half of the peak's three bins and the
// lowest three bins from the peak up to them hold at most 0.8 of theirs.
int WideMode(const std::vector<int>& histogram, int peakBin, int width) {
    const int last = static_cast<int>(histogram.size()) - 2;
    if (peakBin < 1 || peakBin > last) {
        return -1;
    }
    int wideBin = -1;
    for (int b = std::max({2 * width, 2, peakBin + 1}); b <= last; ++b) {
        if (wideBin < 0 || Around(histogram, b) > Around(histogram, wideBin)) {
            wideBin = b;
        }
    }
    if (wideBin < 0 || Around(histogram, wideBin) == 0 ||
        2 * Around(histogram, wideBin) < Around(histogram, peakBin)) {
        return -1;
    }
    for (int b = peakBin; b < wideBin; ++b) {
        if (5 * Around(histogram, b) <= 4 * Around(histogram, wideBin)) {
            return wideBin;
        }
    }
    return -1;
}

// Ink under the gap from `left` to `right` of row r: the mean grey more than a
// quarter of the gap (truncated) inside both ends lies below the middle of the
// darkest and brightest grey within one gap of either end.
bool InkUnder(const cv::Mat& gray, int r, int left, int right) {
    const int gap = right - left;
    const cv::Range inside(left + gap / 4 + 1, right - gap / 4);
    double darkest = 0.0;
    double brightest = 0.0;
    cv::minMaxLoc(
        gray.row(r).colRange(std::max(left - gap, 0), std::min(right + gap + 1, gray.cols)),
        &darkest, &brightest);
    return inside.size() > 0 &&
           cv::mean(gray.row(r).colRange(inside))[0] < 0.5 * (darkest + brightest);
}

}  // namespace

int StrokeWidthFromEdgeGaps(const cv::Mat& mask, int& peakCount, int& gapCount,
                            const cv::Mat& gray) {
    std::vector<int> histogram(static_cast<size_t>(std::max(mask.cols, 0)), 0);
    std::vector<int> inkHistogram = histogram;
    gapCount = 0;
    std::vector<int> ends;
    for (int r = 1; r <= mask.rows - 2 && mask.cols >= 3; ++r) {
        CollectEdgeEnds(mask, r, ends);
        for (size_t i = 1; i < ends.size(); ++i) {
            const size_t gap = static_cast<size_t>(ends[i] - ends[i - 1]);
            ++histogram[gap];
            ++gapCount;
            if (!gray.empty() && InkUnder(gray, r, ends[i - 1], ends[i])) {
                ++inkHistogram[gap];
            }
        }
    }
    const int width = WidthAtTolerance(histogram, peakCount);
    const int peakBin = static_cast<int>(std::find(histogram.begin(), histogram.end(), peakCount) -
                                         histogram.begin());
    const int wideBin = gray.empty() ? -1 : WideMode(histogram, peakBin, width);
    if (wideBin >= 0 && 2 * Around(inkHistogram, wideBin) >= Around(histogram, wideBin)) {
        return wideBin;
    }
    return width;
}

}  // namespace reference
