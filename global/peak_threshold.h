// Choice of the global gradient threshold between the curve's peak levels.
#pragma once

#include <opencv2/core.hpp>

// Prints the peak lines (and the ratio line with two peaks), returns the chosen
// level and writes `edgeMask` = 255 where gradMap > level, else 0.
int SelectPeakThreshold(const cv::Mat& gradMap, cv::Mat& edgeMask, double Rthre);

// `isolatedMask` = `bandMask` without the pixels that have a non-zero 8-neighbour
// in `strongMask`.
void IsolateBandPixels(const cv::Mat& strongMask, const cv::Mat& bandMask, cv::Mat& isolatedMask);
