#include "app/front_end.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "pipeline/binarize.h"

using namespace edgebin::detail;

namespace {

// Exit statuses of the front end besides 0 and the driver's codes.
constexpr int kExitLoadFailed = -1;
constexpr int kExitUsage = 2;
constexpr int kExitWriteFailed = 3;

// Tuning values beyond these bounds are refused: the local threshold
// (deviation * k + mean) must stay inside int, and an alpha this large already
// gives windows far wider than any page. No sensible setting comes near them.
constexpr double kMaxAbsAlpha = 1.0e4;
constexpr double kMaxAbsK = 1.0e6;
constexpr double kMaxAbsRthre = 1.0e6;

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

// Temporary names tried beside outPath before giving up.
constexpr int kTempNameAttempts = 100;

const char* const kUsage = "usage: edgebin imgPath [outPath] [alpha] [k] [Rthre]";

void PrintUsage() {
    std::cout << kUsage << std::endl;
}

void PrintHelp() {
    std::cout << kUsage << "\n"
              << "\n"
              << "Binarizes a document image: ink becomes 0, paper 255.\n"
              << "\n"
              << "  imgPath  image to read (any format OpenCV reads; converted to grey)\n"
              << "  outPath  image to write, format from its extension (.png, .tif, .bmp, ...)\n"
              << "  alpha    window scale of the local vote (default 2)\n"
              << "  k        weight of the deviation in the local threshold (default 0.6)\n"
              << "  Rthre    ratio threshold of the global stage (default 0.05)\n"
              << "\n"
              << "The numbers are read only when three to five arguments are given; a number\n"
              << "may be followed by other text (0.3x reads as 0.3). Refused: text that is no\n"
              << "number, nan, inf, |alpha| > 1e4, |k| > 1e6, |Rthre| > 1e6.\n"
              << "Images above 400 megapixels are refused, from the file header where the\n"
              << "format allows (PNG, JPEG, TIFF, BMP, PNM), before anything is decoded.\n"
              << "\n"
              << "Exit status: 0 success; 255 (-1) image not loadable or no stroke structure\n"
              << "found; 11 image without rows or columns; 12 unsupported channel count;\n"
              << "2 bad command line; 3 output could not be written.\n"
              << "The output is written to a temporary file beside outPath and renamed over it\n"
              << "only once complete, so a failed run leaves no partial file." << std::endl;
}

// Reads the longest leading decimal number of `text`, ignoring what follows.
// `overflow` tells a number too large for a double from text that is none.
bool ReadNumber(const std::string& text, double& value, bool& overflow) {
    std::stringstream stream;
    stream << text << "\n";
    double parsed = 0.0;
    stream >> parsed;
    overflow = stream.fail() && std::fabs(parsed) == std::numeric_limits<double>::max();
    if (stream.fail()) {
        return false;
    }
    value = parsed;
    return true;
}

bool ReadTuning(const std::string& name, const std::string& text, double bound, double& value) {
    double parsed = 0.0;
    bool overflow = false;
    if (!ReadNumber(text, parsed, overflow) && !overflow) {
        std::cout << "invalid " << name << ": '" << text << "' is not a number." << std::endl;
        return false;
    }
    if (overflow || !std::isfinite(parsed) || std::fabs(parsed) > bound) {
        std::cout << "invalid " << name << ": " << text << " is outside [-" << bound << ", "
                  << bound << "]." << std::endl;
        return false;
    }
    value = parsed;
    return true;
}

std::string Extension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "";
    }
    return path.substr(dot);
}

