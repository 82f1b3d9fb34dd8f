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

// True when OpenCV has an encoder for the extension of `outPath`.
bool CanEncode(const std::string& outPath);

// Encodes `image` in the format of outPath's extension, writes it to a temporary
// file in outPath's folder and renames that over outPath only when complete, so
// that outPath is never half-written and an existing file survives a failed run.
// The temporary file has no name while it is written where the file system
// allows it. On failure returns false with the reason in `reason`.
bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath, std::string& reason);

// The same, stored as `options` say.
bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath,
                          const OutputOptions& options, std::string& reason);

// Writes `pages` (CV_8UC1, 0 and 255) as one multi-page TIFF at outPath, as atomically.
bool WritePagesAtomically(const std::vector<cv::Mat>& pages, const std::string& outPath,
                          const OutputOptions& options, std::string& reason);

}  // namespace edgebin::cli
