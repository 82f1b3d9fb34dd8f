// The two fuzz targets, shared by the libFuzzer harness and by the regression
// test that replays saved inputs in the normal build. Each returns normally on
// every input and aborts when the tool's invariants break: a crash, a sanitizer
// report or an abort here is a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "app/image_input.h"
#include "edgebin/edgebin.hpp"

namespace edgebin_fuzz {

// Larger decoded images are not run through the pipeline, so that every input
// stays fast.
constexpr int kMaxSide = 64;
constexpr int kMaxStripRows = 8;

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Runs the library on `grey` and checks the result.
inline void BinarizeAndCheck(const cv::Mat& grey, double alpha, double k, double Rthre) {
    Require(grey.type() == CV_8UC1);
    const edgebin::Result result = edgebin::Binarize(grey, {alpha, k, Rthre});
    const cv::Mat& dst = result.image;
    if (result.status != 0) {
        Require(result.status == -1 || result.status == 11 || result.status == 12);
        Require(dst.empty());
        return;
    }
    if (result.trace.copiedInput) {
        Require(cv::norm(dst, grey, cv::NORM_INF) == 0);
        return;
    }
    Require(dst.type() == CV_8UC1 && dst.size() == grey.size());
    Require(cv::countNonZero(dst == 0) + cv::countNonZero(dst == 255) ==
            static_cast<int>(dst.total()));
}

// Arbitrary bytes as an image file: the header reader, the decoder, then the
// pipeline for images of at most kMaxSide × kMaxSide.
inline void FuzzDecode(const std::uint8_t* data, std::size_t size) {
    {
        std::uint64_t width = 0;
        std::uint64_t height = 0;
        edgebin::cli::ReadDeclaredImageSize(data, size, width, height);
    }
    cv::Mat image;
    try {
        image = cv::imdecode(cv::_InputArray(data, static_cast<int>(size)), cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        return;
    }
    if (image.empty() || image.rows > kMaxSide || image.cols > kMaxSide) {
        return;
    }
    Require(image.type() == CV_8UC3);
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    BinarizeAndCheck(grey, 2.0, 0.6, 0.05);
}

// Bytes read directly as a small grey page: bytes 0 and 1 give the width and
// height, byte 2 picks the tuning values and the page shape, the rest are the
// pixels, repeated when too few. Reaches the pipeline's corners far faster than
// decoding. The top bit of byte 2 asks for a short strip up to 64 times wider,
// where the stroke width measured on the whole page can approach its width.
inline void FuzzRaw(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return;
    }
    static constexpr double kAlphas[8] = {2.0, 0.5, 1.0, 4.0, 0.0, -1.0, 30.0, 1.5};
    static constexpr double kKs[4] = {0.6, 0.0, -0.5, 3.0};
    static constexpr double kRthres[4] = {0.05, 0.0, 1.0, -1.0};
    const std::uint8_t pick = data[2];
    const bool strip = (pick & 0x80) != 0;
    const int cols = (1 + data[0] % kMaxSide) * (strip ? kMaxSide : 1);
    const int rows = strip ? 1 + data[1] % kMaxStripRows : 1 + data[1] % kMaxSide;
    cv::Mat grey(rows, cols, CV_8UC1, cv::Scalar(0));
    const std::size_t pixelBytes = size - 3;
    if (pixelBytes > 0) {
        for (int i = 0; i < rows * cols; ++i) {
            grey.data[i] = data[3 + static_cast<std::size_t>(i) % pixelBytes];
        }
    }
    BinarizeAndCheck(grey, kAlphas[pick & 7], kKs[(pick >> 3) & 3], kRthres[(pick >> 5) & 3]);
}

}  // namespace edgebin_fuzz