std::string Directory(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

bool CanEncode(const std::string& outPath) {
    try {
        return !Extension(outPath).empty() && cv::haveImageWriter(outPath);
    } catch (const cv::Exception&) {
        return false;
    }
}

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

// Loads `imgPath` as grey. On failure `refusal` holds a reason worth printing
// beyond the standard load-failure lines, or stays empty.
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

// The temporary file is created private; give the result the mode of the file it
// replaces, or the usual mode of a new file.
mode_t OutputMode(const std::string& outPath) {
    struct stat existing {};
    if (stat(outPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        return existing.st_mode & 07777;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool WriteAll(int fd, const std::vector<unsigned char>& bytes, std::string& reason) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            reason = wrote < 0 ? std::strerror(errno) : "nothing could be written";
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    if (fsync(fd) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

// Owns an open file descriptor.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now, reporting the error that a delayed write may only show here.
    bool Close(std::string& reason) {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) {
            reason = std::strerror(errno);
            return false;
        }
        return true;
    }

  private:
    int fd_;
};

// Writes `bytes` into an unnamed file in `directory` and gives it a temporary
// name (set in `tempPath`) only once complete, so that an interrupted write
// leaves nothing behind. Sets `unsupported` when the file system or the system
// offers no unnamed files.
bool WriteUnnamedThenLink(const std::string& directory, const std::string& extension,
                          const std::vector<unsigned char>& bytes, mode_t mode,
                          std::string& tempPath, bool& unsupported, std::string& reason) {
    FileDescriptor file(open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (file.get() < 0) {
        unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
        reason = std::strerror(errno);
        return false;
    }
    if (fchmod(file.get(), mode) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    if (!WriteAll(file.get(), bytes, reason)) {
        return false;
    }
    const std::string handle = "/proc/self/fd/" + std::to_string(file.get());
    const std::string stem = directory + ".edgebin-" + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        tempPath = stem + std::to_string(attempt) + extension;
        if (linkat(AT_FDCWD, handle.c_str(), AT_FDCWD, tempPath.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            if (!file.Close(reason)) {
                unlink(tempPath.c_str());
                return false;
            }
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    unsupported = errno == ENOENT;  // no /proc to name the file through
    reason = std::strerror(errno);
    return false;
}

// Writes `bytes` to a fresh temporary file named after `pattern` and sets
// `tempPath`; removes the file again when writing fails.
bool WriteNamedTemporary(const std::string& pattern, int suffixLength,
                         const std::vector<unsigned char>& bytes, mode_t mode,
                         std::string& tempPath, std::string& reason) {
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    FileDescriptor file(mkostemps(name.data(), suffixLength, O_CLOEXEC));
    if (file.get() < 0) {
        reason = std::strerror(errno);
        return false;
    }
    tempPath = name.data();
    if (fchmod(file.get(), mode) != 0) {
        reason = std::strerror(errno);
    }
    if (!reason.empty() || !WriteAll(file.get(), bytes, reason) || !file.Close(reason)) {
        unlink(tempPath.c_str());
        return false;
    }
    return true;
}

// Encodes `image` in memory, writes it to a temporary file in outPath's folder
// and renames that over outPath only when complete, so that outPath is never
// half-written and an existing file survives a failed run. The temporary file
// has no name while it is written where the file system allows it.
bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath, std::string& reason) {
    const std::string extension = Extension(outPath);
    std::vector<unsigned char> encoded;
    try {
        if (!cv::imencode(extension, image, encoded, std::vector<int>())) {
            reason = "the encoder failed";
            return false;
        }
    } catch (const cv::Exception& error) {
        reason = error.err;
        return false;
    }
    const std::string directory = Directory(outPath);
    const mode_t mode = OutputMode(outPath);
    std::string tempPath;
    bool unsupported = false;
    bool written =
        WriteUnnamedThenLink(directory, extension, encoded, mode, tempPath, unsupported, reason);
    if (!written && unsupported) {
        reason.clear();
        written = WriteNamedTemporary(directory + ".edgebin-XXXXXX" + extension,
                                      static_cast<int>(extension.size()), encoded, mode, tempPath,
                                      reason);
    }
    if (!written) {
        return false;
    }
    if (std::rename(tempPath.c_str(), outPath.c_str()) != 0) {
        reason = std::strerror(errno);
        unlink(tempPath.c_str());
        return false;
    }
    return true;
}

}  // namespace

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

bool IsAlreadyBinary(const cv::Mat& grey) {
    CV_Assert(grey.type() == CV_8UC1);
    unsigned char seen[2] = {0, 0};
    int distinct = 0;
    for (int y = 0; y < grey.rows; ++y) {
        const unsigned char* row = grey.ptr<unsigned char>(y);
        for (int x = 0; x < grey.cols; ++x) {
            const unsigned char value = row[x];
            if ((distinct > 0 && seen[0] == value) || (distinct > 1 && seen[1] == value)) {
                continue;
            }
            if (distinct == 2) {
                return false;
            }
            seen[distinct++] = value;
        }
    }
    return true;
}

int RunEdgebin(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        PrintUsage();
        return kExitUsage;
    }
    if (args[1] == "-h" || args[1] == "--help") {
        PrintHelp();
        return 0;
    }

    const std::string& imgPath = args[1];
    cv::Mat grey;
    std::string refusal;
    if (!LoadGrey(imgPath, grey, refusal)) {
        if (!refusal.empty()) {
            std::cout << refusal << std::endl;
        }
        std::cout << "load image failed." << std::endl;
        std::cout << "imgPath:  " << imgPath << std::endl;
        return kExitLoadFailed;
    }

    const size_t given = args.size() - 1;
    const std::string outPath = given >= 2 ? args[2] : std::string();
    double alpha = 2.0;
    double k = 0.6;
    double Rthre = 0.05;
    if (given >= 3 && given <= 5) {
        if (!ReadTuning("alpha", args[3], kMaxAbsAlpha, alpha) ||
            (given >= 4 && !ReadTuning("k", args[4], kMaxAbsK, k)) ||
            (given >= 5 && !ReadTuning("Rthre", args[5], kMaxAbsRthre, Rthre))) {
            return kExitUsage;
        }
    }
    if (outPath.empty()) {
        std::cout << "no output path given." << std::endl;
        PrintUsage();
        return kExitUsage;
    }
    if (!CanEncode(outPath)) {
        std::cout << "cannot write " << outPath
                  << ": unknown image format (use an extension such as .png, .tif or .bmp)."
                  << std::endl;
        return kExitWriteFailed;
    }

    cv::Mat result;
    if (IsAlreadyBinary(grey)) {
        std::cout << "The input image is a binarized image. The output image is a copy of the "
                     "input image."
                  << std::endl;
        result = grey.clone();
    } else {
        const int status = BinarizeImage(grey, result, alpha, k, Rthre);
        if (status != 0) {
            std::cout << "There is something wrong in the binarization process." << std::endl;
            return status;
        }
    }

    std::string reason;
    if (!WriteImageAtomically(result, outPath, reason)) {
        std::cout << "cannot write " << outPath << ": " << reason << "." << std::endl;
        return kExitWriteFailed;
    }
    return 0;
}
