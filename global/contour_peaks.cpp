// Preconditions: curve entries are >= 0; levels passed in are within 0..255.
// Every index rule below is deliberate: the scan ranges, window sizes and strict
// comparisons decide which level wins, so they are not to be "tidied".
#include "global/contour_peaks.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace edgebin::detail {

namespace {

constexpr int kFirstPeakLevel = 5;
constexpr int kLastPeakLevel = 254;
constexpr int kFlankLength = 10;      // levels averaged on each side of a candidate
constexpr double kSlopeMargin = 5.0;  // a flank this much above the peak means a slope
constexpr double kValleyShare = 0.9;  // a valley lies below this share of the main peak
constexpr int kMinValleyWidth = 15;
constexpr double kBelowShare = 0.7;
constexpr int kLastCurvatureLevel = 194;
// Below this share of the lower end, the curve has a valley of its own. The lowest
// point before a main peak in the noise was 0.87 to 1 of it on the pages seen;
// before peaks of the text, 0.1 to 0.61.
constexpr double kNoiseValleyShare = 0.75;

struct Peak {
    double value;
    int level;
};

double MeanOf(const ContourCurve& c, int first, int last) {
    double sum = 0.0;
    for (int i = first; i <= last; ++i) {
        sum += c[i];
    }
    return sum / static_cast<double>(last - first + 1);
}

bool IsLocalMaximum(const ContourCurve& c, int level) {
    return c[level] > c[level - 1] && c[level] > c[level + 1];
}

bool IsValley(const ContourCurve& c, int level, double maxValue) {
    return c[level] < c[level - 1] && c[level] < c[level + 1] && c[level] < kValleyShare * maxValue;
}

// A candidate must not sit on a slope: neither ten-level flank may average more
// than the margin above it.
bool StandsAboveFlanks(const ContourCurve& c, const Peak& peak) {
    const int p = peak.level;
    const double leftMean = MeanOf(c, p - kFlankLength, p - 1);
    const double rightMean = MeanOf(c, p + 1, p + kFlankLength);
    return !(leftMean - kSlopeMargin > peak.value || rightMean - kSlopeMargin > peak.value);
}

// True when some valley between the peak and the main peak lies low enough that
// the peak rises above the mean of the curve from the valley to the peak.
bool HasValleyTowardsMain(const ContourCurve& c, const Peak& peak, int mainPeak, double maxValue) {
    const int p = peak.level;
    const double h = peak.value;
    if (p + kFlankLength < mainPeak - kFlankLength) {
        for (int v = p + kFlankLength; v <= mainPeak - kFlankLength - 1; ++v) {
            if (IsValley(c, v, maxValue) && h > MeanOf(c, p + 1, v)) {
                return true;
            }
        }
    }
    if (p - kFlankLength > mainPeak + kFlankLength) {
        for (int v = mainPeak + kFlankLength; v <= p - kFlankLength - 1; ++v) {
            if (IsValley(c, v, maxValue) && h > MeanOf(c, v, p - 1)) {
                return true;
            }
        }
    }
    return false;
}

ContourCurve SmoothCurve(const ContourCurve& c) {
    ContourCurve smoothed{};
    const int size = static_cast<int>(c.size());
    for (int k = 0; k < size; ++k) {
        double sum = 0.0;
        int terms = 0;
        for (int j = k - 2; j <= k + 2; ++j) {
            if (j >= 0 && j < size) {
                sum += c[j];
                ++terms;
            }
        }
        smoothed[k] = sum / static_cast<double>(terms);
    }
    return smoothed;
}

struct Run {
    int start;
    int end;  // one past the last positive entry
};

// Longest run of positive curvature that starts right after a negative entry;
// the first of equal length wins. Returns false when there is none.
bool FindLongestPositiveRun(const std::vector<double>& d, Run& longest) {
    bool found = false;
    const int size = static_cast<int>(d.size());
    int j = 1;
    while (j < size) {
        if (d[j - 1] < 0 && d[j] > 0) {
            const int start = j;
            while (j < size && d[j] > 0) {
                ++j;
            }
            if (!found || j - start > longest.end - longest.start) {
                longest = Run{start, j};
                found = true;
            }
            j = j + 1;
        } else {
            ++j;
        }
    }
    return found;
}

int CountNegative(const std::vector<double>& d, int first, int last) {
    int count = 0;
    for (int i = first; i < last; ++i) {
        count += d[i] < 0 ? 1 : 0;
    }
    return count;
}

}  // namespace

bool RisesFromTheNoise(const ContourCurve& contourCurve, int level) {
    const ContourCurve& c = contourCurve;
    if (level < 2) {
        return false;
    }
    const double floor = *std::min_element(c.begin() + 1, c.begin() + level);
    return floor >= kNoiseValleyShare * std::min(c[1], c[level]);
}

