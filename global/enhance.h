// Page enhancement that feeds the gradient map: flattens the paper so that the
// gradient sees ink edges rather than stains, shadows, uneven lighting, scanner
// grain or dark borders.
#pragma once

#include <opencv2/core.hpp>

namespace edgebin::detail {

// Whether the ink is deepened (EnhanceSettings::deepening).
enum class InkDeepening {
    kUnlessWideCores,  // left out where most of the ink lies in wide stroke cores
    kAlways,
    kNever,
};

// `gray`: 8-bit, one or three channels. `window` and `weight` parametrise the
// local test that marks likely ink: darker than mean - weight * deviation.
// `enhanced` receives an 8-bit one-channel image of gray's size (paper 255);
// `background` may receive the paper estimate (8-bit) or stay empty.
// 1 <= window <= 2048 (the test is taken in exact 64-bit integers). Deterministic;
// cost linear in pixels. `threads` (>= 1) bands of rows share the work; the result
// does not depend on their number. `deepening` as in EnhanceSettings. Returns whether
// the ink was deepened.
bool EnhancePage(const cv::Mat& gray, int window, double weight, cv::Mat& enhanced,
                 cv::Mat& background, int threads = 1,
                 InkDeepening deepening = InkDeepening::kUnlessWideCores);

// What the enhancement does besides dividing by the paper; the defaults are the
// tool's. Measurement tools vary them to see what each step is worth.
struct EnhanceSettings {
    // A page noisier than this (grey levels of white noise) is smoothed by a 3x3
    // median first: at the gradient's scale, flatbed noise of about 14 levels looks
    // like ink edges everywhere and the global threshold falls to the noise.
    double noisySigma = 5.0;
    // Dark regions connected to the page's edge and wider than any stroke become paper.
    bool fillBorders = true;
    // Pixels darker than the Gaussian mean of their surroundings (deviation 2) are
    // made darker again by the difference. Ink edges grow steeper on their inner side
    // only, so the edges that vote sit on the ink rather than around it, and the
    // steeper text edges lift the text's level of the gradient map above that of
    // the paper's grain. Left out where most of the ink lies in stroke cores wider
    // than that Gaussian (bold print, pages scanned at 600 dpi): there it would only
    // darken a rim inside every stroke.
    InkDeepening deepening = InkDeepening::kUnlessWideCores;
};

// EnhancePage with other settings; same preconditions and result.
bool EnhancePageWith(const cv::Mat& gray, int window, double weight,
                     const EnhanceSettings& settings, cv::Mat& enhanced, cv::Mat& background,
                     int threads = 1);

}  // namespace edgebin::detail
