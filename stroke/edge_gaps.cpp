// Preconditions: `mask` is 8-bit with one channel (a view is fine); `gray` is
// empty or 8-bit with one channel and the mask's size. Any size is accepted; masks
// with fewer than three rows or columns simply hold no edge end. Only the view's
// own columns are read.
#include "stroke/edge_gaps.h"

#include <algorithm>
#include <opencv2/core/hal/intrin.hpp>
#include <vector>

namespace edgebin::detail {

namespace {

// The width read off a gap histogram: the highest bin at or beyond the peak whose
// count reaches the tolerance, since a stroke seen at slightly varying widths
// should report its wider readings, not the mode. `peakCount` receives the peak's
// count and `peakBin` its bin.
int WidthFromHistogram(const std::vector<int>& histogram, int& peakCount, int& peakBin) {
    const int bins = static_cast<int>(histogram.size());
    peakBin = 0;
    peakCount = 0;
    for (int b = 0; b < bins; ++b) {
        if (histogram[b] > peakCount) {
            peakCount = histogram[b];
            peakBin = b;
        }
    }
    const int tolerance = static_cast<int>(std::max(peakCount - 20.0, 0.9 * peakCount));
    int width = peakBin;
    for (int b = peakBin + 1; b < bins; ++b) {
        if (histogram[b] >= tolerance) {
            width = b;
        }
    }
    return width;
}

// Count of the three bins around `bin` (1 <= bin <= size - 2): single bins of a
// broad mode are too ragged to compare.
int ThreeBinCount(const std::vector<int>& histogram, int bin) {
    const size_t at = static_cast<size_t>(bin);
    return histogram[at - 1] + histogram[at] + histogram[at + 1];
}

// Thick strokes whose ink pooled at the rims, most of all when scanned at 600 dpi,
// show an edge on each side of each rim, and the gaps within a rim outnumber those
// across the stroke: a handwritten page upscaled twice peaked at 4 pixels on
// strokes 13 wide, and every window sized from that missed the strokes' middles.
// The candidate is the fullest three bins from twice `width` on, when they hold at
// least half of the peak's three bins and some three bins from the peak up to them
// hold at most 0.8 of theirs. Returns its bin, or -1. Whether its gaps span ink is
// the caller's test: a letter's counter or the spacing of neighbouring stems
// gives such a mode too, with paper between the ends.
int WideModeBin(const std::vector<int>& histogram, int peakBin, int width) {
    const int bins = static_cast<int>(histogram.size());
    if (peakBin < 1 || peakBin > bins - 2) {
        return -1;
    }
    int wideBin = -1;
    int wideCount = 0;
    for (int b = std::max({2 * width, 2, peakBin + 1}); b <= bins - 2; ++b) {
        const int count = ThreeBinCount(histogram, b);
        if (count > wideCount) {
            wideCount = count;
            wideBin = b;
        }
    }
    if (wideBin < 0 || 2LL * wideCount < ThreeBinCount(histogram, peakBin)) {
        return -1;
    }
    int valley = wideCount;
    for (int b = peakBin; b < wideBin; ++b) {
        valley = std::min(valley, ThreeBinCount(histogram, b));
    }
    return 5LL * valley <= 4LL * wideCount ? wideBin : -1;
}

// An edge end (1 <= c <= cols - 2): an edge pixel with a gap to its right that
// continues both upwards and downwards (an edge pixel among the three above and
// among the three below).
bool IsEdgeEnd(const unsigned char* above, const unsigned char* here, const unsigned char* below,
               int c) {
    return here[c] != 0 && here[c + 1] == 0 &&
           (above[c - 1] != 0 || above[c] != 0 || above[c + 1] != 0) &&
           (below[c - 1] != 0 || below[c] != 0 || below[c + 1] != 0);
}

// Calls atEnd(c) for every edge end of one row, left to right. Sixteen columns are
// tested at a time; the last block is moved back to end at column cols - 2, and
// its columns that the block before it tested are masked off.
template <typename AtEnd>
void ForEachEdgeEnd(const unsigned char* above, const unsigned char* here,
                    const unsigned char* below, int cols, const AtEnd& atEnd) {
    int c = 1;
#if CV_SIMD128
    constexpr int kStep = cv::v_uint8x16::nlanes;
    const cv::v_uint8x16 zero = cv::v_setzero_u8();
    // Reads reach column c + kStep, so a block ends at cols - 2 at the latest.
    const auto endsAt = [&](int at) {
        const cv::v_uint8x16 up =
            cv::v_load(above + at - 1) | cv::v_load(above + at) | cv::v_load(above + at + 1);
        const cv::v_uint8x16 down =
            cv::v_load(below + at - 1) | cv::v_load(below + at) | cv::v_load(below + at + 1);
        const cv::v_uint8x16 ends = (cv::v_load(here + at) != zero) &
                                    (cv::v_load(here + at + 1) == zero) & (up != zero) &
                                    (down != zero);
        return static_cast<unsigned>(cv::v_signmask(ends));
    };
    const auto report = [&](int at, unsigned bits) {
        while (bits != 0) {
            atEnd(at + __builtin_ctz(bits));
            bits &= bits - 1;
        }
    };
    for (; c + kStep <= cols - 1; c += kStep) {
        report(c, endsAt(c));
    }
    if (c > 1 && c <= cols - 2) {
        const int at = cols - 1 - kStep;
        report(at, endsAt(at) & (~0U << (c - at)));
        return;
    }
#endif
    for (; c <= cols - 2; ++c) {
        if (IsEdgeEnd(above, here, below, c)) {
            atEnd(c);
        }
    }
}

// Counts the gaps between successive edge ends of one row into `histogram`.
void CountRowGaps(const unsigned char* above, const unsigned char* here, const unsigned char* below,
                  int cols, std::vector<int>& histogram, int& gapCount) {
    int previous = -1;
    ForEachEdgeEnd(above, here, below, cols, [&](int c) {
        if (previous >= 0) {
            ++histogram[static_cast<size_t>(c - previous)];
            ++gapCount;
        }
        previous = c;
    });
}

// True when the grey of the middle half of the gap between edge ends `left` and
// `right` of `row` lies in the darker half of the range found within one gap's
// length on either side (the rims' ink to the paper beside the stroke): the inside
// of a hollow stroke, not the paper of a counter or between stems.
bool GapSpansInk(const unsigned char* row, int cols, int left, int right) {
    const int length = right - left;
    const int quarter = length / 4;
    int sum = 0;
    int count = 0;
    for (int c = left + quarter + 1; c <= right - quarter - 1; ++c) {
        sum += row[c];
        ++count;
    }
    int darkest = 255;
    int brightest = 0;
    for (int c = std::max(left - length, 0); c <= std::min(right + length, cols - 1); ++c) {
        darkest = std::min(darkest, static_cast<int>(row[c]));
        brightest = std::max(brightest, static_cast<int>(row[c]));
    }
    return count > 0 && 2 * (sum - count * darkest) < count * (brightest - darkest);
}

// Counts the gaps of `first` to `last` pixels whose grey spans ink.
int CountInkGaps(const cv::Mat& mask, const cv::Mat& gray, int first, int last) {
    int inkGaps = 0;
    for (int r = 1; r <= mask.rows - 2; ++r) {
        const unsigned char* above = mask.ptr<unsigned char>(r - 1);
        const unsigned char* here = mask.ptr<unsigned char>(r);
        const unsigned char* below = mask.ptr<unsigned char>(r + 1);
        const unsigned char* grey = gray.ptr<unsigned char>(r);
        int previous = -1;
        ForEachEdgeEnd(above, here, below, mask.cols, [&](int c) {
            const int length = c - previous;
            if (previous >= 0 && length >= first && length <= last &&
                GapSpansInk(grey, gray.cols, previous, c)) {
                ++inkGaps;
            }
            previous = c;
        });
    }
    return inkGaps;
}

}  // namespace

int StrokeWidthFromEdgeGaps(const cv::Mat& mask, int& peakCount, int& gapCount,
                            const cv::Mat& gray) {
    CV_Assert(gray.empty() || (gray.type() == CV_8UC1 && gray.size() == mask.size()));
    std::vector<int> histogram(static_cast<size_t>(std::max(mask.cols, 0)), 0);
    gapCount = 0;
    for (int r = 1; r <= mask.rows - 2 && mask.cols >= 3; ++r) {
        CountRowGaps(mask.ptr<unsigned char>(r - 1), mask.ptr<unsigned char>(r),
                     mask.ptr<unsigned char>(r + 1), mask.cols, histogram, gapCount);
    }
    int peakBin = 0;
    const int width = WidthFromHistogram(histogram, peakCount, peakBin);
    const int wideBin = gray.empty() ? -1 : WideModeBin(histogram, peakBin, width);
    if (wideBin < 0) {
        return width;
    }
    // Most of the mode's gaps must span ink.
    const int inkGaps = CountInkGaps(mask, gray, wideBin - 1, wideBin + 1);
    return 2 * inkGaps >= ThreeBinCount(histogram, wideBin) ? wideBin : width;
}

}  // namespace edgebin::detail
