// Quality figures of a binarized page against its ground truth.
//
// Both images are 8-bit, one channel and of the same size; a pixel is ink when it
// is 0 and paper when it is anything else. All percentages are in 0..100.
#pragma once

#include <opencv2/core.hpp>

struct BinarizationScores {
    double precision = 0.0;       // % of result ink that is truth ink
    double recall = 0.0;          // % of truth ink found in the result
    double fMeasure = 0.0;        // harmonic mean of precision and recall, %
    double pseudoRecall = 0.0;    // % of the truth ink skeleton found in the result
    double pseudoFMeasure = 0.0;  // harmonic mean of precision and pseudo-recall, %
    double psnr = 0.0;            // dB; +infinity for identical images
    double drd = 0.0;             // distance-reciprocal distortion per non-uniform block
};

// Ratio `part / whole` in %. When `whole` is 0 the ratio is undefined; it is then
// 100 if `bothEmpty` (the two images agree that there is nothing to find) and 0
// otherwise, so an empty result never scores on a page that has ink.
double Percentage(long long part, long long whole, bool bothEmpty);

// Harmonic mean of two percentages, 0 when both are 0.
double HarmonicMean(double a, double b);

// 255 where `grey` is ink (0), 0 elsewhere.
cv::Mat InkMask(const cv::Mat& grey);

// One-pixel-wide skeleton (255) of the 255 pixels of `inkMask`, by Zhang-Suen
// thinning. The mask is padded with paper first so that strokes touching the image
// border thin like any other stroke.
cv::Mat InkSkeleton(const cv::Mat& inkMask);

// 10·log10(1 / MSE) with MSE the share of pixels whose ink/paper class differs;
// +infinity when none differs.
double PeakSignalToNoiseRatio(const cv::Mat& result, const cv::Mat& truth);

// Number of 8×8 blocks of `truth`, tiled from the top-left corner, that hold both
// ink and paper. Partial blocks at the right and bottom edges count like whole
// ones, over the pixels they have.
long long CountNonUniformBlocks(const cv::Mat& truth);

// Distance-reciprocal distortion: every pixel whose class differs from the truth
// adds Σ W(i,j)·|truth(neighbour) − result(pixel)| over its 5×5 neighbourhood
// (0/1 units), W the reciprocal-distance matrix with centre 0, normalised to sum 1.
// Neighbours outside the image add nothing. The sum is divided by the number of
// non-uniform 8×8 truth blocks, or by 1 when there is none.
double DistanceReciprocalDistortion(const cv::Mat& result, const cv::Mat& truth);

// Every figure at once. Preconditions as stated at the top of this file.
BinarizationScores ScoreBinarization(const cv::Mat& result, const cv::Mat& truth);
