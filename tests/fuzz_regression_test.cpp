// Replays the fuzzers' seed corpus and every saved finding through the same
// targets the fuzzer runs, so that a fixed crash stays fixed in the normal and
// the sanitized builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>());
}

// Every file under tests/fuzz/<kind>/<target>, in a stable order.
std::vector<fs::path> SavedInputs(const std::string& kind, const std::string& target) {
    const fs::path dir = fs::path(EDGEBIN_SOURCE_DIR) / "tests" / "fuzz" / kind / target;
    std::vector<fs::path> inputs;
    if (fs::is_directory(dir)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
                inputs.push_back(entry.path());
            }
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

template <typename Target>
size_t Replay(const std::vector<fs::path>& inputs, Target target) {
    for (const fs::path& input : inputs) {
        SCOPED_TRACE(input.string());
        const std::vector<std::uint8_t> bytes = ReadBytes(input);
        target(bytes.data(), bytes.size());
    }
    return inputs.size();
}

}  // namespace

TEST(FuzzRegression, DecodeSeedsAndFindingsRunCleanly) {
    EXPECT_GT(Replay(SavedInputs("corpus", "decode"), edgebin_fuzz::FuzzDecode), 0u)
        << "the decode seed corpus is missing";
    Replay(SavedInputs("regressions", "decode"), edgebin_fuzz::FuzzDecode);
}

TEST(FuzzRegression, RawSeedsAndFindingsRunCleanly) {
    EXPECT_GT(Replay(SavedInputs("corpus", "raw"), edgebin_fuzz::FuzzRaw), 0u)
        << "the raw seed corpus is missing";
    Replay(SavedInputs("regressions", "raw"), edgebin_fuzz::FuzzRaw);
}
