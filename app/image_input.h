// Image input of the command line.
#pragma once

#include <cstdint>
#include <istream>
#include <opencv2/core.hpp>
#include <string>

namespace edgebin::cli {

// Largest image the tool accepts, in pixels (400 megapixels). The pipeline needs
// some tens of bytes per pixel, so this already asks for several gigabytes; the
// limit is checked on the file's header before decoding where the format allows.
constexpr std::uint64_t kMaxImagePixels = 400000000;

// Resolution of an image, dots per inch; 0 where the file holds none.
struct Resolution {
    double x = 0.0;
    double y = 0.0;
};

// Number of pages of the image file at `path`: a TIFF file may hold several, every
// other format one. 0 when the file cannot be read as an image.
int CountPages(const std::string& path);

// Loads page `index` (from 0) of `path` as grey (CV_8UC1), with the resolution the
// file declares. Refuses like LoadGrey.
bool LoadGreyPage(const std::string& path, int index, cv::Mat& grey, Resolution& resolution,
                  std::string& refusal);

// Loads the regular file `imgPath` as colour and converts it to grey (CV_8UC1).
// Folders, pipes and devices are refused unopened. On failure `refusal` holds a
// reason worth printing beyond the standard load-failure lines, or stays empty.
bool LoadGrey(const std::string& imgPath, cv::Mat& grey, std::string& refusal);

// Reads the width and height that an image file declares in its header, without
// decoding any pixel data. Knows PNG, JPEG, TIFF (classic and BigTIFF, first
// page), BMP and binary or ASCII PNM; returns false for other formats and for
// headers too short or malformed to give both sizes.
bool ReadDeclaredImageSize(std::istream& file, std::uint64_t& width, std::uint64_t& height);

}  // namespace edgebin::cli
