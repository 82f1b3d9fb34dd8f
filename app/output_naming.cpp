#include "app/output_naming.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <utility>

#include "app/image_input.h"
#include "app/image_output.h"

namespace fs = std::filesystem;

namespace edgebin::cli {

namespace {

// Hash of an input's result name without extension, and the input's index.
using NameHash = std::pair<size_t, size_t>;

std::string StemKey(const fs::path& relative) {
    return fs::path(relative).replace_extension().generic_string();
}

// The mirrored path of an input that CheckOutputsDistinct has already accepted.
fs::path Mirrored(const std::string& input) {
    fs::path relative;
    std::string error;
    MirrorPath(input, relative, error);
    return relative;
}

std::string StemKeyOf(const std::string& input) {
    return StemKey(Mirrored(input));
}

std::string CollisionMessage(const std::string& first, const std::string& second,
                             const std::string& output) {
    return first + " and " + second + " would both be written to " + output;
}

// Reads "STEM-NNN" (three digits or more) into `base` and `number`.
bool ReadNumberedName(const std::string& key, std::string& base, int& number) {
    const size_t dash = key.find_last_of('-');
    const size_t digits = dash == std::string::npos ? 0 : key.size() - dash - 1;
    if (digits < 3 || digits > 6 ||
        !std::all_of(key.begin() + static_cast<long>(dash) + 1, key.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return false;
    }
    base = key.substr(0, dash);
    number = std::stoi(key.substr(dash + 1));
    return number > 0;
}

// Inputs of one hash that share the same name; almost always one or none.
bool FindSameStem(const std::vector<std::string>& inputs, const std::vector<NameHash>& sorted,
                  size_t begin, size_t end, const OutputNaming& naming, std::string& message) {
    for (size_t a = begin; a < end; ++a) {
        for (size_t b = a + 1; b < end; ++b) {
            const std::string& first = inputs[sorted[a].second];
            const std::string& second = inputs[sorted[b].second];
            if (StemKeyOf(first) == StemKeyOf(second)) {
                message =
                    CollisionMessage(first, second, OutputPath(naming, Mirrored(first), 0, 1));
                return true;
            }
        }
    }
    return false;
}

// A multi-page TIFF whose numbered page `number` is named like `input`.
bool FindNumberedPage(const std::vector<std::string>& inputs, const std::vector<NameHash>& sorted,
                      const std::string& input, const OutputNaming& naming, std::string& message) {
    std::string base;
    int number = 0;
    if (!ReadNumberedName(StemKeyOf(input), base, number)) {
        return false;
    }
    const NameHash key{std::hash<std::string>{}(base), 0};
    auto match = std::lower_bound(sorted.begin(), sorted.end(), key);
    for (; match != sorted.end() && match->first == key.first; ++match) {
        const std::string& tiff = inputs[match->second];
        if (IsTiffPath(tiff) && StemKeyOf(tiff) == base && CountPages(tiff) >= number) {
            message = CollisionMessage(tiff, input, OutputPath(naming, Mirrored(input), 0, 1));
            return true;
        }
    }
    return false;
}

}  // namespace

bool MirrorPath(const std::string& input, fs::path& relative, std::string& error) {
    fs::path path = fs::path(input).lexically_normal();
    if (path.is_absolute()) {
        path = path.relative_path();
    }
    const fs::path name = path.filename();
    if (name.empty() || name == "." || name == "..") {
        error = "names no file";
        return false;
    }
    if (*path.begin() == "..") {
        error =
            "lies above the working folder, so it cannot be mirrored under the output "
            "folder (give it from a common parent folder, or as an absolute path)";
        return false;
    }
    relative = path;
    return true;
}

std::string OutputPath(const OutputNaming& naming, const fs::path& relative, int page,
                       int pageCount) {
    const std::string path =
        (naming.outDir / relative).replace_extension().string() + "." + naming.format;
    // Numbered as the single-page form and the Python module's file functions number
    // them, so that each page has one name whichever front end wrote it.
    return pageCount > 1 && !naming.multiPageFile ? NumberedPagePath(path, page + 1) : path;
}

bool IsTiffPath(const std::string& path) {
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".tif" || extension == ".tiff";
}

bool CheckOutputsDistinct(const std::vector<std::string>& inputs, const OutputNaming& naming,
                          std::string& message) {
    // Hashes rather than the names themselves: a list of millions of inputs
    // needs 16 bytes each here.
    std::vector<NameHash> sorted;
    sorted.reserve(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        fs::path relative;
        std::string error;
        if (!MirrorPath(inputs[i], relative, error)) {
            message = inputs[i] + " " + error;
            return false;
        }
        sorted.emplace_back(std::hash<std::string>{}(StemKey(relative)), i);
    }
    std::sort(sorted.begin(), sorted.end());
    for (size_t begin = 0, end = 0; begin < sorted.size(); begin = end) {
        end = begin + 1;
        while (end < sorted.size() && sorted[end].first == sorted[begin].first) {
            ++end;
        }
        if (end - begin > 1 && FindSameStem(inputs, sorted, begin, end, naming, message)) {
            return false;
        }
    }
    if (naming.multiPageFile) {
        return true;
    }
    for (const std::string& input : inputs) {
        if (FindNumberedPage(inputs, sorted, input, naming, message)) {
            return false;
        }
    }
    return true;
}

}  // namespace edgebin::cli
