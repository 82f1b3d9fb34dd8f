#include "app/batch.h"

#include <iostream>

namespace edgebin::cli {

int RunBatch(const CommandLine& line) {
    (void)line;
    std::cerr << "edgebin: batch runs are not available yet." << std::endl;
    return kExitUsage;
}

}  // namespace edgebin::cli
