// libFuzzer entry point; built twice by tests/fuzz/CMakeLists.txt, once per
// target (EDGEBIN_FUZZ_RAW selects the raw grey-page target).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#ifdef EDGEBIN_FUZZ_RAW
    edgebin_fuzz::FuzzRaw(data, size);
#else
    edgebin_fuzz::FuzzDecode(data, size);
#endif
    return 0;
}
