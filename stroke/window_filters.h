// Edge-pixel filters that count neighbours in windows scaled by the stroke width
// of each band.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "stroke/stroke_width.h"

namespace edgebin::detail {

// Where a pixel sits in its counting window.
enum AnchorMode {
    kAnchorCentre = 0,
    kAnchorTopLeft,
    kAnchorBottomLeft,
    kAnchorTopRight,
    kAnchorBottomRight
};

// `counts` (CV_16UC1, source's size) receives per band the unnormalised box sum of
// `source` over a square window of side min(band height, band width,
// trunc(width * windowFactor)), placed by `anchorMode`. Windows read across band
// edges; only the image border is reflected (reflect-101).
// Precondition: the bands lie inside `source` and every window side is >= 1.
void CountInBandWindows(const cv::Mat& source, cv::Mat& counts,
                        const std::vector<LineBand>& lineBands,
                        const std::vector<int>& bandStrokeWidths, int anchorMode,
                        double windowFactor);

// Clears edge pixels whose centred window holds fewer than
// trunc(rowWidth * countFactor) edge pixels. Leaves `map` as 0/1. A description
// that does not tile the map is refused and the map is left unchanged. `threads`
// (>= 1) share the bands; the result does not depend on their number.
void DensityFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                   const std::vector<LineBand>& lineBands, const std::vector<int>& bandStrokeWidths,
                   double windowFactor, double countFactor, int threads = 1);

// Clears edge pixels for which at least `minVotes` of five windows (centred and
// with the pixel at each corner) are sparse in the sense of DensityFilter. Same
// refusal rule and threads as DensityFilter.
void CornerVoteFilter(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                      const std::vector<LineBand>& lineBands,
                      const std::vector<int>& bandStrokeWidths, int minVotes, double windowFactor,
                      double countFactor, int threads = 1);

struct DensityRule {
    double windowFactor;
    double countFactor;
};

struct CornerVoteRule {
    int minVotes;
    double windowFactor;
    double countFactor;
};

// DensityFilter then CornerVoteFilter, with the same result; the edge pixels are
// listed once, the second filter taking the first one's list less its removals.
void DensityThenCornerVote(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                           const std::vector<LineBand>& lineBands,
                           const std::vector<int>& bandStrokeWidths, const DensityRule& density,
                           const CornerVoteRule& cornerVote, int threads = 1);

}  // namespace edgebin::detail
