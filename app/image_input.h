// Image input of the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>
#include <string>

namespace edgebin::cli {

// Largest image the tool accepts, in pixels (400 megapixels). The pipeline needs
// some tens of bytes per pixel, so this already asks for several gigabytes; the
// limit is checked on the file's header before decoding where the format allows.
// The fuzz build lowers it (EDGEBIN_MAX_IMAGE_PIXELS), so that a header that
// declares a huge page cannot exhaust the fuzzer's memory before its data runs out.
#ifndef EDGEBIN_MAX_IMAGE_PIXELS
#define EDGEBIN_MAX_IMAGE_PIXELS 400000000
#endif
constexpr std::uint64_t kMaxImagePixels = EDGEBIN_MAX_IMAGE_PIXELS;

// Resolution of an image, dots per inch; 0 where the file holds none.
struct Resolution {
    double x = 0.0;
    double y = 0.0;
};

// The one resolution a page is binarized for: the mean of x and y; 0 when none, or
// when that lies beyond the library's range (a damaged header).
double DeclaredResolution(const Resolution& resolution);

// Number of pages of the image file at `path`, from its headers only: a TIFF file
// may hold several, every other regular file counts as one (whether it decodes is
// for LoadGreyPage to say). 0 for what is no regular file and for a TIFF file
// whose first directory cannot be read. A TIFF file whose chain of directories
// breaks (an offset past the end, a loop, a count that cannot be read) is damaged:
// the count then includes the page at the break, which LoadGreyPage refuses, and
// `chainBreak`, when given, gets the message for that page.
int CountPages(const std::string& path, std::string* chainBreak = nullptr);

// Loads page `index` (from 0) of `path` as grey (CV_8UC1), with the resolution the
// file declares (0 where it declares none). The pixels are those DecodeGreyPage
// gives. Folders, pipes and devices are refused unopened. On failure
// `refusal` holds a reason worth printing beyond the standard load-failure lines,
// or stays empty.
bool LoadGreyPage(const std::string& path, int index, cv::Mat& grey, Resolution& resolution,
                  std::string& refusal);

// Width and height that the image file held in `data` declares (first page),
// through Leptonica's header reading. False for unknown formats and for headers
// too short or malformed to give both sizes.
bool ReadDeclaredImageSize(const std::uint8_t* data, std::size_t size, std::uint64_t& width,
                           std::uint64_t& height);

}  // namespace edgebin::cli
