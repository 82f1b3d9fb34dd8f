// Puts the straightforward stages in place of the fast ones for edgebin-reference.
#include "oracle/oracle.h"

void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve) {
    reference::BuildContourCurve(gradMap, contourCurve);
}
