#include "local/count_map_refinement.h"

#include <algorithm>
#include <array>

#include "local/band_window_sums.h"

namespace edgebin::detail {

namespace {

void CountWindows(std::vector<cv::Mat>& maps, const std::vector<LineBand>& lineBands,
                  const std::vector<int>& bandStrokeWidths, double scale) {
    for (cv::Mat& map : maps) {
        BandWindowSums(map, lineBands, bandStrokeWidths, scale);
    }
}

// Row pointers of the nine count maps, so the pixel loops read them side by side.
std::array<const unsigned short*, kDirectionMapCount> CountRows(const std::vector<cv::Mat>& counts,
                                                                int y) {
    std::array<const unsigned short*, kDirectionMapCount> rowsOut;
    for (int j = 0; j < kDirectionMapCount; ++j) {
        rowsOut[j] = counts[j].ptr<unsigned short>(y);
    }
    return rowsOut;
}

unsigned short LargestDirectionCount(
    const std::array<const unsigned short*, kDirectionMapCount>& counts, int x) {
    unsigned short largest = 0;
    for (int j = 1; j < kDirectionMapCount; ++j) {
        largest = std::max(largest, counts[j][x]);
    }
    return largest;
}

int DominanceLimit(double dominanceRatio, unsigned short allCount) {
    return cvRound(dominanceRatio * allCount);
}

// Clears the pixels whose near window is dominated by one direction and marks
// them in `removedMap`.
void SuppressDominantPixels(const std::vector<cv::Mat>& nearCounts, double dominanceRatio,
                            cv::Mat& edgeMaskCopy, cv::Mat& removedMap) {
    for (int y = 0; y < edgeMaskCopy.rows; ++y) {
        unsigned char* edge = edgeMaskCopy.ptr<unsigned char>(y);
        unsigned char* removed = removedMap.ptr<unsigned char>(y);
        const auto counts = CountRows(nearCounts, y);
        for (int x = 0; x < edgeMaskCopy.cols; ++x) {
            if (edge[x] == 0) {
                continue;
            }
            if (LargestDirectionCount(counts, x) > DominanceLimit(dominanceRatio, counts[0][x])) {
                edge[x] = 0;
                removed[x] = 1;
            }
        }
    }
}

// Gives back the removed pixels whose far window of removed pixels has no
// dominant direction. Strictly below the limit, not the mirror of suppression.
void RestoreMixedPixels(const std::vector<cv::Mat>& farCounts, double dominanceRatio,
                        cv::Mat& removedMap, cv::Mat& edgeMaskCopy, cv::Mat& restoredMap) {
    for (int y = 0; y < edgeMaskCopy.rows; ++y) {
        unsigned char* edge = edgeMaskCopy.ptr<unsigned char>(y);
        unsigned char* removed = removedMap.ptr<unsigned char>(y);
        unsigned char* restored = restoredMap.ptr<unsigned char>(y);
        const auto counts = CountRows(farCounts, y);
        for (int x = 0; x < edgeMaskCopy.cols; ++x) {
            if (removed[x] == 0) {
                continue;
            }
            if (LargestDirectionCount(counts, x) < DominanceLimit(dominanceRatio, counts[0][x])) {
                edge[x] = 1;
                removed[x] = 0;
                restored[x] = 255;
            }
        }
    }
}

}  // namespace

bool DirectionMapsFit(const std::vector<cv::Mat>& dirMaps, const cv::Mat& edgeMaskCopy) {
    if (dirMaps.size() != static_cast<size_t>(kDirectionMapCount)) {
        return false;
    }
    return std::all_of(dirMaps.begin(), dirMaps.end(), [&](const cv::Mat& map) {
        return map.type() == CV_8UC1 && map.size() == edgeMaskCopy.size();
    });
}

void RefineThroughCountMaps(cv::Mat& edgeMaskCopy, cv::Mat& restoredMap,
                            std::vector<cv::Mat>& dirMaps, const std::vector<LineBand>& lineBands,
                            const std::vector<int>& bandStrokeWidths, double nearScale,
                            double dominanceRatio) {
    std::vector<cv::Mat> savedMaps(kDirectionMapCount);
    for (int j = 0; j < kDirectionMapCount; ++j) {
        savedMaps[j] = dirMaps[j].clone();
    }
    CountWindows(dirMaps, lineBands, bandStrokeWidths, nearScale);

    cv::Mat removedMap = cv::Mat::zeros(edgeMaskCopy.size(), CV_8UC1);
    restoredMap = cv::Mat::zeros(edgeMaskCopy.size(), CV_8UC1);
    SuppressDominantPixels(dirMaps, dominanceRatio, edgeMaskCopy, removedMap);

    for (cv::Mat& saved : savedMaps) {
        cv::bitwise_and(saved, removedMap, saved);
    }
    CountWindows(savedMaps, lineBands, bandStrokeWidths, kFarScale);
    RestoreMixedPixels(savedMaps, dominanceRatio, removedMap, edgeMaskCopy, restoredMap);
}

}  // namespace edgebin::detail
