// The edgebin command line: argument reading, image input and output, messages
// and exit status.
#pragma once

#include <cstdint>
#include <istream>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

// Largest image the tool accepts, in pixels (400 megapixels). The pipeline needs
// some tens of bytes per pixel, so this already asks for several gigabytes; the
// limit is checked on the file's header before decoding where the format allows.
constexpr std::uint64_t kMaxImagePixels = 400000000;

// True when `grey` (8-bit, one channel) holds at most two distinct values.
bool IsAlreadyBinary(const cv::Mat& grey);

// Reads the width and height that an image file declares in its header, without
// decoding any pixel data. Knows PNG, JPEG, TIFF (classic and BigTIFF, first
// page), BMP and binary or ASCII PNM; returns false for other formats and for
// headers too short or malformed to give both sizes.
bool ReadDeclaredImageSize(std::istream& file, std::uint64_t& width, std::uint64_t& height);

// Runs the tool on `args` (args[0] is the program name) and returns the exit
// status.
int RunEdgebin(const std::vector<std::string>& args);
