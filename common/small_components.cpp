// Preconditions: `dst` is CV_8UC1 and `keepMask` is CV_8UC1 of the same size;
// `rowStrokeWidths` holds one width per row of `dst`. With any other number of
// widths the call only makes `dst` two-level, because a component's middle row
// could not be looked up safely.
#include "common/small_components.h"

#include "common/labelling.h"
#include "common/parallel_bands.h"

namespace edgebin::detail {

namespace {

constexpr int kMinSide = 3;
constexpr int kMaxSide = 10;

int SizeLimitSide(int strokeWidth, double factor) {
    const int side = static_cast<int>(static_cast<double>(strokeWidth) * factor);
    if (side < kMinSide) {
        return kMinSide;
    }
    return side > kMaxSide ? kMaxSide : side;
}

// Every black pixel of the box counts, whichever component it belongs to: a speck
// sharing its box with a kept stroke survives.
bool BoxTouchesKeptEdge(const cv::Mat& dst, const cv::Mat& keepMask, const ComponentRecord& c) {
    for (int y = c.yMin; y <= c.yMax; ++y) {
        const unsigned char* ink = dst.ptr<unsigned char>(y);
        const unsigned char* keep = keepMask.ptr<unsigned char>(y);
        for (int x = c.xMin; x <= c.xMax; ++x) {
            if (ink[x] == 0 && keep[x] != 0) {
                return true;
            }
        }
    }
    return false;
}

// Paper becomes 255 and the ink mask is filled in the same pass: two passes would
// read the whole page twice.
void MakeTwoLevelRow(unsigned char* row, unsigned char* black, int cols) {
    for (int x = 0; x < cols; ++x) {
        const unsigned char ink = row[x] == 0 ? 255 : 0;
        black[x] = ink;
        row[x] = static_cast<unsigned char>(~ink);
    }
}

}  // namespace

void RemoveSmallComponents(const cv::Mat& keepMask, const std::vector<int>& rowStrokeWidths,
                           double factor, cv::Mat& dst, int threads) {
    CV_Assert(dst.type() == CV_8UC1 && keepMask.type() == CV_8UC1);
    CV_Assert(keepMask.size() == dst.size());

    cv::Mat black(dst.size(), CV_8UC1);
    ForEachBand(dst.rows, threads, [&](RowBand band, int) {
        for (int y = band.top; y < band.bottom; ++y) {
            MakeTwoLevelRow(dst.ptr<unsigned char>(y), black.ptr<unsigned char>(y), dst.cols);
        }
    });
    if (rowStrokeWidths.size() != static_cast<size_t>(dst.rows)) {
        return;
    }

    std::vector<ComponentRecord> records;
    FindMaskComponents(black, records, threads);
    for (const ComponentRecord& record : records) {
        const int middleRow = (record.yMin + record.yMax) / 2;
        const int side = SizeLimitSide(rowStrokeWidths[middleRow], factor);
        if (record.pixelCount >= side * side) {
            continue;
        }
        if (BoxTouchesKeptEdge(dst, keepMask, record)) {
            continue;
        }
        dst(cv::Rect(record.xMin, record.yMin, record.xMax - record.xMin + 1,
                     record.yMax - record.yMin + 1))
            .setTo(255);
    }
}

}  // namespace edgebin::detail
