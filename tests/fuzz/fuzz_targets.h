// The fuzz targets, shared by the libFuzzer harness and by the regression test
// that replays saved inputs in the normal build. Each returns normally on
// every input and aborts when the tool's invariants break: a crash, a sanitizer
// report or an abort here is a finding.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <opencv2/core.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/image_input.h"
#include "app/input_list.h"
#include "edgebin/edgebin.hpp"

namespace edgebin_fuzz {

// Larger decoded images are not run through the pipeline, so that every input
// stays fast.
constexpr int kMaxSide = 64;
constexpr int kMaxStripRows = 8;

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Runs the library on `grey` and checks the result.
inline void BinarizeAndCheck(const cv::Mat& grey, double alpha, double k, double Rthre) {
    Require(grey.type() == CV_8UC1);
    const edgebin::Result result = edgebin::Binarize(grey, {alpha, k, Rthre});
    const cv::Mat& dst = result.image;
    if (result.status != 0) {
        Require(result.status == -1 || result.status == 11 || result.status == 12);
        Require(dst.empty());
        return;
    }
    if (result.trace.copiedInput) {
        Require(cv::norm(dst, grey, cv::NORM_INF) == 0);
        return;
    }
    Require(dst.type() == CV_8UC1 && dst.size() == grey.size());
    Require(cv::countNonZero(dst == 0) + cv::countNonZero(dst == 255) ==
            static_cast<int>(dst.total()));
}

// Bytes read directly as a small grey page: bytes 0 and 1 give the width and
// height, byte 2 picks the tuning values and the page shape, the rest are the
// pixels, repeated when too few. Reaches the pipeline's corners far faster than
// decoding. The top bit of byte 2 asks for a short strip up to 64 times wider,
// where the stroke width measured on the whole page can approach its width.
inline void FuzzRaw(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return;
    }
    static constexpr double kAlphas[8] = {2.0, 0.5, 1.0, 4.0, 0.0, -1.0, 30.0, 1.5};
    static constexpr double kKs[4] = {0.6, 0.0, -0.5, 3.0};
    static constexpr double kRthres[4] = {0.05, 0.0, 1.0, -1.0};
    const std::uint8_t pick = data[2];
    const bool strip = (pick & 0x80) != 0;
    const int cols = (1 + data[0] % kMaxSide) * (strip ? kMaxSide : 1);
    const int rows = strip ? 1 + data[1] % kMaxStripRows : 1 + data[1] % kMaxSide;
    cv::Mat grey(rows, cols, CV_8UC1, cv::Scalar(0));
    const std::size_t pixelBytes = size - 3;
    if (pixelBytes > 0) {
        for (int i = 0; i < rows * cols; ++i) {
            grey.data[i] = data[3 + static_cast<std::size_t>(i) % pixelBytes];
        }
    }
    BinarizeAndCheck(grey, kAlphas[pick & 7], kKs[(pick >> 3) & 3], kRthres[(pick >> 5) & 3]);
}

