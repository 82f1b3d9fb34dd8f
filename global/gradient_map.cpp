// Preconditions: `enhanced` is 8-bit with one or three channels (three are read
// as BGR). Outputs are (re)allocated to the input's size.
//
// The map is what cv::normalize (NORM_MINMAX onto 0..255) and cv::convertScaleAbs
// make of the half-sum of |gradX| and |gradY|, taken in blocks of rows: the
// derivatives of a block read the rows around it from the page, the stretch needs
// the extremes of the whole page first, and the half-sums are made again for it
// rather than kept, which would cost two bytes a pixel.
#include "global/gradient_map.h"

#include <algorithm>
#include <cfloat>
#include <cstdlib>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "common/parallel_bands.h"

namespace edgebin::detail {

namespace {

// Rows per block: the blocks' working images stay in the cache.
constexpr int kBlockRows = 64;

// Calls body(rows) for the blocks of rows of `band`.
template <typename Body>
void ForEachBlock(RowBand band, int cols, const Body& body) {
    for (int top = band.top; top < band.bottom; top += kBlockRows) {
        body(cv::Rect(0, top, cols, std::min(kBlockRows, band.bottom - top)));
    }
}

// A band's working images, made once for its first block and reused for the
// rest and for the second pass: made afresh for each block they would be
// returned to the system and faulted in again, which cost more than the
// arithmetic.
struct BlockScratch {
    cv::Mat halfSum;
};

void FitScratch(RowBand band, int cols, BlockScratch& scratch) {
    const int rows = std::min(kBlockRows, band.bottom - band.top);
    scratch.halfSum.create(rows, cols, CV_16S);
}

// The half-sum is cv::addWeighted (0.5, 0.5) of the absolute values, which never
// rounds: in both Scharr derivatives the middle weights are even and the corners
// weigh 3, so each has the parity of the sum of the four corner pixels, and their
// absolute values add up to an even number. Taken here in integers, which the
// compiler vectorises, rather than with OpenCV's absolute values, which go
// through 32 bits. The result is a view of `scratch`.
cv::Mat HalfSum(const cv::Mat& gradX, const cv::Mat& gradY, BlockScratch& scratch) {
    cv::Mat halfSum = scratch.halfSum.rowRange(0, gradX.rows);
    for (int y = 0; y < gradX.rows; ++y) {
        const short* gx = gradX.ptr<short>(y);
        const short* gy = gradY.ptr<short>(y);
        short* out = halfSum.ptr<short>(y);
        for (int x = 0; x < gradX.cols; ++x) {
            // Derivatives of an 8-bit page stay within 16 * 255: no overflow.
            out[x] = static_cast<short>((std::abs(gx[x]) + std::abs(gy[x])) >> 1);
        }
    }
    return halfSum;
}

cv::Mat GreyView(const cv::Mat& enhanced) {
    CV_Assert(enhanced.depth() == CV_8U && (enhanced.channels() == 1 || enhanced.channels() == 3));
    if (enhanced.channels() == 1) {
        return enhanced;
    }
    cv::Mat grey;
    cv::cvtColor(enhanced, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

// The derivatives of the rows of `block`; they read the rows beyond it from the
// page, and reflect only at the page's own border.
void ScharrBlock(const cv::Mat& grayView, const cv::Rect& block, cv::Mat& gradX, cv::Mat& gradY) {
    cv::Mat blockX = gradX(block);
    cv::Mat blockY = gradY(block);
    cv::Scharr(grayView(block), blockX, CV_16S, 1, 0, 1.0, 0.0, cv::BORDER_DEFAULT);
    cv::Scharr(grayView(block), blockY, CV_16S, 0, 1, 1.0, 0.0, cv::BORDER_DEFAULT);
}

struct Extremes {
    double low = DBL_MAX;
    double high = -DBL_MAX;
};

}  // namespace

void ComputeGradientMap(const cv::Mat& enhanced, cv::Mat& gradX, cv::Mat& gradY, cv::Mat& gradMap,
                        int threads) {
    const cv::Mat grayView = GreyView(enhanced);
    const int rows = grayView.rows;
    const int cols = grayView.cols;
    gradX.create(grayView.size(), CV_16S);
    gradY.create(grayView.size(), CV_16S);
    gradMap.create(grayView.size(), CV_8U);

    std::vector<Extremes> extremes(static_cast<size_t>(BandCount(rows, threads)));
    std::vector<BlockScratch> scratches(extremes.size());
    ForEachBand(rows, threads, [&](RowBand band, int index) {
        Extremes& own = extremes[static_cast<size_t>(index)];
        BlockScratch& scratch = scratches[static_cast<size_t>(index)];
        FitScratch(band, cols, scratch);
        ForEachBlock(band, cols, [&](const cv::Rect& block) {
            ScharrBlock(grayView, block, gradX, gradY);
            double low = 0.0;
            double high = 0.0;
            cv::minMaxIdx(HalfSum(gradX(block), gradY(block), scratch), &low, &high);
            own.low = std::min(own.low, low);
            own.high = std::max(own.high, high);
        });
    });
    Extremes page;
    for (const Extremes& band : extremes) {
        page.low = std::min(page.low, band.low);
        page.high = std::max(page.high, band.high);
    }
    // cv::normalize's own scale and shift for NORM_MINMAX onto 0..255.
    const double scale =
        255.0 * (page.high - page.low > DBL_EPSILON ? 1.0 / (page.high - page.low) : 0.0);
    const double shift = 0.0 - page.low * scale;
    ForEachBand(rows, threads, [&](RowBand band, int index) {
        BlockScratch& scratch = scratches[static_cast<size_t>(index)];
        ForEachBlock(band, cols, [&](const cv::Rect& block) {
            // The stretch may be written over the half-sum it reads.
            cv::Mat stretched = HalfSum(gradX(block), gradY(block), scratch);
            stretched.convertTo(stretched, CV_16S, scale, shift);
            cv::Mat out = gradMap(block);
            cv::convertScaleAbs(stretched, out, 1.0, 0.0);
        });
    });
}

void ComputeDerivatives(const cv::Mat& enhanced, cv::Mat& gradX, cv::Mat& gradY, int threads) {
    const cv::Mat grayView = GreyView(enhanced);
    gradX.create(grayView.size(), CV_16S);
    gradY.create(grayView.size(), CV_16S);
    ForEachBand(grayView.rows, threads, [&](RowBand band, int) {
        ScharrBlock(grayView, cv::Rect(0, band.top, grayView.cols, band.bottom - band.top), gradX,
                    gradY);
    });
}

}  // namespace edgebin::detail
