// The page's own check of its result, with no ground truth: a verdict that tells an
// archive which of a million pages to look at.
#pragma once

#include <opencv2/core.hpp>

#include "edgebin/edgebin.hpp"

namespace edgebin::detail {

// Fills trace.suspect and trace.suspectReasons from the grey page, its binarized
// result (CV_8UC1, ink 0) and what the run decided on the way (the global level and
// its mend, the polarity detector's evidence). Preconditions: `grey` and `binary`
// are CV_8UC1 of one size, not empty. `threads` share the passes over the page; the
// verdict does not depend on their number.
void CheckResult(const cv::Mat& grey, const cv::Mat& binary, Trace& trace, int threads = 1);

// False when the result's ink cannot be the page's text: almost none, far more than
// `otsuInkShare` (OtsuInkShare of `grey`), or grey values under ink and paper that
// overlap (Separation under 1.6 and under half of the Otsu threshold's own), unless
// within small areas (tiles of 16 `strokeWidth`s, at least 64 pixels) they stand
// apart 0.7 times as far as under the Otsu threshold's. `threads` here and below
// share the passes over the page; no answer depends on their number.
bool IsPlausibleInk(const cv::Mat& grey, const cv::Mat& binary, double otsuInkShare,
                    int strokeWidth, int threads = 1);

// True when a result with `inkShare` holds under a tenth of `otsuInkShare`, the ink
// a plain Otsu threshold finds: it has lost its text.
bool HasLostItsInk(double inkShare, double otsuInkShare);

// True when a result with `inkShare` holds under 0.2 % of the page.
bool HasAlmostNoInk(double inkShare);

// True when a result with `inkShare` holds over one and a half times
// `otsuInkShare`: more than the page's text.
bool HasFarTooMuchInk(double inkShare, double otsuInkShare);

// True when ink covers at least 15 % of the page and its grey stands less than 2.8
// (`separation`, as Separation measures it) from the paper's: show-through, stains
// or thickened strokes taken for ink.
bool IsDenseInkNearPaper(double inkShare, double separation);

// IsDenseInkNearPaper of the CV_8UC1 result `binary` (ink 0) over the `grey` page.
bool HasTakenInPaper(const cv::Mat& grey, const cv::Mat& binary, int threads = 1);

// True when the CV_8UC1 result `binary` (ink 0) covers at least 15 % of the `grey`
// page and over a quarter of its ink lies in the page's dark surround
// (InkShareInSurround): a dark, noisy margin taken for ink.
bool HasTakenInSurround(const cv::Mat& grey, const cv::Mat& binary, int threads = 1);

// Separation of grey under ink and paper, (paper mean - ink mean) / sqrt(sum of
// variances), measured in square tiles of `tileSize` pixels and averaged weighted by
// each tile's ink; tiles with under 20 ink or paper pixels are left out. -1 when no
// tile counts. `grey`, `binary`: CV_8UC1 of one size (ink 0).
double LocalSeparation(const cv::Mat& grey, const cv::Mat& binary, int tileSize, int threads = 1);

// Share (0..1) of the ink (0) of `binary` lying in the dark surround of the `grey`
// page: the pixels at or below its Otsu threshold 8-connected to the page's border. 0
// without ink. `grey`, `binary`: CV_8UC1 of one size.
double InkShareInSurround(const cv::Mat& grey, const cv::Mat& binary);

// Share (0..1) of the clear edges of `grey` (3x3 Sobel magnitude above 8 times its
// median plus one, the median taken on every fourth strip of 32 rows) lying over
// `strokeWidth` pixels from the outline of `binary`'s ink; 0 when the page has no
// clear edge.
double MissedEdgeShare(const cv::Mat& grey, const cv::Mat& binary, int strokeWidth);

// True when over 2 % of the clear edges of `grey` lie over `strokeWidth` pixels from
// the outline of `binary`'s ink (MissedEdgeShare): text edges left out.
bool LeftClearEdgesOut(const cv::Mat& grey, const cv::Mat& binary, int strokeWidth);

// The median of the bands' stroke widths, 1 without bands.
int MedianStrokeWidth(const std::vector<TextBand>& bands);

// True when the run's final level is the higher of the contour curve's two peaks.
bool TookHigherPeak(const Trace& trace);

// True when the run's final level is the contour curve's second peak, above the main.
bool TookSecondPeakAboveMain(const Trace& trace);

// True when the run's final level is the lower of the contour curve's two peaks.
bool TookLowerPeak(const Trace& trace);

// Share of the page (0..1) that is ink (0) in the CV_8UC1 `binary`.
double InkShare(const cv::Mat& binary, int threads = 1);

// Share of the CV_8UC1 `grey` page below its Otsu threshold: the ink a plain
// global threshold finds, the yardstick of the checks.
double OtsuInkShare(const cv::Mat& grey, int threads = 1);

}  // namespace edgebin::detail