// The file readers take paths: each input is written to a file of its own.
class TempFile {
  public:
    TempFile(const std::uint8_t* data, std::size_t size) {
        char name[] = "/tmp/edgebin-fuzz-XXXXXX";
        const int fd = mkstemp(name);
        Require(fd >= 0);
        path_ = name;
        Require(size == 0 || write(fd, data, size) == static_cast<ssize_t>(size));
        close(fd);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() { unlink(path_.c_str()); }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// A loaded page is grey and not empty, with a resolution that is none or positive.
inline bool LoadAndCheck(const std::string& path, int index, bool mustFail) {
    cv::Mat grey;
    edgebin::cli::Resolution resolution;
    std::string refusal;
    if (!edgebin::cli::LoadGreyPage(path, index, grey, resolution, refusal)) {
        return false;
    }
    Require(!mustFail && grey.type() == CV_8UC1 && !grey.empty());
    Require((resolution.x == 0 && resolution.y == 0) ||
            (resolution.x > 0 && resolution.y > 0 && std::isfinite(resolution.x * resolution.y)));
    return true;
}

// The chain of a TIFF file's directories followed by hand: how many it reaches,
// and whether it ends in a zero offset rather than past the end, in a loop or in
// a count that cannot be read. -1 for what is not a TIFF header.
inline int WalkTiffChain(const std::uint8_t* data, std::size_t size, bool& clean) {
    clean = false;
    const auto read = [&](std::uint64_t at, int bytes, std::uint64_t& value) {
        value = 0;
        if (at > size || static_cast<std::uint64_t>(bytes) > size - at) {
            return false;
        }
        for (int i = 0; i < bytes; ++i) {
            value = value << 8 | data[at + (data[0] == 'I' ? bytes - 1 - i : i)];
        }
        return true;
    };
    std::uint64_t version = 0;
    if (size < 8 || std::memcmp(data, data[0] == 'I' ? "II" : "MM", 2) != 0 ||
        !read(2, 2, version) || (version != 42 && version != 43)) {
        return -1;
    }
    const int word = version == 43 ? 8 : 4;
    std::uint64_t offset = 0;
    read(word == 8 ? 8 : 4, word, offset);
    std::set<std::uint64_t> seen;
    int directories = 0;
    for (; offset != 0; ++directories) {
        std::uint64_t entries = 0;
        if (!seen.insert(offset).second || !read(offset, word == 8 ? 8 : 2, entries) ||
            entries > size ||
            !read(offset + (word == 8 ? 8 : 2) + entries * (word == 8 ? 20 : 12), word, offset)) {
            return directories;
        }
    }
    clean = true;
    return directories;
}

// Bytes as a file through the TIFF page iterator: the page at a break never
// loads, and a TIFF file whose pages all load (a run reported as a success)
// has a chain that ends cleanly, every page of it counted. The first pages and
// the last are loaded.
inline void FuzzTiffPages(const std::uint8_t* data, std::size_t size) {
    const TempFile file(data, size);
    std::string chainBreak;
    const int pages = edgebin::cli::CountPages(file.Path(), &chainBreak);
    bool allLoad = pages > 0;
    for (int index = 0; index < pages; index = std::max(index + 1, index < 2 ? 0 : pages - 1)) {
        const bool mustFail = !chainBreak.empty() && index == pages - 1;
        allLoad = LoadAndCheck(file.Path(), index, mustFail) && allLoad;
    }
    bool clean = false;
    const int reached = WalkTiffChain(data, size, clean);
    if (allLoad && reached >= 0 && chainBreak.empty()) {
        Require(clean && pages == reached);
    }
}

// Arbitrary bytes as an image file: the header reader, the command line's
// decoder, then the pipeline for images of at most kMaxSide × kMaxSide.
inline void FuzzDecode(const std::uint8_t* data, std::size_t size) {
    {
        std::uint64_t width = 0;
        std::uint64_t height = 0;
        edgebin::cli::ReadDeclaredImageSize(data, size, width, height);
    }
    const TempFile file(data, size);
    cv::Mat grey;
    edgebin::cli::Resolution resolution;
    std::string refusal;
    if (!edgebin::cli::LoadGreyPage(file.Path(), 0, grey, resolution, refusal) ||
        grey.rows > kMaxSide || grey.cols > kMaxSide) {
        return;
    }
    Require(grey.type() == CV_8UC1 && !grey.empty());
    BinarizeAndCheck(grey, 2.0, 0.6, 0.05);
}

// Bytes as a file through the header and resolution readers: the size read from
// memory and the first page loaded from the file.
inline void FuzzImageHeader(const std::uint8_t* data, std::size_t size) {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    if (edgebin::cli::ReadDeclaredImageSize(data, size, width, height)) {
        Require(width > 0 && height > 0);
    }
    const TempFile file(data, size);
    LoadAndCheck(file.Path(), 0, false);
}

// Bytes as a --from-list file: either refused at the first line that holds a NUL
// or cannot be a path, or read as exactly its non-empty lines, a CR before each
// LF taken off.
inline void FuzzInputList(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream list(text);
    std::vector<std::string> inputs;
    std::string error;
    const bool read = edgebin::cli::ReadInputList(list, inputs, error);
    std::vector<std::string> expected;
    int badLine = 0;
    int number = 0;
    for (size_t start = 0; start < text.size() && badLine == 0;) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find('\0') != std::string::npos || line.size() >= PATH_MAX) {
            badLine = number;
        }
        for (size_t name = 0; name < line.size() && badLine == 0;) {
            const size_t slash = std::min(line.find('/', name), line.size());
            badLine = slash - name > NAME_MAX ? number : 0;
            name = slash + 1;
        }
        if (!line.empty()) {
            expected.push_back(line);
        }
    }
    Require(read == (badLine == 0));
    Require(read ? inputs == expected
                 : error.rfind("line " + std::to_string(badLine) + ":", 0) == 0);
}

}  // namespace edgebin_fuzz
