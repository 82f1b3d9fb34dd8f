// Preconditions: `map` is 8-bit with one channel, non-zero = edge pixel. The
// stroke description must pass IsCompleteStrokeDescription for the map (for
// ClearUndersizedComponents: one row width per map row); otherwise the call is
// refused and the map is left exactly as it was.
#include "stroke/stroke_map.h"

#include "common/labelling.h"
#include "common/parallel_bands.h"
#include "stroke/window_filters.h"

namespace edgebin::detail {

namespace {

constexpr int kMinComponentSide = 3;
constexpr int kMaxComponentSide = 10;
constexpr double kDensityWindowFactor = 6.0;
constexpr double kDensityCountFactor = 6.0;
constexpr int kCornerMinVotes = 4;
constexpr double kCornerWindowFactor = 10.0;
constexpr double kCornerCountFactor = 10.0;

// Side of the smallest square a stroke component of this width must fill.
int MinimumComponentSide(int rowWidth, double componentFactor) {
    const double scaled = rowWidth * componentFactor;
    if (!(scaled >= kMinComponentSide)) {
        return kMinComponentSide;
    }
    if (scaled >= kMaxComponentSide) {
        return kMaxComponentSide;
    }
    return static_cast<int>(scaled);
}

// ClearUndersizedComponents on a map of any non-zero edge values, which it keeps.
void ClearUndersizedOf(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                       double componentFactor, int threads) {
    std::vector<ComponentRecord> records;
    FindMaskComponents(map, records, threads);
    // Every record was taken before the first box is cleared, so a cleared box
    // cannot change how another component is judged.
    for (const ComponentRecord& record : records) {
        if (record.yMin > record.yMax) {
            continue;
        }
        const int middleRow = (record.yMin + record.yMax) / 2;
        const int side =
            MinimumComponentSide(rowStrokeWidths[static_cast<size_t>(middleRow)], componentFactor);
        if (record.pixelCount < side * side) {
            map(cv::Range(record.yMin, record.yMax + 1), cv::Range(record.xMin, record.xMax + 1))
                .setTo(0);
        }
    }
}

}  // namespace

void CleanStrokeMap(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                    const std::vector<LineBand>& lineBands,
                    const std::vector<int>& bandStrokeWidths, double componentFactor, int threads) {
    if (map.type() != CV_8UC1 || map.empty() ||
        !IsCompleteStrokeDescription(map.rows, map.cols, lineBands, bandStrokeWidths,
                                     rowStrokeWidths)) {
        return;
    }
    // The edge values need no pass of their own: the components do not depend on
    // them, the density filter makes them 1 (the description that passed here
    // passes it too) and the corner vote only clears.
    ClearUndersizedOf(map, rowStrokeWidths, componentFactor, threads);
    DensityThenCornerVote(map, rowStrokeWidths, lineBands, bandStrokeWidths,
                          DensityRule{kDensityWindowFactor, kDensityCountFactor},
                          CornerVoteRule{kCornerMinVotes, kCornerWindowFactor, kCornerCountFactor},
                          threads);
}

void ClearUndersizedComponents(cv::Mat& map, const std::vector<int>& rowStrokeWidths,
                               double componentFactor, int threads) {
    if (map.type() != CV_8UC1 || map.empty() ||
        rowStrokeWidths.size() != static_cast<size_t>(map.rows)) {
        return;
    }
    SetNonZeroInBands(map, 255, threads);
    ClearUndersizedOf(map, rowStrokeWidths, componentFactor, threads);
}

}  // namespace edgebin::detail
