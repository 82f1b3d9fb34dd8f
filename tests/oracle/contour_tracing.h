// Connected components of a packed byte buffer, labelled by contour tracing: the
// straightforward labeller that FindMaskComponents is compared with.
//
// Foreground is every byte equal to 0 (callers that want the components of the
// non-zero pixels of a mask pass its complement); components are 8-connected and
// numbered from 1 in the raster order of their first pixel. One raster scan walks
// every outer and every hole contour once, so no equivalence table is needed.
#pragma once

#include <vector>

#include "common/labelling.h"

namespace edgebin::detail {

// Labels the zero bytes of `pixels` (rows * cols bytes, rows back to back) into
// `labels` (rows * cols ints, owned by the caller). On return a foreground pixel
// holds its label 1..n, a background pixel 0, or -1 where a contour trace looked
// at it. Returns n.
int LabelComponents(const unsigned char* pixels, int cols, int rows, int* labels);

// Follows one contour from (startX, startY), which already holds `label`; `outer`
// selects the outer contour, otherwise a hole contour. Used by LabelComponents.
void TraceContour(const unsigned char* pixels, int cols, int rows, int* labels, int label,
                  int startX, int startY, bool outer);

// Replaces `records` by n records in label order (record i describes label i + 1).
void CollectComponentStats(const int* labels, int cols, int rows, int n,
                           std::vector<ComponentRecord>& records);

}  // namespace edgebin::detail
