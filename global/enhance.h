// Page enhancement that feeds the gradient map: flattens the paper so that the
// gradient sees ink edges rather than stains, shadows, uneven lighting, scanner
// grain or dark borders, and evens out faint and dark ink.
#pragma once

#include <opencv2/core.hpp>

// `gray`: 8-bit, one or three channels. `window` and `weight` parametrise the
// local test that marks likely ink: darker than mean - weight * deviation. `enhanced`
// receives an 8-bit one-channel image of gray's size (paper 255); `background` may
// receive the paper estimate (8-bit) or stay empty. 1 <= window <= 2048 (the test is taken in
// exact 64-bit integers). Deterministic; cost linear in pixels.
void EnhancePage(const cv::Mat& gray, int window, double weight, cv::Mat& enhanced,
                 cv::Mat& background);
