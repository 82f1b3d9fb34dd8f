// Synthetic degraded document pages with exact ground truth, for tests and
// benchmarks.
#pragma once

#include <cstdint>
#include <opencv2/core.hpp>

struct PageOptions {
    std::uint32_t seed = 1;
    int width = 1200;
    int height = 900;
    // 0 gives a clean page; 1 the strongest gradients, stains, fading, bleed-through,
    // blur, noise and compression. Values outside 0..1 are clamped.
    double difficulty = 0.5;
};

// Draws lines of printed or handwritten-looking text and degrades the page.
// `page` receives the 8-bit grey page, `truth` its ink mask before any degradation
// (ink 0, paper 255), both width × height. The output depends only on `options`:
// the same options give the same images on every run, and the text (so the truth)
// depends only on the seed and the size, so pages of one seed differ only in
// their degradations.
// Preconditions: width and height at least 64.
void GeneratePage(const PageOptions& options, cv::Mat& page, cv::Mat& truth);
