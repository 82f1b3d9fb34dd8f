// The binarization driver: runs every stage in order on one grey page.
#pragma once

#include <opencv2/core.hpp>

#include "edgebin/edgebin.hpp"
#include "global/global_threshold.h"

namespace edgebin::detail {

// What a run leaves behind besides its result, for inspection.
struct StageImages : GlobalStageImages {
    cv::Mat edgeMask;     // the global edge mask, 0/255
    cv::Mat voters;       // the edge pixels left to vote after the refinement, 0/1
    cv::Mat restoredMap;  // the voters restored at the wider scale, 0/255
    cv::Mat balance;      // paper votes minus ink votes per pixel, CV_32S
    // The shrunk grey page the stages ran on when the page was rescaled to the
    // working resolution (every image above then has its size); empty otherwise.
    cv::Mat workingPage;
};

// Binarizes `src` (8-bit, one or three channels) into `dst` (CV_8UC1, 0 = ink,
// 255 = paper). Returns 0 on success or the first stage's code (11, 12 or -1);
// `dst` is left untouched on failure. What the stages decide goes to `trace`, the
// working images to `stages` when given (as far as the run got). A result with
// almost no ink is binarized again with the enhancement's other choice of ink
// deepening, and that result kept when it has ink (Trace::otherInkDeepening).
// `threads` (>= 1) splits the page's stages over that many bands of rows; the
// result does not depend on it.
int BinarizeImage(const cv::Mat& src, cv::Mat& dst, double alpha, double k, double Rthre,
                  Trace& trace, StageImages* stages = nullptr, int threads = 1);

// Binarize with the working images kept in `stages` (when given).
Result BinarizeWithStages(const cv::Mat& image, const Parameters& parameters, StageImages* stages);

}  // namespace edgebin::detail
