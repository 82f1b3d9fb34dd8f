#include "app/input_list.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <system_error>

namespace fs = std::filesystem;

namespace edgebin::cli {

namespace {

bool IsHidden(const fs::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name[0] == '.';
}

bool IsOutputFolder(const fs::path& folder, const fs::path& outDir) {
    std::error_code error;
    return fs::equivalent(folder, outDir, error);
}

// Why `line` cannot name a file here, or empty. The kernel ends a path at its
// first NUL and refuses, with ENAMETOOLONG, paths of PATH_MAX bytes or more and
// names of more than NAME_MAX.
std::string PathProblem(const std::string& line) {
    if (line.find('\0') != std::string::npos) {
        return "holds a NUL byte, which no path can";
    }
    if (line.size() >= PATH_MAX) {
        return "a path of " + std::to_string(line.size()) + " bytes, the limit is " +
               std::to_string(PATH_MAX - 1);
    }
    for (size_t start = 0; start < line.size();) {
        const size_t end = std::min(line.find('/', start), line.size());
        if (end - start > NAME_MAX) {
            return "a name of " + std::to_string(end - start) + " bytes, the limit is " +
                   std::to_string(NAME_MAX);
        }
        start = end + 1;
    }
    return "";
}

}  // namespace

bool HasImageExtension(const fs::path& path) {
    static const std::array<const char*, 14> kExtensions = {
        ".png", ".jpg", ".jpeg", ".jpe", ".jp2", ".tif", ".tiff",
        ".bmp", ".dib", ".pbm",  ".pgm", ".ppm", ".pnm", ".webp"};
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

bool AddInputs(const std::string& argument, const fs::path& outDir,
               std::vector<std::string>& inputs, std::string& error) {
    std::error_code status;
    if (!fs::is_directory(argument, status)) {
        inputs.push_back(argument);
        return true;
    }
    std::vector<std::string> found;
    fs::recursive_directory_iterator entry(argument, status);
    for (; !status && entry != fs::recursive_directory_iterator(); entry.increment(status)) {
        const fs::path& path = entry->path();
        std::error_code typeError;  // a dangling link is neither folder nor image
        const bool isFolder = entry->is_directory(typeError);
        if (IsHidden(path) || (isFolder && IsOutputFolder(path, outDir))) {
            if (isFolder) {
                entry.disable_recursion_pending();
            }
        } else if (!isFolder && HasImageExtension(path)) {
            found.push_back(path.string());
        }
    }
    if (status) {
        error = "cannot search " + argument + ": " + status.message();
        return false;
    }
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return true;
}

bool ReadInputList(std::istream& list, std::vector<std::string>& inputs, std::string& error) {
    std::string line;
    for (long number = 1; std::getline(list, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string problem = PathProblem(line);
        if (!problem.empty()) {
            error = "line " + std::to_string(number) + ": " + problem;
            return false;
        }
        if (!line.empty()) {
            inputs.push_back(line);
        }
    }
    return true;
}

}  // namespace edgebin::cli