int StrongestPeakAbove(const ContourCurve& contourCurve, int level) {
    const ContourCurve& c = contourCurve;
    Peak best{0.0, 0};
    for (int p = std::max(level + 1, kFlankLength + 1); p <= 255 - kFlankLength; ++p) {
        const Peak peak{c[p], p};
        if (IsLocalMaximum(c, p) && StandsAboveFlanks(c, peak) && peak.value > best.value) {
            best = peak;
        }
    }
    return best.level;
}

int StrongestPeakBelow(const ContourCurve& contourCurve, int level) {
    const ContourCurve& c = contourCurve;
    Peak best{0.0, 0};
    for (int p = std::max(kFirstPeakLevel, kFlankLength + 1); p < level; ++p) {
        const Peak peak{c[p], p};
        if (IsLocalMaximum(c, p) && StandsAboveFlanks(c, peak) && peak.value > best.value &&
            IsValleyDeep(c, level, p)) {
            best = peak;
        }
    }
    return best.level;
}

void FindCurvePeaks(const ContourCurve& contourCurve, bool& hasSecond, int& mainPeak,
                    int& secondPeak) {
    const ContourCurve& c = contourCurve;
    std::vector<Peak> peaks;
    double maxValue = 0.0;
    mainPeak = 0;
    for (int level = kFirstPeakLevel; level <= kLastPeakLevel; ++level) {
        if (!IsLocalMaximum(c, level)) {
            continue;
        }
        peaks.push_back(Peak{c[level], level});
        if (c[level] > maxValue) {
            maxValue = c[level];
            mainPeak = level;
        }
    }

    std::vector<Peak> candidates;
    for (const Peak& peak : peaks) {
        if (peak.level - kFlankLength < 1 || peak.level + kFlankLength > 255) {
            continue;
        }
        if (StandsAboveFlanks(c, peak) && HasValleyTowardsMain(c, peak, mainPeak, maxValue)) {
            candidates.push_back(peak);
        }
    }

    hasSecond = false;
    secondPeak = 0;
    if (!candidates.empty()) {
        double best = 0.0;
        for (const Peak& candidate : candidates) {
            if (candidate.value > best) {
                best = candidate.value;
                secondPeak = candidate.level;
            }
        }
        hasSecond = IsValleyDeep(c, mainPeak, secondPeak);
    }
    if (!hasSecond) {
        FindShoulderPeak(c, mainPeak, hasSecond, secondPeak);
    }
}

bool IsValleyDeep(const ContourCurve& contourCurve, int mainLevel, int secondLevel) {
    const ContourCurve& c = contourCurve;
    const int a = std::min(mainLevel, secondLevel);
    const int b = std::max(mainLevel, secondLevel);
    double valleyFloor = c[a];
    for (int i = a + 1; i <= b; ++i) {
        valleyFloor = std::min(valleyFloor, c[i]);
    }
    if (std::trunc(c[mainLevel] / 10.0) + valleyFloor >= c[secondLevel]) {
        return false;
    }
    const double mid = (valleyFloor + c[secondLevel]) * 0.5;

    int left = secondLevel;
    for (int i = a; i <= b - 1; ++i) {
        if (c[i] > mid && mid > c[i + 1]) {
            left = i;
            break;
        }
    }
    int right = secondLevel;
    for (int j = b - 1; j >= a; --j) {
        if (c[j] < mid && mid < c[j + 1]) {
            right = j;
            break;
        }
    }
    const int width = right - left;
    if (width < kMinValleyWidth) {
        return false;
    }
    int below = 0;
    for (int i = left; i <= right - 1; ++i) {
        below += c[i] < mid ? 1 : 0;
    }
    return kBelowShare * width <= below;
}

void FindShoulderPeak(const ContourCurve& contourCurve, int mainPeak, bool& hasSecond,
                      int& secondPeak) {
    hasSecond = false;
    secondPeak = 0;
    const ContourCurve s = SmoothCurve(contourCurve);

    // Positive where the smoothed curve bends downwards; entry j belongs to level
    // mainPeak + 4 + j, the centre of its window.
    std::vector<double> d;
    for (int x = mainPeak + 2; x <= kLastCurvatureLevel; ++x) {
        d.push_back(0.5 * (s[x + 2] - s[x]) - 0.25 * (s[x + 4] - s[x]));
    }

    Run run{0, 0};
    if (!FindLongestPositiveRun(d, run)) {
        return;
    }
    const int length = run.end - run.start;
    if (length <= 6) {
        return;
    }
    const int negBefore = CountNegative(d, 0, run.start);
    const int negAfter = CountNegative(d, run.end, static_cast<int>(d.size()));
    if (negBefore > 2 * length && negAfter > 5 * length) {
        hasSecond = true;
        secondPeak = (run.start + run.end) / 2 + mainPeak + 4;
    }
}

}  // namespace edgebin::detail
