// The edgebin command line: argument reading, image input and output, messages
// and exit status.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

// True when `grey` (8-bit, one channel) holds at most two distinct values.
bool IsAlreadyBinary(const cv::Mat& grey);

// Runs the tool on `args` (args[0] is the program name) and returns the exit
// status.
int RunEdgebin(const std::vector<std::string>& args);
