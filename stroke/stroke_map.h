// Cleaning of a binary edge map by component size and by stroke-scaled density.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "stroke/stroke_width.h"

namespace edgebin::detail {

// Clears undersized components, then sparse pixels (density filter 6/6, corner
// vote 4 of 5 at 10/10). On return `map` holds 0/1. A stroke description that does
// not tile the map (see IsCompleteStrokeDescription) is refused: `map` is left
// exactly as it was. `threads` (>= 1) share the density filter and the corner
// vote; the result does not depend on their number.
void CleanStrokeMap(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths, double componentFactor,
                    int threads = 1);

// Clears the whole bounding box of every 8-connected edge component with fewer
// than c*c pixels, c = clamp(trunc(width of its middle row * componentFactor), 3, 10).
// Leaves `map` as 0/255. Refused (map unchanged) when rowStrokeWidths has not one
// entry per row. `threads` split the component search into bands of rows.
void ClearUndersizedComponents(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                               double componentFactor, int threads = 1);

}  // namespace edgebin::detail
