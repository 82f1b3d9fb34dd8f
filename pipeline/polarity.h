// Which way round a page is: dark ink on light paper, or a negative of one.
#pragma once

#include <opencv2/core.hpp>

#include "edgebin/edgebin.hpp"

namespace edgebin::detail {

// Evidence (-1..1) that the CV_8UC1 `grey` page has dark ink: the mean, over the
// page's strongest edges, of (2 × window mean - window min - window max) /
// (window max - window min) on the page shrunk by a whole factor. Ink covers
// less of the page than paper near any stroke, so the mean of a window around a
// stroke edge lies on the paper's side of its mid-range: +1 leans to dark ink, -1
// to light ink. Large dark areas (photographs, borders, stains) have edges too
// wide for the window and weigh little. The page of 255 - v gives exactly the
// opposite value. 0 for a page without edges. `threads` share the pass over the
// page; the value does not depend on their number.
double MeasureInkEvidence(const cv::Mat& grey, int threads = 1);

// The polarity to binarize `grey` with under `requested`: the requested one, or
// under Polarity::kAuto the detected one, dark ink when unsure. `evidence`
// receives the measure under kAuto and is emptied otherwise.
Polarity ChoosePolarity(const cv::Mat& grey, Polarity requested, std::optional<double>& evidence,
                        int threads = 1);

// True when `evidence` is too weak to tell the page's polarity: such a page is
// kept as it is and its result is suspect.
bool IsPolarityUnsure(double evidence);

}  // namespace edgebin::detail
