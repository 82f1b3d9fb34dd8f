// edgebin-review: the review page of batch runs (app/review.h).
#include <leptonica/allheaders.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/review.h"

int main(int argc, char** argv) {
    // Leptonica would print its own lines about files it cannot read; the
    // warnings say what is missing in this tool's words.
    setMsgSeverity(L_SEVERITY_NONE);
    try {
        return edgebin::cli::RunReview(std::vector<std::string>(argv, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "edgebin-review: internal error: " << error.what() << std::endl;
        return edgebin::cli::kExitInternalError;
    }
}
