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

// Sum of the bins b - 1, b and b + 1.
double Smoothed(const std::vector<int>& histogram, int b) {
    return static_cast<double>(histogram[b - 1]) + histogram[b] + histogram[b + 1];
}

// The wide mode: the first fullest smoothed bin from max(2 width, 2, peak + 1) to
// size - 2, kept when it holds at least half of the peak's smoothed count and some
// smoothed bin from the peak up to it is at most 0.8 of it; -1 otherwise.
int WideMode(const std::vector<int>& histogram, int width) {
    int peakCount = 0;
    int peakBin = 0;
    for (size_t b = 0; b < histogram.size(); ++b) {
        if (histogram[b] > peakCount) {
            peakCount = histogram[b];
            peakBin = static_cast<int>(b);
        }
    }
    const int last = static_cast<int>(histogram.size()) - 2;
    if (peakBin == 0 || peakBin > last) {
        return -1;
    }
    int wideBin = -1;
    for (int b = std::max({2 * width, 2, peakBin + 1}); b <= last; ++b) {
        if (wideBin < 0 || Smoothed(histogram, b) > Smoothed(histogram, wideBin)) {
            wideBin = b;
        }
    }
    if (wideBin < 0 || Smoothed(histogram, wideBin) == 0.0 ||
        Smoothed(histogram, wideBin) < 0.5 * Smoothed(histogram, peakBin)) {
        return -1;
    }
    for (int b = peakBin; b < wideBin; ++b) {
        if (Smoothed(histogram, b) <= 0.8 * Smoothed(histogram, wideBin)) {
            return wideBin;
        }
    }
    return -1;
}

// Ink under the gap from column `left` to `right` of row r: the mean grey of the
// columns more than a quarter of the gap (truncated) inside both ends is below the
// middle of the darkest and brightest grey from left - gap to right + gap.
bool InkUnder(const cv::Mat& gray, int r, int left, int right) {
    const int gap = right - left;
    double sum = 0.0;
    int count = 0;
    for (int c = left + 1; c < right; ++c) {
        if (c - left > gap / 4 && right - c > gap / 4) {
            sum += gray.at<unsigned char>(r, c);
            ++count;
        }
    }
    double darkest = 255.0;
    double brightest = 0.0;
    for (int c = left - gap; c <= right + gap; ++c) {
        if (c >= 0 && c < gray.cols) {
            darkest = std::min(darkest, static_cast<double>(gray.at<unsigned char>(r, c)));
            brightest = std::max(brightest, static_cast<double>(gray.at<unsigned char>(r, c)));
        }
    }
    return count > 0 && sum / count < 0.5 * (darkest + brightest);
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
    const int wideBin = gray.empty() ? -1 : WideMode(histogram, width);
    // The wide mode is the stroke when at least half of its gaps have ink under them.
    if (wideBin >= 0 && 2.0 * Smoothed(inkHistogram, wideBin) >= Smoothed(histogram, wideBin)) {
        return wideBin;
    }
    return width;
}

}  // namespace reference
