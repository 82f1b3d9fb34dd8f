// The pictures of one run for --debug-dir: what each stage saw and decided.
#pragma once

#include <opencv2/core.hpp>
#include <string>

#include "edgebin/edgebin.hpp"
#include "pipeline/binarize.h"

namespace edgebin::cli {

// Writes into `dir` (created when missing), as far as the run got:
//   1-enhanced.png   the enhanced page the gradients are taken from
//   2-gradient.png   the 8-bit gradient map, stretched to the full grey range
//   3-edges.png      the global edge mask at the chosen threshold (edges black)
//   4-bands.png      the text bands over the page, each with its stroke width
//   5-voters.png     the voters over the page: kept blue, restored red
//   6-votes.png      the vote balance: red where ink won, green where paper won
//   7-result.png     the result
//   contour-curve.png  the contour-length curve on a log axis, with its peaks, the
//                      threshold and the level it was mended from
// `grey` is the page that was binarized; the stages of a page rescaled to the
// working resolution are drawn at the working size, the result at the input's. On failure returns
// false with `reason`.
bool WriteStageImages(const std::string& dir, const cv::Mat& grey,
                      const detail::StageImages& stages, const Result& result, std::string& reason);

}  // namespace edgebin::cli
