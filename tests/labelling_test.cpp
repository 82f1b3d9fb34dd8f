// The contour-tracing labeller (the oracle of the mask components) on the worked
// example of a hole below a component's first pixel. Random masks, views and the
// records are in MaskComponentsEquivalence (stage_equivalence_test).
#include "oracle/contour_tracing.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace edgebin::detail;

TEST(LabelComponents, HoleBelowTheFirstPixelStillLabelsTheWholeComponent) {
    // F = foreground (0), B = background: all ten F pixels get label 1.
    const std::string rows =
        "BFFFB"
        "FBFFF"
        "BFFFB";
    std::vector<unsigned char> pixels;
    for (char c : rows) {
        pixels.push_back(c == 'F' ? 0 : 255);
    }
    std::vector<int> labels(pixels.size(), 7);
    EXPECT_EQ(LabelComponents(pixels.data(), 5, 3, labels.data()), 1);
    EXPECT_EQ(std::count(labels.begin(), labels.end(), 1), 10);
}
