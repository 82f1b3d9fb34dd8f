// Image output of the command line.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "app/image_input.h"

namespace edgebin::cli {

// How a result is stored.
struct OutputOptions {
    bool bilevel = false;   // 1 bit per pixel: 1-bit PNG, G4 TIFF or PBM
    Resolution resolution;  // written when non-zero
};

// True when the extension of `outPath` names a format the tool writes: .png,
// .tif, .tiff, .jpg, .jpeg, .jpe, .bmp, .dib, .pbm, .pgm, .pnm, .pam, .webp or .jp2.
bool CanEncode(const std::string& outPath);

// True when the extension of `outPath` can hold a result stored as `options` say:
// for 8 bits any of the formats above, for 1 bit .png, .tif, .tiff or .pbm.
bool CanEncode(const std::string& outPath, const OutputOptions& options);

// False, with the reason, when writing `outPath` is sure to be refused: it (or
// the file its symbolic links lead to) exists and is write-protected. Lets a run
// refuse before the work rather than after it.
bool CheckWritable(const std::string& outPath, std::string& reason);

// Encodes `image` in the format of outPath's extension, writes it to a temporary
// file in outPath's folder and renames that over outPath only when complete, so
// that outPath is never half-written and an existing file survives a failed run.
// The temporary file has no name while it is written where the file system
// allows it. A symbolic link at outPath is followed and the file it names is
// written. An existing file keeps its mode and, where the process may set it,
// its owner; a new one gets the mode the umask gives. A write-protected file is
// refused. In a folder where no file can be created, an existing writable file
// is overwritten in place, which is not atomic. On failure returns false with
// the reason in `reason`.
bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath, std::string& reason);

// The same, stored as `options` say. `image` is CV_8UC1. 8-bit files hold the
// pixels OpenCV's writers gave them, as the tool once wrote them: PNG through
// libpng with OpenCV's settings (byte for byte OpenCV's file when it carries no
// resolution), TIFF through libtiff (deflate), JPEG at OpenCV's quality 95, BMP,
// PGM, PAM, lossless WebP and JPEG 2000 through Leptonica, PBM with ink where the
// image is 0. Formats without a resolution field are written without one.
// Bilevel: 1-bit PNG and PBM through Leptonica, G4 TIFF through libtiff. A
// bilevel file holds ink where the image is below its largest value: 0 in a
// result of 0 and 255, the darker value of a two-valued image; an image of one
// value is all ink when that value is below 128.
bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath,
                          const OutputOptions& options, std::string& reason);

// Writes `text` to outPath as WriteImageAtomically writes an image's bytes.
bool WriteTextAtomically(const std::string& text, const std::string& outPath, std::string& reason);

// Writes `pages` (CV_8UC1, 0 and 255) as one multi-page TIFF at outPath, as
// atomically, through libtiff: G4 for bilevel pages, deflate for 8-bit ones. One
// page is written as WriteImageAtomically does, in any format.
bool WritePagesAtomically(const std::vector<cv::Mat>& pages, const std::string& outPath,
                          const OutputOptions& options, std::string& reason);

// PNG of an 8-bit grey or BGR image, with OpenCV's settings, and pHYs when
// `resolution` has one. False when libpng fails.
bool EncodePng(const cv::Mat& image, const Resolution& resolution,
               std::vector<unsigned char>& bytes);

// True when pages written to outPath as `options` say go into one multi-page
// file: bilevel pages into a TIFF. Otherwise each page needs a file of its own.
bool HoldsSeveralPages(const std::string& outPath, const OutputOptions& options);

// The file of page `page` (from 1) when each page has its own: out.png, 2 gives
// out-002.png.
std::string NumberedPagePath(const std::string& outPath, int page);

// The same with a resolution for each page (options.resolution is not used).
bool WritePagesAtomically(const std::vector<cv::Mat>& pages,
                          const std::vector<Resolution>& resolutions, const std::string& outPath,
                          const OutputOptions& options, std::string& reason);

}  // namespace edgebin::cli
