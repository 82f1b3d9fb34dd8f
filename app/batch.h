// Batch runs: many inputs, one process.
#pragma once

#include "app/arguments.h"

namespace edgebin::cli {

// Binarizes every input of `line` (mode kBatch) into line.outDir and returns the
// exit status.
int RunBatch(const CommandLine& line);

}  // namespace edgebin::cli
