// Straightforward local threshold voting: every voter's window is visited pixel by
// pixel, for its statistics (two passes) and for its votes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "oracle/oracle.h"

namespace reference {

namespace {

struct Window {
    int x0, y0, x1, y1;
};

// trunc(((alpha / 2) * width) * factor); windows wider than any page clip alike,
// so the conversion is kept inside int.
int HalfWindow(double alpha, int strokeWidth, double factor) {
    const double half = ((alpha * 0.5) * strokeWidth) * factor;
    return static_cast<int>(std::max(-1.0e9, std::min(half, 1.0e9)));
}

// The square of half side `half` around (x, y), cut to the page.
Window WindowAround(int x, int y, int half, int rows, int cols) {
    return Window{std::max(x - half, 0), std::max(y - half, 0), std::min(x + half, cols - 1),
                  std::min(y + half, rows - 1)};
}

// Mean and population deviation of the grey values of the voters in `w`.
void VoterMeanAndDeviation(const cv::Mat& voters, const cv::Mat& gray, const Window& w,
                           double& mean, double& deviation) {
    std::vector<double> values;
    for (int y = w.y0; y <= w.y1; ++y) {
        for (int x = w.x0; x <= w.x1; ++x) {
            if (voters.at<unsigned char>(y, x) != 0) {
                values.push_back(gray.at<unsigned char>(y, x));
            }
        }
    }
    mean = 0.0;
    deviation = 0.0;
    if (values.empty()) {
        return;
    }
    for (double value : values) {
        mean += value;
    }
    mean /= static_cast<double>(values.size());
    for (double value : values) {
        deviation += (value - mean) * (value - mean);
    }
    deviation = std::sqrt(deviation / static_cast<double>(values.size()));
}

// Ink votes count down and paper votes up; 32-bit counters so that very dense
// pages with large windows cannot wrap around.
void CastVotes(const cv::Mat& gray, const Window& w, int threshold, cv::Mat& balance) {
    for (int y = w.y0; y <= w.y1; ++y) {
        for (int x = w.x0; x <= w.x1; ++x) {
            balance.at<std::int32_t>(y, x) += gray.at<unsigned char>(y, x) < threshold ? -1 : 1;
        }
    }
}

}  // namespace

void MaskedWindowStats(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                       const std::vector<int>& rowStrokeWidths, cv::Mat& meanMap,
                       cv::Mat& deviationMap, double alpha) {
    const int rows = gray.rows;
    const int cols = gray.cols;
    meanMap = cv::Mat::zeros(rows, cols, CV_64F);
    deviationMap = cv::Mat::zeros(rows, cols, CV_64F);
    if (edgeMaskCopy.size() != gray.size() || rowStrokeWidths.size() < static_cast<size_t>(rows)) {
        return;
    }
    CV_Assert(edgeMaskCopy.type() == CV_8UC1 && gray.type() == CV_8UC1);

    for (int y = 0; y < rows; ++y) {
        const int half = HalfWindow(alpha, rowStrokeWidths[y], 1.0);
        for (int x = 0; x < cols; ++x) {
            if (edgeMaskCopy.at<unsigned char>(y, x) != 0) {
                VoterMeanAndDeviation(edgeMaskCopy, gray, WindowAround(x, y, half, rows, cols),
                                      meanMap.at<double>(y, x), deviationMap.at<double>(y, x));
            }
        }
    }
}

void VoteLocalThreshold(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                        const cv::Mat& restoredMap, const std::vector<int>& rowStrokeWidths,
                        cv::Mat& dst, double alpha, double k, cv::Mat* balanceOut) {
    const int rows = edgeMaskCopy.rows;
    const int cols = edgeMaskCopy.cols;
    if (gray.size() != edgeMaskCopy.size() || restoredMap.size() != edgeMaskCopy.size() ||
        rowStrokeWidths.size() < static_cast<size_t>(rows)) {
        dst = cv::Mat(rows, cols, CV_8UC1, cv::Scalar(255));
        if (balanceOut != nullptr) {
            *balanceOut = cv::Mat::zeros(rows, cols, CV_32S);
        }
        return;
    }
    CV_Assert(edgeMaskCopy.type() == CV_8UC1 && gray.type() == CV_8UC1 &&
              restoredMap.type() == CV_8UC1);

    cv::Mat meanMap;
    cv::Mat deviationMap;
    MaskedWindowStats(edgeMaskCopy, gray, rowStrokeWidths, meanMap, deviationMap, alpha);

    cv::Mat balance = cv::Mat::zeros(rows, cols, CV_32S);
    for (int y = 0; y < rows; ++y) {
        const int strokeWidth = rowStrokeWidths[y];
        for (int x = 0; x < cols; ++x) {
            if (edgeMaskCopy.at<unsigned char>(y, x) == 0) {
                continue;
            }
            const int threshold =
                cvRound(deviationMap.at<double>(y, x) * k + meanMap.at<double>(y, x));
            const double factor = restoredMap.at<unsigned char>(y, x) != 0 ? 3.0 : 1.0;
            const Window w = WindowAround(x, y, HalfWindow(alpha, strokeWidth, factor), rows, cols);
            // A window cut down below one stroke width by the page border sees too
            // little of the page to judge it.
            if (w.y1 - w.y0 + 1 < strokeWidth || w.x1 - w.x0 + 1 < strokeWidth) {
                continue;
            }
            CastVotes(gray, w, threshold, balance);
        }
    }
    // Ties and pixels no window reached stay paper.
    cv::compare(balance, 0, dst, cv::CMP_GE);
    if (balanceOut != nullptr) {
        *balanceOut = balance;
    }
}

}  // namespace reference
