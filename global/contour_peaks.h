// Peak analysis of the contour-length curve: a main peak level and, when one
// stands clearly apart, a second peak level.
#pragma once

#include "global/contour_curve.h"

namespace edgebin::detail {

// Peak analysis of a given curve. `mainPeak` is 0 or a level in 5..254;
// `secondPeak` is 0 whenever `hasSecond` is false.
void FindCurvePeaks(const ContourCurve& contourCurve, bool& hasSecond, int& mainPeak,
                    int& secondPeak);

// True when the curve from level 1 up to `level` never dips below three quarters of
// the lower of its two ends: a peak there rises straight out of the counts of the first
// levels, where the gradient map's noise lies, with no valley of its own.
bool RisesFromTheNoise(const ContourCurve& contourCurve, int level);

// The highest local maximum of the curve above `level` that does not sit on a
// slope (neither ten-level flank averages more than 5 above it); 0 when there is
// none.
int StrongestPeakAbove(const ContourCurve& contourCurve, int level);

// The highest local maximum of the curve below `level` that does not sit on a
// slope and lies apart from `level` by a deep valley (IsValleyDeep); 0 when there
// is none.
int StrongestPeakBelow(const ContourCurve& contourCurve, int level);

// True when the curve between the two levels dips deep and wide enough below the
// second peak.
bool IsValleyDeep(const ContourCurve& contourCurve, int mainLevel, int secondLevel);

// Curvature search on the smoothed curve right of `mainPeak` for a shoulder.
void FindShoulderPeak(const ContourCurve& contourCurve, int mainPeak, bool& hasSecond,
                      int& secondPeak);

}  // namespace edgebin::detail
