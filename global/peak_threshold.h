// Choice of the global gradient threshold between the curve's peak levels.
#pragma once

#include <opencv2/core.hpp>

#include "edgebin/edgebin.hpp"
#include "global/contour_curve.h"

namespace edgebin::detail {

// How the level is taken from the curve's peaks.
struct PeakChoice {
    // With two peaks the higher level wins when the band pixels between them that
    // touch no strong pixel cover more than this share of the map.
    double Rthre = 0.05;
    // Take the higher level: of two peaks the higher whatever the ratio; of one, the
    // curve's strongest peak above it when there is one. A main peak in the gradient
    // map's noise stands so high that every valley test turns the text's peak down,
    // and show-through can sit just under the ratio's limit.
    bool higherChosen = false;
    // Take the curve's strongest peak below the level chosen otherwise, when a deep
    // valley parts them: faded writing can make a peak of its own under two others.
    bool belowChosen = false;
    // Take the level this many times the one chosen otherwise (at most 254): where a
    // curve's only peak took in paper and no peak lies above it, the text's edges
    // stand above the level the paper's reach.
    double levelFactor = 1.0;
};

// Returns the level `choice` takes from the peaks of `curve`, gradMap's contour
// curve, and writes `edgeMask` = 255 where gradMap > level, else 0. The peaks (and
// the ratio with two peaks) go to `trace`.
int SelectPeakThreshold(const cv::Mat& gradMap, const ContourCurve& curve, cv::Mat& edgeMask,
                        const PeakChoice& choice, Trace& trace, int threads = 1);

// The choice itself, once the peaks are known: returns the level and records the
// peaks and the ratio in `trace`. With two peaks the higher level wins when the
// band pixels between them that touch no strong pixel cover more than `Rthre` of
// the map. `threads` share the measure; the level does not depend on their number.
int ChoosePeakLevel(const cv::Mat& gradMap, bool hasSecond, int mainPeak, int secondPeak,
                    double Rthre, Trace& trace, int threads = 1);

}  // namespace edgebin::detail
