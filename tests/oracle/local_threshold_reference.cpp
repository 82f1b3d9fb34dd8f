// Straightforward local threshold voting: every voter's window is visited pixel by
// pixel, for its statistics (two passes) and for its votes.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "oracle/oracle.h"

namespace reference {

namespace {

// Inclusive window of one pixel, clipped to the page.
struct Window {
    int x0;
    int y0;
    int x1;
    int y1;
};

// Half sides beyond this reach past every page the front end accepts; the clamp
// keeps the conversion and the window arithmetic inside int.
constexpr double kMaxHalfSide = 1 << 29;

int HalfSide(double alpha, int strokeWidth, double factor) {
    const double half = ((alpha * 0.5) * strokeWidth) * factor;
    return static_cast<int>(std::max(-kMaxHalfSide, std::min(half, kMaxHalfSide)));
}

Window ClippedWindow(int x, int y, int half, int rows, int cols) {
    Window w;
    w.x0 = x - half > 0 ? x - half : 0;
    w.y0 = y - half > 0 ? y - half : 0;
    w.x1 = x + half >= cols ? cols - 1 : x + half;
    w.y1 = y + half >= rows ? rows - 1 : y + half;
    return w;
}

bool HasWidthPerRow(const std::vector<int>& rowStrokeWidths, int rows) {
    return rowStrokeWidths.size() >= static_cast<size_t>(rows);
}

// Mean and population deviation of the grey values of the voters in `w`, in two
// passes so that the deviation does not suffer from cancellation.
void VoterStats(const cv::Mat& edgeMaskCopy, const cv::Mat& gray, const Window& w, double& mean,
                double& deviation) {
    int n = 0;
    double sum = 0.0;
    for (int y = w.y0; y <= w.y1; ++y) {
        const unsigned char* voter = edgeMaskCopy.ptr<unsigned char>(y);
        const unsigned char* grey = gray.ptr<unsigned char>(y);
        for (int x = w.x0; x <= w.x1; ++x) {
            if (voter[x] != 0) {
                ++n;
                sum += grey[x];
            }
        }
    }
    mean = n > 0 ? sum / n : 0.0;
    double squares = 0.0;
    for (int y = w.y0; y <= w.y1; ++y) {
        const unsigned char* voter = edgeMaskCopy.ptr<unsigned char>(y);
        const unsigned char* grey = gray.ptr<unsigned char>(y);
        for (int x = w.x0; x <= w.x1; ++x) {
            if (voter[x] != 0) {
                const double d = grey[x] - mean;
                squares += d * d;
            }
        }
    }
    deviation = n > 0 ? std::sqrt(squares / n) : 0.0;
}

// Ink votes count down and paper votes up; 32-bit counters so that very dense
// pages with large windows cannot wrap around.
void CastVotes(const cv::Mat& gray, const Window& w, int threshold, cv::Mat& balance) {
    for (int y = w.y0; y <= w.y1; ++y) {
        const unsigned char* grey = gray.ptr<unsigned char>(y);
        std::int32_t* votes = balance.ptr<std::int32_t>(y);
        for (int x = w.x0; x <= w.x1; ++x) {
            votes[x] += grey[x] < threshold ? -1 : 1;
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
    if (edgeMaskCopy.size() != gray.size() || !HasWidthPerRow(rowStrokeWidths, rows)) {
        return;
    }
    CV_Assert(edgeMaskCopy.type() == CV_8UC1 && gray.type() == CV_8UC1);

    for (int y = 0; y < rows; ++y) {
        const int half = HalfSide(alpha, rowStrokeWidths[y], 1.0);
        const unsigned char* voter = edgeMaskCopy.ptr<unsigned char>(y);
        double* means = meanMap.ptr<double>(y);
        double* deviations = deviationMap.ptr<double>(y);
        for (int x = 0; x < cols; ++x) {
            if (voter[x] != 0) {
                VoterStats(edgeMaskCopy, gray, ClippedWindow(x, y, half, rows, cols), means[x],
                           deviations[x]);
            }
        }
    }
}

void VoteLocalThreshold(const cv::Mat& edgeMaskCopy, const cv::Mat& gray,
                        const cv::Mat& restoredMap, const std::vector<int>& rowStrokeWidths,
                        cv::Mat& dst, double alpha, double k) {
    const int rows = edgeMaskCopy.rows;
    const int cols = edgeMaskCopy.cols;
    if (gray.size() != edgeMaskCopy.size() || restoredMap.size() != edgeMaskCopy.size() ||
        !HasWidthPerRow(rowStrokeWidths, rows)) {
        dst = cv::Mat(rows, cols, CV_8UC1, cv::Scalar(255));
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
        const unsigned char* voter = edgeMaskCopy.ptr<unsigned char>(y);
        const unsigned char* restored = restoredMap.ptr<unsigned char>(y);
        const double* means = meanMap.ptr<double>(y);
        const double* deviations = deviationMap.ptr<double>(y);
        for (int x = 0; x < cols; ++x) {
            if (voter[x] == 0) {
                continue;
            }
            const int threshold = cvRound(deviations[x] * k + means[x]);
            const double factor = restored[x] != 0 ? 3.0 : 1.0;
            const Window w = ClippedWindow(x, y, HalfSide(alpha, strokeWidth, factor), rows, cols);
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
}

}  // namespace reference
