// The report lines of a run on standard output, formatted from the library's trace.
#pragma once

#include <ostream>
#include <string>

#include "edgebin/edgebin.hpp"

namespace edgebin::cli {

// The first line of a binarization, written before the work starts.
void PrintParameterLine(const Parameters& parameters, std::ostream& out);

// The line of a page that was binarized shrunk to the working resolution;
// nothing for any other page, whose lines stay as they were.
void PrintWorkingResolution(const Parameters& parameters, const Trace& trace, std::ostream& out);

// Writes the lines of a run that gave `result`, after its parameter line: a line
// saying that the page was inverted when it was, then the copy notice for a
// two-level input, else the peaks, the ratio, the thresholds and the stroke widths
// of every measurement, in the order the stages decided them.
void PrintTrace(const Result& result, std::ostream& out);

// What standard error says of a binarized page that should be looked at: its
// global level was mended, or its self-check found it suspect, with the reasons
// ("suspect: almost no ink"). Empty for a page that is "ok".
std::string SelfCheckNote(const Trace& trace);

}  // namespace edgebin::cli
