// Image input of the command line: refuses what cannot be an image file, refuses
// oversized images from their header before decoding, and loads the rest as grey.
#include "app/image_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <vector>

namespace edgebin::cli {

namespace {

// Header reading: offsets beyond this cannot be sought portably, directories
// with more entries than this are read only in part (the size tags come first),
// and PNM numbers stop growing here instead of overflowing.
constexpr std::uint64_t kMaxFileOffset = std::uint64_t{1} << 62;
constexpr std::uint64_t kMaxTiffEntries = 4096;
constexpr std::uint64_t kPnmSaturation = std::uint64_t{1} << 40;
constexpr std::uint64_t kBmpCoreHeaderSize = 12;
constexpr std::uint64_t kTiffVersion = 42;
constexpr std::uint64_t kBigTiffVersion = 43;
constexpr std::uint64_t kTiffShort = 3;
constexpr std::uint64_t kTiffLong = 4;
constexpr std::uint64_t kTiffLong8 = 16;
constexpr std::uint64_t kTiffImageWidth = 256;
constexpr std::uint64_t kTiffImageLength = 257;

// Reads `count` bytes at `offset`; false when the file ends before them.
bool ReadAt(std::istream& file, std::uint64_t offset, unsigned char* bytes, size_t count) {
    if (offset > kMaxFileOffset) {
        return false;
    }
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
    if (!file) {
        return false;
    }
    file.read(reinterpret_cast<char*>(bytes), static_cast<std::streamsize>(count));
    return file.gcount() == static_cast<std::streamsize>(count);
}

std::uint64_t ReadUnsigned(const unsigned char* bytes, int count, bool bigEndian) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = (value << 8) | bytes[bigEndian ? i : count - 1 - i];
    }
    return value;
}

// Size of a signed 32-bit field read as unsigned, without its sign.
std::uint64_t Magnitude32(std::uint64_t field) {
    return (field & 0x80000000u) != 0 ? 0x100000000u - field : field;
}

bool ReadPngSize(std::istream& file, std::uint64_t& width, std::uint64_t& height) {
    unsigned char header[24];
    if (!ReadAt(file, 0, header, sizeof header) || std::memcmp(header + 12, "IHDR", 4) != 0) {
        return false;
    }
    width = ReadUnsigned(header + 16, 4, true);
    height = ReadUnsigned(header + 20, 4, true);
    return true;
}

bool ReadBmpSize(std::istream& file, std::uint64_t& width, std::uint64_t& height) {
    unsigned char header[26];
    if (!ReadAt(file, 0, header, sizeof header)) {
        return false;
    }
    const std::uint64_t infoSize = ReadUnsigned(header + 14, 4, false);
    if (infoSize == kBmpCoreHeaderSize) {
        width = ReadUnsigned(header + 18, 2, false);
        height = ReadUnsigned(header + 20, 2, false);
        return true;
    }
    // Later headers hold signed sizes; a negative height marks rows stored top-down.
    width = Magnitude32(ReadUnsigned(header + 18, 4, false));
    height = Magnitude32(ReadUnsigned(header + 22, 4, false));
    return true;
}

