// Straightforward local threshold voting: every voter's window is visited pixel by
// pixel, for its statistics (two passes) and for its votes.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "local/voter_window.h"
#include "oracle/oracle.h"

namespace reference {

namespace {

// Ink votes count down and paper votes up; 32-bit counters so that very dense
// pages with large windows cannot wrap around.
void CastVotes(const cv::Mat& gray, const VoterWindow& w, int threshold, cv::Mat& balance) {
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
                        cv::Mat& dst, double alpha, double k, cv::Mat* balanceOut) {
    const int rows = edgeMaskCopy.rows;
    const int cols = edgeMaskCopy.cols;
    if (gray.size() != edgeMaskCopy.size() || restoredMap.size() != edgeMaskCopy.size() ||
        !HasWidthPerRow(rowStrokeWidths, rows)) {
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
            const VoterWindow w =
                ClippedWindow(x, y, HalfSide(alpha, strokeWidth, factor), rows, cols);
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
