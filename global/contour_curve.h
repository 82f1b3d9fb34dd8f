// Mean component outline length of the gradient map at every threshold level.
#pragma once

#include <array>
#include <opencv2/core.hpp>

namespace edgebin::detail {

using ContourCurve = std::array<double, 256>;

// contourCurve[l] = MeanContourLength of (gradMap > l) after RemoveSpecks.
void BuildContourCurve(const cv::Mat& gradMap, ContourCurve& contourCurve);

// Makes `img` 0/255 and clears every 8-connected component of fewer than 3 pixels.
void RemoveSpecks(cv::Mat& img);

// Number of background pixels touching the foreground along a side, divided by
// the number of 8-connected foreground components; 0 without components.
double MeanContourLength(const cv::Mat& img);

}  // namespace edgebin::detail
