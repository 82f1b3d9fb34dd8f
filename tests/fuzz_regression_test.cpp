// Replays the fuzzers' seed corpus and every saved finding through the same
// targets the fuzzer runs, so that a fixed crash stays fixed in the normal and
// the sanitized builds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"

namespace fs = std::filesystem;

TEST(FuzzRegression, SeedsAndFindingsRunCleanly) {
    const std::pair<std::string, void (*)(const std::uint8_t*, std::size_t)> targets[] = {
        {"decode", edgebin_fuzz::FuzzDecode},
        {"raw", edgebin_fuzz::FuzzRaw},
        {"tiff", edgebin_fuzz::FuzzTiffPages},
        {"header", edgebin_fuzz::FuzzImageHeader},
        {"list", edgebin_fuzz::FuzzInputList}};
    for (const auto& [target, run] : targets) {
        std::set<fs::path> seeds;  // every file under tests/fuzz/<kind>/<target>, in order
        for (const std::string kind : {"corpus", "regressions"}) {
            const fs::path dir = fs::path(EDGEBIN_SOURCE_DIR) / "tests/fuzz" / kind / target;
            for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
                    seeds.insert(entry.path());
                }
            }
        }
        EXPECT_GT(seeds.size(), 1u) << "the " << target << " seed corpus is missing";
        for (const fs::path& seed : seeds) {
            SCOPED_TRACE(seed.string());
            std::ifstream file(seed, std::ios::binary);
            const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(file), {});
            run(bytes.data(), bytes.size());
        }
    }
}