bool IsJpegFrameMarker(int marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool IsJpegMarkerWithoutLength(int marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

// Walks the marker segments up to the first frame header, which holds the size.
bool ReadJpegSize(std::istream& file, std::uint64_t& width, std::uint64_t& height) {
    std::uint64_t offset = 2;
    for (;;) {
        unsigned char byte = 0;
        if (!ReadAt(file, offset, &byte, 1) || byte != 0xFF) {
            return false;
        }
        while (byte == 0xFF) {  // any number of fill bytes may precede a marker code
            if (!ReadAt(file, ++offset, &byte, 1)) {
                return false;
            }
        }
        ++offset;
        const int marker = byte;
        if (IsJpegMarkerWithoutLength(marker)) {
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) {  // image end or scan data before any frame
            return false;
        }
        unsigned char segment[7];
        const bool frame = IsJpegFrameMarker(marker);
        if (!ReadAt(file, offset, segment, frame ? 7 : 2)) {
            return false;
        }
        const std::uint64_t length = ReadUnsigned(segment, 2, true);
        if (length < 2) {
            return false;
        }
        if (frame) {
            height = ReadUnsigned(segment + 3, 2, true);
            width = ReadUnsigned(segment + 5, 2, true);
            return true;
        }
        offset += length;
    }
}

// Reads the size tags of the first directory of a classic or big TIFF file.
bool ReadTiffSize(std::istream& file, std::uint64_t& width, std::uint64_t& height) {
    unsigned char header[16];
    if (!ReadAt(file, 0, header, 8)) {
        return false;
    }
    const bool bigEndian = header[0] == 'M';
    const std::uint64_t version = ReadUnsigned(header + 2, 2, bigEndian);
    if (version != kTiffVersion && version != kBigTiffVersion) {
        return false;
    }
    const bool big = version == kBigTiffVersion;
    std::uint64_t directoryOffset = ReadUnsigned(header + 4, 4, bigEndian);
    if (big) {
        if (!ReadAt(file, 0, header, 16)) {
            return false;
        }
        directoryOffset = ReadUnsigned(header + 8, 8, bigEndian);
    }
    const int countBytes = big ? 8 : 2;
    const size_t entryBytes = big ? 20 : 12;
    unsigned char countField[8];
    if (directoryOffset > kMaxFileOffset ||
        !ReadAt(file, directoryOffset, countField, countBytes)) {
        return false;
    }
    const std::uint64_t entries =
        std::min(ReadUnsigned(countField, countBytes, bigEndian), kMaxTiffEntries);
    std::vector<unsigned char> directory(static_cast<size_t>(entries) * entryBytes);
    if (!ReadAt(file, directoryOffset + countBytes, directory.data(), directory.size())) {
        return false;
    }
    bool haveWidth = false;
    bool haveHeight = false;
    for (size_t i = 0; i < static_cast<size_t>(entries); ++i) {
        const unsigned char* entry = directory.data() + i * entryBytes;
        const std::uint64_t tag = ReadUnsigned(entry, 2, bigEndian);
        const std::uint64_t type = ReadUnsigned(entry + 2, 2, bigEndian);
        const unsigned char* field = entry + (big ? 12 : 8);
        std::uint64_t value = 0;
        if (type == kTiffShort) {
            value = ReadUnsigned(field, 2, bigEndian);
        } else if (type == kTiffLong) {
            value = ReadUnsigned(field, 4, bigEndian);
        } else if (big && type == kTiffLong8) {
            value = ReadUnsigned(field, 8, bigEndian);
        } else {
            continue;
        }
        if (tag == kTiffImageWidth) {
            width = value;
            haveWidth = true;
        } else if (tag == kTiffImageLength) {
            height = value;
            haveHeight = true;
        }
    }
    return haveWidth && haveHeight;
}

// Reads one decimal field of a PNM header, skipping white space and comments.
bool ReadPnmNumber(std::istream& file, std::uint64_t& number) {
    int c = file.get();
    while (c == '#' || std::isspace(c)) {
        if (c == '#') {
            while (c != '\n' && c != '\r' && c != std::char_traits<char>::eof()) {
                c = file.get();
            }
        }
        c = file.get();
    }
    if (!std::isdigit(c)) {
        return false;
    }
    number = 0;
    while (std::isdigit(c)) {
        if (number < kPnmSaturation) {
            number = number * 10 + static_cast<std::uint64_t>(c - '0');
        }
        c = file.get();
    }
    return true;
}

bool ReadPnmSize(std::istream& file, std::uint64_t& width, std::uint64_t& height) {
    file.clear();
    file.seekg(2, std::ios::beg);
    return file && ReadPnmNumber(file, width) && ReadPnmNumber(file, height);
}

// True when width × height is above the pixel limit; the division keeps huge
// declared sizes from overflowing the product.
bool IsTooLarge(std::uint64_t width, std::uint64_t height) {
    return width != 0 && height > kMaxImagePixels / width;
}

std::string TooLargeMessage(std::uint64_t width, std::uint64_t height) {
    std::ostringstream message;
    message << "image too large: " << width << " x " << height << " pixels, the limit is "
            << kMaxImagePixels << " pixels.";
    return message.str();
}

}  // namespace

bool LoadGrey(const std::string& imgPath, cv::Mat& grey, std::string& refusal) {
    // Folders, pipes and devices are refused before they are opened, so that
    // reading can neither block nor run forever.
    struct stat info {};
    if (stat(imgPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    // Refuse an oversized image on its header, before the decoder allocates it.
    {
        std::ifstream file(imgPath, std::ios::binary);
        std::uint64_t width = 0;
        std::uint64_t height = 0;
        if (file && ReadDeclaredImageSize(file, width, height) && IsTooLarge(width, height)) {
            refusal = TooLargeMessage(width, height);
            return false;
        }
    }
    cv::Mat image;
    try {
        image = cv::imread(imgPath, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        image.release();
    }
    if (image.empty() || image.total() == 0) {
        return false;
    }
    // Formats whose header is not read above are checked once decoded.
    if (IsTooLarge(static_cast<std::uint64_t>(image.cols),
                   static_cast<std::uint64_t>(image.rows))) {
        refusal = TooLargeMessage(image.cols, image.rows);
        return false;
    }
    if (image.channels() > 1) {
        cv::cvtColor(image, image, cv::COLOR_BGR2GRAY, 0);
    }
    grey = image;
    return true;
}

int CountPages(const std::string& path) {
    cv::Mat grey;
    std::string refusal;
    return LoadGrey(path, grey, refusal) ? 1 : 0;
}

bool LoadGreyPage(const std::string& path, int index, cv::Mat& grey, Resolution& resolution,
                  std::string& refusal) {
    resolution = Resolution{};
    return index == 0 && LoadGrey(path, grey, refusal);
}

bool ReadDeclaredImageSize(std::istream& file, std::uint64_t& width, std::uint64_t& height) {
    unsigned char magic[8] = {};
    if (!ReadAt(file, 0, magic, 4)) {
        return false;
    }
    if (ReadAt(file, 0, magic, 8) && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) {
        return ReadPngSize(file, width, height);
    }
    if (magic[0] == 0xFF && magic[1] == 0xD8) {
        return ReadJpegSize(file, width, height);
    }
    if ((magic[0] == 'I' && magic[1] == 'I') || (magic[0] == 'M' && magic[1] == 'M')) {
        return ReadTiffSize(file, width, height);
    }
    if (magic[0] == 'B' && magic[1] == 'M') {
        return ReadBmpSize(file, width, height);
    }
    if (magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6') {
        return ReadPnmSize(file, width, height);
    }
    return false;
}
}  // namespace edgebin::cli
