// Final local thresholding: every voter votes ink or paper over its window.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace edgebin::detail {

// Mean and population deviation of the grey values of the voters (non-zero in
// `edgeMaskCopy`) in each voter's window of half side trunc(alpha/2 * rowWidth),
// clipped to the page. CV_64F maps, 0 away from voters.
void MaskedWindowStats(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                       const std::vector<int>& rowStrokeWidths, cv::Mat& meanMap,
                       cv::Mat& deviationMap, double alpha);

// Each voter computes T = cvRound(mean + k * deviation) and votes on every pixel
// of its window (three times wider when restored): ink where gray < T, paper
// otherwise; voters whose clipped window is narrower or shorter than the row width
// do not vote. `dst` = 0 where ink votes outnumber paper votes, else 255.
// `balance`, when given, receives paper votes minus ink votes per pixel (CV_32S).
// `threads` (>= 1) bands of rows share the work; the result does not depend on
// their number. `counters`, when given, lends its memory to the vote counts when
// it has their size and type (its content is lost); so does `dst`.
void VoteLocalThreshold(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                        const cv::Mat& restoredMap, const std::vector<int>& rowStrokeWidths,
                        cv::Mat& dst, double alpha, double k, cv::Mat* balance = nullptr,
                        int threads = 1, cv::Mat* counters = nullptr);

}  // namespace edgebin::detail
