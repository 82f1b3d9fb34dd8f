// Refinement of the working edge mask into the voters of the local threshold.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "common/direction_maps.h"
#include "stroke/stroke_width.h"

namespace edgebin::detail {

// mode <= 0: nothing. mode 1: CleanStrokeMap only. mode >= 2: also suppresses
// pixels whose near window (side bandWidth * nearScale) is dominated by one
// gradient direction (largest direction count > cvRound(dominanceRatio * all)),
// then restores suppressed pixels whose far window (side bandWidth * 20) of
// suppressed pixels shows no dominant direction; restored pixels are 255 in
// `restoredMap`. `dirMaps` (nine 0/1 maps from BuildDirectionMaps) is consumed.
// On return `edgeMaskCopy` holds 0/1. The memory of `restoredMap` is written
// over when it has the mask's size and type (it must not share the mask's). `threads` (>= 1) bands
// of rows share the window counts; the result does not depend on their number.
void RefineEdgeMask(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap, std::vector<cv::Mat>& dirMaps,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths,
                    const std::vector<int>& rowStrokeWidths, int mode, double nearScale,
                    double dominanceRatio, int threads = 1);

// The same with the direction maps as ListDirections gives them (of the mask's
// size, else the call refuses as above), which are left as they are. A caller that
// already holds the mask as the cleaning makes it with this description passes it
// as `cleanedMask` (of the mask's size and type, not sharing `restoredMap`'s
// memory); a call that goes on then takes it for `edgeMaskCopy` instead of
// cleaning again.
void RefineEdgeMask(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap, const DirectionList& directions,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths,
                    const std::vector<int>& rowStrokeWidths, int mode, double nearScale,
                    double dominanceRatio, int threads = 1, cv::Mat cleanedMask = cv::Mat());

}  // namespace edgebin::detail
