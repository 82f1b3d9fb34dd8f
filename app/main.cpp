#include <leptonica/allheaders.h>
#include <malloc.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/front_end.h"
#include "app/huge_page_allocator.h"

int main(int argc, char** argv) {
    // A page's working buffers of up to some tens of megabytes (lists, labels,
    // OpenCV's row buffers) come and go many times. Below glibc's initial threshold
    // of 128 KiB it maps each one afresh, and the kernel takes a fault and clears
    // memory for every 4 KiB of it, on whichever thread touches it: kept in the
    // heap instead, they are reused. (glibc raises the threshold itself only after
    // freeing such a block, which made the speed depend on how the input was read.)
    constexpr int kMmapThreshold = 32 << 20;
    mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
    mallopt(M_TRIM_THRESHOLD, 2 * kMmapThreshold);
    const std::vector<std::string> args(argv, argv + argc);
    // AddressSanitizer watches only the memory of its own allocator.
#ifndef __SANITIZE_ADDRESS__
    // Static: images that outlive main, such as cached ones, are freed through it.
    static edgebin::cli::HugePageAllocator allocator;
    const edgebin::cli::ScopedMatAllocator useAllocator(&allocator);
#endif
    // Leptonica would print its own lines about files it cannot read; the command
    // line says what went wrong in its words.
    setMsgSeverity(L_SEVERITY_NONE);
    try {
        const int status = edgebin::cli::RunEdgebin(args);
        // Standard output carries the report lines, and a batch report given as
        // "-": a write that failed there (a full disk, say) fails a run that would
        // otherwise end well, as GNU tools do.
        if (!(std::cout << std::flush) && status == 0) {
            std::cerr << "edgebin: cannot write to standard output" << std::endl;
            return edgebin::cli::kExitWriteFailed;
        }
        return status;
    } catch (const std::exception& error) {
        // cv::Exception texts end in a newline; the message stays one line.
        std::string what = error.what();
        while (!what.empty() && (what.back() == '\n' || what.back() == '\r')) {
            what.pop_back();
        }
        std::cout << "edgebin: internal error: " << what << std::endl;
        return edgebin::cli::kExitInternalError;
    }
}
