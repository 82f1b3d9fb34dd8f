// Argument reading of the command line: usage, help and the tuning values.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "edgebin/edgebin.hpp"

namespace edgebin::cli {

// Exit statuses of the command line besides 0 and the pipeline's codes.
constexpr int kExitLoadFailed = -1;
constexpr int kExitInternalError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitWriteFailed = 3;

void PrintUsage(std::ostream& out);
void PrintHelp(std::ostream& out);

// Reads alpha, k and Rthre from args[3..5] (args[0] is the program name) when
// three to five arguments are given; with fewer or more all keep their defaults.
// A number may be followed by other text ("0.3x" reads as 0.3). Text that is no
// number, nan, inf and values beyond the library's bounds are refused with a line
// on `out`.
bool ReadTuningArguments(const std::vector<std::string>& args, Parameters& parameters,
                         std::ostream& out);

}  // namespace edgebin::cli
