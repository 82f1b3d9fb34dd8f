// The edgebin command line: reads the arguments, loads the page, binarizes it,
// reports and writes the result.
#pragma once

#include <string>
#include <vector>

namespace edgebin::cli {

// Runs the tool on `args` (args[0] is the program name) and returns the exit
// status. Report lines and messages go to standard output.
int RunEdgebin(const std::vector<std::string>& args);

}  // namespace edgebin::cli
