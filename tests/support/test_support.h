// Small helpers shared by the unit tests.
#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

// 8-bit mask from rows of text: `on` characters become `value`, anything else 0.
cv::Mat MaskFromText(const std::vector<std::string>& rows, unsigned char value = 255,
                     char on = '#');

// Runs `body` and returns everything it wrote to std::cout.
std::string CaptureStdout(const std::function<void()>& body);

// Random 0/255 mask with the given share of non-zero pixels, deterministic in seed.
cv::Mat RandomMask(int rows, int cols, double density, unsigned seed);

// F-measure (%) of the ink (0) pixels of `result` against `truth` (ink 0).
double InkFMeasure(const cv::Mat& result, const cv::Mat& truth);
