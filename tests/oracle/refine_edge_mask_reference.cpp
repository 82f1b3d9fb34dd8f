// Straightforward edge mask refinement: the eighteen window-count maps come from
// BandWindowSums, then two passes over the pixels decide.
#include "local/count_map_refinement.h"
#include "oracle/oracle.h"
#include "stroke/stroke_map.h"

namespace reference {

void RefineEdgeMask(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap, std::vector<cv::Mat>& dirMaps,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths,
                    const std::vector<int>& rowStrokeWidths, int mode, double nearScale,
                    double dominanceRatio) {
    if (mode <= 0) {
        return;
    }
    CV_Assert(edgeMaskCopy.type() == CV_8UC1);
    const int rows = edgeMaskCopy.rows;
    const int cols = edgeMaskCopy.cols;
    const bool describable =
        IsCompleteStrokeDescription(rows, cols, lineBands, bandStrokeWidths, rowStrokeWidths);
    if (!describable || (mode >= 2 && !DirectionMapsFit(dirMaps, edgeMaskCopy))) {
        edgeMaskCopy.setTo(1, edgeMaskCopy);
        if (mode >= 2) {
            restoredMap = cv::Mat::zeros(rows, cols, CV_8UC1);
        }
        return;
    }

    CleanStrokeMap(edgeMaskCopy, rowStrokeWidths, lineBands, bandStrokeWidths,
                   kCleaningComponentFactor);
    if (mode == 1) {
        return;
    }

    RefineThroughCountMaps(edgeMaskCopy, restoredMap, dirMaps, lineBands, bandStrokeWidths,
                           nearScale, dominanceRatio);
    edgeMaskCopy.setTo(1, edgeMaskCopy);
}

}  // namespace reference
