#include "tools/evaluation/metrics.h"

#include <cmath>
#include <limits>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kDrdRadius = 2;
constexpr int kDrdSide = 2 * kDrdRadius + 1;
constexpr int kBlockSide = 8;

using DrdWeights = double[kDrdSide][kDrdSide];

void FillDrdWeights(DrdWeights& weights) {
    double sum = 0.0;
    for (int i = 0; i < kDrdSide; ++i) {
        for (int j = 0; j < kDrdSide; ++j) {
            const int di = i - kDrdRadius;
            const int dj = j - kDrdRadius;
            weights[i][j] = (di == 0 && dj == 0) ? 0.0 : 1.0 / std::sqrt(di * di + dj * dj);
            sum += weights[i][j];
        }
    }
    for (auto& row : weights) {
        for (double& w : row) {
            w /= sum;
        }
    }
}

bool IsInk(const cv::Mat& grey, int y, int x) {
    return grey.at<unsigned char>(y, x) == 0;
}

double PixelDistortion(const cv::Mat& truth, int y, int x, bool resultInk,
                       const DrdWeights& weights) {
    double distortion = 0.0;
    for (int i = 0; i < kDrdSide; ++i) {
        const int ny = y + i - kDrdRadius;
        if (ny < 0 || ny >= truth.rows) {
            continue;
        }
        for (int j = 0; j < kDrdSide; ++j) {
            const int nx = x + j - kDrdRadius;
            if (nx < 0 || nx >= truth.cols) {
                continue;
            }
            if (IsInk(truth, ny, nx) != resultInk) {
                distortion += weights[i][j];
            }
        }
    }
    return distortion;
}

bool BlockIsUniform(const cv::Mat& block) {
    const int inkCount = block.rows * block.cols - cv::countNonZero(block);
    return inkCount == 0 || inkCount == block.rows * block.cols;
}

// One sub-iteration of Zhang and Suen's thinning of a 0/1 image, as OpenCV's
// ximgproc implements it (whose module would bring OpenCV's image codecs into
// every program that scores a page): pixels are marked from the image as it was
// before the sub-iteration, then removed. True when any was removed.
bool ThinningPass(cv::Mat& image, int pass) {
    cv::Mat marker = cv::Mat::zeros(image.size(), CV_8UC1);
    for (int y = 1; y + 1 < image.rows; ++y) {
        const std::uint8_t* above = image.ptr(y - 1);
        const std::uint8_t* row = image.ptr(y);
        const std::uint8_t* below = image.ptr(y + 1);
        std::uint8_t* marked = marker.ptr(y);
        for (int x = 1; x + 1 < image.cols; ++x) {
            if (row[x] == 0) {
                continue;  // removing paper changes nothing
            }
            // The eight neighbours clockwise from the one above.
            const int p[8] = {above[x], above[x + 1], row[x + 1], below[x + 1],
                              below[x], below[x - 1], row[x - 1], above[x - 1]};
            int transitions = 0;
            int ink = 0;
            for (int i = 0; i < 8; ++i) {
                transitions += p[i] == 0 && p[(i + 1) % 8] == 1;
                ink += p[i];
            }
            const int first = pass == 0 ? p[0] * p[2] * p[4] : p[0] * p[2] * p[6];
            const int second = pass == 0 ? p[2] * p[4] * p[6] : p[0] * p[4] * p[6];
            marked[x] = transitions == 1 && ink >= 2 && ink <= 6 && first == 0 && second == 0;
        }
    }
    image.setTo(0, marker);
    return cv::countNonZero(marker) > 0;
}

}  // namespace

double Percentage(long long part, long long whole, bool bothEmpty) {
    if (whole == 0) {
        return bothEmpty ? 100.0 : 0.0;
    }
    return 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

double HarmonicMean(double a, double b) {
    return (a + b) > 0.0 ? 2.0 * a * b / (a + b) : 0.0;
}

cv::Mat InkMask(const cv::Mat& grey) {
    cv::Mat mask;
    cv::compare(grey, 0, mask, cv::CMP_EQ);
    return mask;
}

cv::Mat InkSkeleton(const cv::Mat& inkMask) {
    cv::Mat padded;
    cv::copyMakeBorder(inkMask, padded, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(0));
    // OpenCV's scaling to 0/1: values from 128 up count as ink.
    padded.convertTo(padded, CV_8U, 1.0 / 255.0);
    bool thinned = true;
    while (thinned) {
        const bool first = ThinningPass(padded, 0);
        const bool second = ThinningPass(padded, 1);
        thinned = first || second;
    }
    return padded(cv::Rect(1, 1, inkMask.cols, inkMask.rows)) * 255;
}

double PeakSignalToNoiseRatio(const cv::Mat& result, const cv::Mat& truth) {
    cv::Mat differing;
    cv::compare(InkMask(result), InkMask(truth), differing, cv::CMP_NE);
    const long long count = cv::countNonZero(differing);
    if (count == 0) {
        return std::numeric_limits<double>::infinity();
    }
    const double mse = static_cast<double>(count) / static_cast<double>(truth.total());
    return 10.0 * std::log10(1.0 / mse);
}

long long CountNonUniformBlocks(const cv::Mat& truth) {
    long long count = 0;
    for (int y = 0; y < truth.rows; y += kBlockSide) {
        for (int x = 0; x < truth.cols; x += kBlockSide) {
            const cv::Rect block(x, y, std::min(kBlockSide, truth.cols - x),
                                 std::min(kBlockSide, truth.rows - y));
            if (!BlockIsUniform(truth(block))) {
                ++count;
            }
        }
    }
    return count;
}

double DistanceReciprocalDistortion(const cv::Mat& result, const cv::Mat& truth) {
    DrdWeights weights;
    FillDrdWeights(weights);
    double sum = 0.0;
    for (int y = 0; y < truth.rows; ++y) {
        for (int x = 0; x < truth.cols; ++x) {
            const bool resultInk = IsInk(result, y, x);
            if (resultInk != IsInk(truth, y, x)) {
                sum += PixelDistortion(truth, y, x, resultInk, weights);
            }
        }
    }
    const long long blocks = CountNonUniformBlocks(truth);
    return sum / static_cast<double>(std::max(blocks, 1LL));
}

BinarizationScores ScoreBinarization(const cv::Mat& result, const cv::Mat& truth) {
    const cv::Mat resultInk = InkMask(result);
    const cv::Mat truthInk = InkMask(truth);
    const cv::Mat truthSkeleton = InkSkeleton(truthInk);

    cv::Mat overlap;
    cv::bitwise_and(resultInk, truthInk, overlap);
    cv::Mat skeletonFound;
    cv::bitwise_and(resultInk, truthSkeleton, skeletonFound);

    const long long resultCount = cv::countNonZero(resultInk);
    const long long truthCount = cv::countNonZero(truthInk);
    const bool bothEmpty = resultCount == 0 && truthCount == 0;

    BinarizationScores scores;
    scores.precision = Percentage(cv::countNonZero(overlap), resultCount, bothEmpty);
    scores.recall = Percentage(cv::countNonZero(overlap), truthCount, bothEmpty);
    scores.fMeasure = HarmonicMean(scores.precision, scores.recall);
    scores.pseudoRecall =
        Percentage(cv::countNonZero(skeletonFound), cv::countNonZero(truthSkeleton), bothEmpty);
    scores.pseudoFMeasure = HarmonicMean(scores.precision, scores.pseudoRecall);
    scores.psnr = PeakSignalToNoiseRatio(result, truth);
    scores.drd = DistanceReciprocalDistortion(result, truth);
    return scores;
}
