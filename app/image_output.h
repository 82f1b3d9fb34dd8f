// Image output of the command line.
#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace edgebin::cli {

// True when OpenCV has an encoder for the extension of `outPath`.
bool CanEncode(const std::string& outPath);

// Encodes `image` in the format of outPath's extension, writes it to a temporary
// file in outPath's folder and renames that over outPath only when complete, so
// that outPath is never half-written and an existing file survives a failed run.
// The temporary file has no name while it is written where the file system
// allows it. On failure returns false with the reason in `reason`.
bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath, std::string& reason);

}  // namespace edgebin::cli
