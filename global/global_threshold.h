// First stage of the binarization: the global edge mask and its stroke description.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "stroke/stroke_width.h"

// Status codes of EstimateGlobalThreshold (and of the driver).
constexpr int kStatusOk = 0;
constexpr int kStatusNoRowsOrColumns = 11;
constexpr int kStatusBadChannels = 12;
constexpr int kStatusNoStrokes = -1;

// From the 8-bit `src` (1 or 3 channels): `gray`, the Scharr derivatives of the
// enhanced page, the thresholded `edgeMask` and its refined stroke description.
// Returns 0, 11 (no rows), 12 (channels) or -1 (no stroke structure at the chosen
// threshold nor at half of it).
int EstimateGlobalThreshold(const cv::Mat& src, cv::Mat& gray, cv::Mat& gradX, cv::Mat& gradY,
                            cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                            std::vector<int>& bandStrokeWidths, std::vector<int>& rowStrokeWidths,
                            double Rthre);
