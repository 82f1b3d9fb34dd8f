// Decoding of image pages into grey for the command line.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <string_view>

namespace edgebin::cli {

// Decodes page `index` (from 0) of the file at `path`, whose Leptonica file format
// is `format`, into grey (CV_8UC1); empty when the page does not decode or the
// format is not one the tool reads (PNG, JPEG, TIFF, BMP, PNM, WebP, JPEG 2000).
// The pixels are those of a colour reading converted to grey with OpenCV's
// weights, with the transformations the tool has always applied: alpha and
// gamma ignored, 16-bit samples cut to their high byte, an EXIF orientation of a
// JPEG or PNG file applied, and TIFF pages read through libtiff's RGBA interface.
// PNM files other than PBM and 8-bit PGM and PPM are refused, with a reason in
// `refusal`.
cv::Mat DecodeGreyPage(const std::string& path, int index, int format, std::string& refusal);

// The EXIF orientation (1 to 8) that the JPEG or PNG file held in `bytes`
// declares, 1 where it declares none or one out of range.
int ExifOrientation(std::string_view bytes, int format);

}  // namespace edgebin::cli
