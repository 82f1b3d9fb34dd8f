// libFuzzer entry point; built once per target by tests/fuzz/CMakeLists.txt, with
// EDGEBIN_FUZZ_TARGET naming the function of fuzz_targets.h that it runs.
#include <cstddef>
#include <cstdint>

#include <leptonica/allheaders.h>

#include "fuzz/fuzz_targets.h"

// Leptonica's lines about files it cannot read would flood the fuzzer's output;
// the tool silences them the same way.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setMsgSeverity(L_SEVERITY_NONE);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edgebin_fuzz::EDGEBIN_FUZZ_TARGET(data, size);
    return 0;
}
