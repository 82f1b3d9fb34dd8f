// Speck removal, shared by the peak threshold choice. Preconditions: the image is
// CV_8UC1; a pixel is foreground when non-zero. Components are the 8-connected ones
// of the shared labelling. The contour curve itself is built by a sweep over all
// levels in contour_curve_sweep.cpp.
#include "global/contour_curve.h"

#include <vector>

#include "common/labelling.h"
#include "common/parallel_bands.h"

namespace edgebin::detail {

namespace {

// Components of fewer pixels than this are specks. One or two 8-connected pixels
// always fill their bounding box alone, so clearing the box clears exactly them.
constexpr int kSpeckLimit = 3;

}  // namespace

void RemoveSpecks(cv::Mat& img, int threads) {
    CV_Assert(img.type() == CV_8UC1);
    ForEachBand(img.rows, threads, [&](RowBand band, int) {
        cv::Mat rows = img.rowRange(band.top, band.bottom);
        rows.setTo(255, rows);
    });
    std::vector<ComponentRecord> records;
    FindMaskComponents(img, records, threads);
    for (const ComponentRecord& record : records) {
        if (record.pixelCount < kSpeckLimit) {
            img(cv::Rect(record.xMin, record.yMin, record.xMax - record.xMin + 1,
                         record.yMax - record.yMin + 1))
                .setTo(0);
        }
    }
}

}  // namespace edgebin::detail
