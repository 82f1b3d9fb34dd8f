// Choice of the global gradient threshold between the curve's peak levels.
#pragma once

#include <opencv2/core.hpp>

namespace edgebin::detail {

// Prints the peak lines (and the ratio line with two peaks), returns the chosen
// level and writes `edgeMask` = 255 where gradMap > level, else 0.
int SelectPeakThreshold(const cv::Mat& gradMap, cv::Mat& edgeMask, double Rthre);

// The choice itself, once the peaks are known: prints the same lines and returns
// the level. With two peaks the higher level wins when the band pixels between
// them that touch no strong pixel cover more than `Rthre` of the map.
int ChoosePeakLevel(const cv::Mat& gradMap, bool hasSecond, int mainPeak, int secondPeak,
                    double Rthre);

// `isolatedMask` = `bandMask` without the pixels that have a non-zero 8-neighbour
// in `strongMask`.
void IsolateBandPixels(const cv::Mat& strongMask, const cv::Mat& bandMask, cv::Mat& isolatedMask);

}  // namespace edgebin::detail
