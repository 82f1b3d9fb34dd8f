// Straightforward edge mask refinement: every window count from one box filter per
// band over the whole map, then two passes over the pixels decide.
#include <algorithm>
#include <opencv2/imgproc.hpp>

#include "oracle/oracle.h"
#include "stroke/stroke_map.h"

namespace reference {

namespace {

constexpr int kMaps = 9;
constexpr double kFarScale = 20.0;

// Each band's rows take the sums of a box of side trunc(width * scale) that
// reaches across the band edges into the whole map, mirrored (101) at its border.
cv::Mat CountInBands(const cv::Mat& map, const std::vector<LineBand>& lineBands,
                     const std::vector<int>& bandStrokeWidths, double scale) {
    cv::Mat counts = cv::Mat::zeros(map.size(), CV_16UC1);
    for (size_t i = 0; i < lineBands.size(); ++i) {
        const int side = static_cast<int>(bandStrokeWidths[i] * scale);
        cv::Mat whole;
        cv::boxFilter(map, whole, CV_32F, cv::Size(side, side), cv::Point(-1, -1), false,
                      cv::BORDER_REFLECT_101);
        const LineBand& band = lineBands[i];
        for (int y = band.top; y <= band.bottom; ++y) {
            for (int x = band.left; x <= band.right; ++x) {
                counts.at<unsigned short>(y, x) =
                    static_cast<unsigned short>(std::min(whole.at<float>(y, x), 65535.0f));
            }
        }
    }
    return counts;
}

int LargestDirection(const std::vector<cv::Mat>& counts, int y, int x) {
    int largest = 0;
    for (int j = 1; j < kMaps; ++j) {
        largest = std::max<int>(largest, counts[j].at<unsigned short>(y, x));
    }
    return largest;
}

bool DirectionMapsMatch(const std::vector<cv::Mat>& dirMaps, const cv::Mat& mask) {
    return dirMaps.size() == kMaps &&
           std::all_of(dirMaps.begin(), dirMaps.end(), [&](const cv::Mat& map) {
               return map.type() == CV_8UC1 && map.size() == mask.size();
           });
}

}  // namespace

void RefineEdgeMask(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap, std::vector<cv::Mat>& dirMaps,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths,
                    const std::vector<int>& rowStrokeWidths, int mode, double nearScale,
                    double dominanceRatio) {
    if (mode <= 0) {
        return;
    }
    CV_Assert(edgeMaskCopy.type() == CV_8UC1);
    const int rows = edgeMaskCopy.rows;
    const int cols = edgeMaskCopy.cols;
    // A description or maps that do not fit the page leave every edge pixel a voter.
    if (!DescribesEveryRow(rows, cols, lineBands, bandStrokeWidths, rowStrokeWidths) ||
        (mode >= 2 && !DirectionMapsMatch(dirMaps, edgeMaskCopy))) {
        edgeMaskCopy.setTo(1, edgeMaskCopy);
        if (mode >= 2) {
            restoredMap = cv::Mat::zeros(rows, cols, CV_8UC1);
        }
        return;
    }

    CleanStrokeMap(edgeMaskCopy, rowStrokeWidths, lineBands, bandStrokeWidths, 0.6);
    if (mode == 1) {
        return;
    }

    std::vector<cv::Mat> nearCounts;
    for (const cv::Mat& map : dirMaps) {
        nearCounts.push_back(CountInBands(map, lineBands, bandStrokeWidths, nearScale));
    }
    cv::Mat removed = cv::Mat::zeros(rows, cols, CV_8UC1);
    restoredMap = cv::Mat::zeros(rows, cols, CV_8UC1);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            const int all = nearCounts[0].at<unsigned short>(y, x);
            if (edgeMaskCopy.at<unsigned char>(y, x) != 0 &&
                LargestDirection(nearCounts, y, x) > cvRound(dominanceRatio * all)) {
                edgeMaskCopy.at<unsigned char>(y, x) = 0;
                removed.at<unsigned char>(y, x) = 1;
            }
        }
    }
    std::vector<cv::Mat> farCounts;
    for (const cv::Mat& map : dirMaps) {
        cv::Mat removedOfDirection;
        cv::bitwise_and(map, removed, removedOfDirection);
        farCounts.push_back(
            CountInBands(removedOfDirection, lineBands, bandStrokeWidths, kFarScale));
    }
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            const int all = farCounts[0].at<unsigned short>(y, x);
            if (removed.at<unsigned char>(y, x) != 0 &&
                LargestDirection(farCounts, y, x) < cvRound(dominanceRatio * all)) {
                edgeMaskCopy.at<unsigned char>(y, x) = 1;
                restoredMap.at<unsigned char>(y, x) = 255;
            }
        }
    }
    edgeMaskCopy.setTo(1, edgeMaskCopy);
    // The maps are consumed: they end as their near counts.
    for (int j = 0; j < kMaps; ++j) {
        dirMaps[j] = nearCounts[j];
    }
}

}  // namespace reference
