// The report lines of a run on standard output, formatted from the library's trace.
#pragma once

#include <ostream>

#include "edgebin/edgebin.hpp"

namespace edgebin::cli {

// The first line of a binarization, written before the work starts.
void PrintParameterLine(const Parameters& parameters, std::ostream& out);

// Writes the lines of a run that gave `result`, after its parameter line: the copy
// notice for a two-level input, else the peaks, the ratio, the thresholds and the
// stroke widths of every measurement, in the order the stages decided them.
void PrintTrace(const Result& result, std::ostream& out);

}  // namespace edgebin::cli
