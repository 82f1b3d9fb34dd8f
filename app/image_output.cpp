// Image output of the command line: the result is encoded in memory, written to a
// temporary file beside the output and renamed over it only once complete.
#include "app/image_output.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <opencv2/core.hpp>  // before libtiff, whose headers deprecate OpenCV's int64 names
#include <vector>

#include <png.h>

#include "app/image_handles.h"

namespace edgebin::cli {

namespace {

using Bytes = std::vector<unsigned char>;

// Temporary names tried beside outPath before giving up.
constexpr int kTempNameAttempts = 100;
// Symbolic links followed from outPath before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;
// OpenCV's default JPEG quality, at which the tool has always written JPEG.
constexpr int kJpegQuality = 95;
// Leptonica's quality for a lossless WebP or JPEG 2000 file, which OpenCV wrote by
// default.
constexpr int kLosslessQuality = 100;
// PNG counts pixels per metre; Leptonica's factor, so that a resolution reads back
// as the same whole dots per inch.
constexpr double kInchesPerMetre = 39.37;
// A format code for PAM files, which Leptonica counts as PNM.
constexpr int kPam = -1;
constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as for any new file

std::string Extension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "";
    }
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// The folder part of `path`, ending in a slash.
std::string Directory(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool IsTiff(const std::string& extension) {
    return extension == ".tif" || extension == ".tiff";
}

bool HasResolution(const Resolution& resolution) {
    return resolution.x > 0.0 && resolution.y > 0.0;
}

std::string ErrorText(int error) {
    return std::strerror(error);
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
            reason = ErrorText(errno);
            return false;
        }
        return true;
    }

  private:
    int fd_;
};

// ---- encoding ------------------------------------------------------------------

// Leptonica's image of a CV_8UC1 Mat, with the resolution rounded to whole dots
// per inch (the unit Leptonica keeps).
PixPtr ToPix(const cv::Mat& image, const Resolution& resolution) {
    assert(image.type() == CV_8UC1);
    PixPtr pix(pixCreate(image.cols, image.rows, 8));
    if (!pix) {
        return pix;
    }
    l_uint32* data = pixGetData(pix.get());
    const l_int32 wordsPerLine = pixGetWpl(pix.get());
    for (int y = 0; y < image.rows; ++y) {
        std::memcpy(data + static_cast<size_t>(y) * wordsPerLine, image.ptr(y),
                    static_cast<size_t>(image.cols));
    }
    // Leptonica stores the bytes of each 32-bit word most significant first.
    pixEndianByteSwap(pix.get());
    pixSetResolution(pix.get(), static_cast<l_int32>(std::lround(resolution.x)),
                     static_cast<l_int32>(std::lround(resolution.y)));
    return pix;
}

// Pixels below this value are ink in a 1-bit file: all but the largest value,
// or, for an image of one value, that value when it is below 128.
int BilevelThreshold(const cv::Mat& image) {
    double lowest = 0.0;
    double highest = 0.0;
    cv::minMaxLoc(image, &lowest, &highest);
    return lowest == highest ? 128 : static_cast<int>(highest);
}

// Ink (a set bit) where `image` is below `threshold`.
PixPtr ToBilevelPix(const cv::Mat& image, int threshold, const Resolution& resolution) {
    const PixPtr grey = ToPix(image, resolution);
    if (!grey) {
        return PixPtr();
    }
    PixPtr bits(pixThresholdToBinary(grey.get(), threshold));
    if (bits) {
        pixCopyResolution(bits.get(), grey.get());
    }
    return bits;
}

bool LeptonicaEncode(const PixPtr& pix, int format, Bytes& bytes, std::string& reason) {
    l_uint8* data = nullptr;
    size_t size = 0;
    bool written = false;
    if (pix && format == IFF_WEBP) {
        written = pixWriteMemWebP(&data, &size, pix.get(), kLosslessQuality, 1) == 0;
    } else if (pix && format == IFF_JP2) {
        written = pixWriteMemJp2k(&data, &size, pix.get(), kLosslessQuality, 0, 0, 0) == 0;
    } else if (pix && format == kPam) {
        written = pixWriteMemPam(&data, &size, pix.get()) == 0;
    } else if (pix) {
        written =
            (format == IFF_JFIF_JPEG ? pixWriteMemJpeg(&data, &size, pix.get(), kJpegQuality, 0)
                                     : pixWriteMem(&data, &size, pix.get(), format)) == 0;
    }
    const LeptonicaBytes owned(data);
    if (!written || data == nullptr) {
        reason = "the encoder failed";
        return false;
    }
    bytes.assign(data, data + size);
    return true;
}

[[noreturn]] void PngFailed(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void PngIgnoreWarning(png_structp, png_const_charp) {}

void PngAppend(png_structp png, png_bytep data, png_size_t size) {
    auto* bytes = static_cast<Bytes*>(png_get_io_ptr(png));
    bytes->insert(bytes->end(), data, data + size);
}

void PngFlush(png_structp) {}

// libpng's writer and its image description, released together.
class PngWriter {
  public:
    PngWriter()
        : png_(
              png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFailed, PngIgnoreWarning)),
          info_(png_ != nullptr ? png_create_info_struct(png_) : nullptr) {}
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    ~PngWriter() { png_destroy_write_struct(&png_, &info_); }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

  private:
    png_structp png_;
    png_infop info_;
};

// Writes the rows through libpng; false when libpng gives up. Everything it
// touches is made before setjmp, so that its long jump skips no destructor.
bool WritePngRows(const PngWriter& writer, const cv::Mat& image, const Resolution& resolution,
                  std::vector<png_bytep>& rows, Bytes& bytes) {
    png_structp png = writer.png();
    png_infop info = writer.info();
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_write_fn(png, &bytes, PngAppend, PngFlush);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, 3);  // zlib's run-length strategy
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.cols),
                 static_cast<png_uint_32>(image.rows), 8,
                 image.channels() == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (HasResolution(resolution)) {
        png_set_pHYs(png, info, static_cast<png_uint_32>(kInchesPerMetre * resolution.x + 0.5),
                     static_cast<png_uint_32>(kInchesPerMetre * resolution.y + 0.5),
                     PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    png_set_bgr(png);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    return true;
}

// One row of 1-bit pixels, most significant bit first, 1 for ink (min-is-white).
void PackInk(const unsigned char* row, int width, int threshold, std::vector<unsigned char>& bits) {
    std::fill(bits.begin(), bits.end(), 0);
    for (int x = 0; x < width; ++x) {
        if (row[x] < threshold) {
            bits[static_cast<size_t>(x) / 8] |= static_cast<unsigned char>(0x80u >> (x % 8));
        }
    }
}

// Writes one page into `tiff`: G4 and 1 bit per pixel, or deflate and 8 bits.
// The resolution tags are written only for a page that has one (Leptonica's TIFF
// writer would claim 300 dpi for a page without).
bool WriteTiffPage(TIFF* tiff, const cv::Mat& page, const Resolution& resolution, bool bilevel) {
    assert(page.type() == CV_8UC1);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(page.cols));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(page.rows));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bilevel ? 1 : 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION,
                 bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 bilevel ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
    // G4 compresses a page best as one strip, as fax pages are stored.
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
                 bilevel ? static_cast<std::uint32_t>(page.rows) : TIFFDefaultStripSize(tiff, 0));
    if (HasResolution(resolution)) {
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(resolution.x));
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(resolution.y));
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    const int threshold = BilevelThreshold(page);
    std::vector<unsigned char> row(bilevel ? (static_cast<size_t>(page.cols) + 7) / 8
                                           : static_cast<size_t>(page.cols));
    for (int y = 0; y < page.rows; ++y) {
        if (bilevel) {
            PackInk(page.ptr(y), page.cols, threshold, row);
        } else {
            std::memcpy(row.data(), page.ptr(y), row.size());
        }
        if (TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0) != 1) {
            return false;
        }
    }
    return TIFFWriteDirectory(tiff) == 1;
}

// Encodes the pages as one TIFF file through libtiff, into an in-memory file.
bool EncodeTiff(const std::vector<cv::Mat>& pages, const std::vector<Resolution>& resolutions,
                bool bilevel, Bytes& bytes, std::string& reason) {
    const FileDescriptor memory(memfd_create("edgebin-tiff", MFD_CLOEXEC));
    if (memory.get() < 0) {
        reason = ErrorText(errno);
        return false;
    }
    std::string firstError;
    const TiffOptionsPtr options = QuietTiffOptions(&firstError);
    // libtiff closes the descriptor it is given; `memory` keeps its own.
    TiffPtr tiff(TIFFFdOpenExt(dup(memory.get()), "page", "w", options.get()));
    bool written = tiff != nullptr;
    for (size_t i = 0; written && i < pages.size(); ++i) {
        written = WriteTiffPage(tiff.get(), pages[i], resolutions[i], bilevel);
    }
    tiff.reset();
    const off_t size = lseek(memory.get(), 0, SEEK_END);
    if (!written || !firstError.empty() || size <= 0) {
        reason = firstError.empty() ? "the encoder failed" : firstError;
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    if (pread(memory.get(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(size)) {
        reason = ErrorText(errno);
        return false;
    }
    return true;
}

// The format that holds a result with this extension, IFF_UNKNOWN for one the
// tool does not write. 1-bit results go only into PNG, TIFF and PBM files.
int OutputFormat(const std::string& extension, bool bilevel) {
    static const std::pair<const char*, int> kFormats[] = {
        {".png", IFF_PNG},       {".tif", IFF_TIFF},      {".tiff", IFF_TIFF},
        {".pbm", IFF_PNM},       {".jpg", IFF_JFIF_JPEG}, {".jpeg", IFF_JFIF_JPEG},
        {".jpe", IFF_JFIF_JPEG}, {".bmp", IFF_BMP},       {".dib", IFF_BMP},
        {".pgm", IFF_PNM},       {".pnm", IFF_PNM},       {".pam", kPam},
        {".webp", IFF_WEBP},     {".jp2", IFF_JP2}};
    const auto* end = bilevel ? kFormats + 4 : std::end(kFormats);
    const auto* found =
        std::find_if(kFormats, end, [&](const auto& entry) { return extension == entry.first; });
    return found == end ? IFF_UNKNOWN : found->second;
}

bool Encode(const cv::Mat& image, const std::string& extension, const OutputOptions& options,
            Bytes& bytes, std::string& reason) {
    const int format = OutputFormat(extension, options.bilevel);
    if (format == IFF_UNKNOWN) {
        reason = options.bilevel
                     ? "1-bit output is written only as .png, .tif, .tiff or .pbm"
                     : "no image format is written with the extension '" + extension + "'";
        return false;
    }
    if (format == IFF_TIFF) {
        return EncodeTiff({image}, {options.resolution}, options.bilevel, bytes, reason);
    }
    if (options.bilevel) {
        return LeptonicaEncode(ToBilevelPix(image, BilevelThreshold(image), options.resolution),
                               format, bytes, reason);
    }
    if (format == IFF_PNG) {
        if (EncodePng(image, options.resolution, bytes)) {
            return true;
        }
        reason = "the encoder failed";
        return false;
    }
    // An 8-bit PBM file has always held ink exactly where the result is 0.
    PixPtr pix = extension == ".pbm" ? ToBilevelPix(image, 1, options.resolution)
                                     : ToPix(image, options.resolution);
    return LeptonicaEncode(pix, format, bytes, reason);
}

// ---- writing -------------------------------------------------------------------

bool WriteAll(int fd, const Bytes& bytes, std::string& reason) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            reason = wrote < 0 ? ErrorText(errno) : "nothing could be written";
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    if (fsync(fd) != 0) {
        reason = ErrorText(errno);
        return false;
    }
    return true;
}

// Follows the symbolic links from `path` to the file they name, which need not
// exist yet: writing through a link writes its target, as opening it would.
bool FollowLinks(const std::string& path, std::string& target, std::string& reason) {
    target = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true;
        }
        std::array<char, 4096> link{};
        const ssize_t length = readlink(target.c_str(), link.data(), link.size());
        if (length < 0 || static_cast<size_t>(length) >= link.size()) {
            reason = ErrorText(length < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        const std::string next(link.data(), static_cast<size_t>(length));
        target = next[0] == '/' ? next : Directory(target) + next;
    }
    reason = ErrorText(ELOOP);
    return false;
}

// Write protection as its owner sees it: no write bit at all counts even for a
// process whose privileges would let it write anyway. A read-only file system is
// no protection of the file; writing there fails with its own reason.
bool IsWriteProtected(const std::string& path, const struct stat& info) {
    return (info.st_mode & 0222) == 0 ||
           (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES);
}

// Gives the file the mode and, where allowed, the owner of the file it replaces.
bool MatchExisting(int fd, const struct stat* existing, std::string& reason) {
    if (existing == nullptr) {
        return true;
    }
    // Only a privileged process may give a file away; for others the file stays
    // theirs, as it would after any editor's save.
    if (fchown(fd, existing->st_uid, existing->st_gid) != 0 && errno != EPERM) {
        reason = ErrorText(errno);
        return false;
    }
    if (fchmod(fd, existing->st_mode & 07777) != 0) {
        reason = ErrorText(errno);
        return false;
    }
    return true;
}

// Writes `bytes` into an unnamed file in `directory` and gives it a name only once
// complete, so that an interrupted write leaves nothing behind: `target` itself
// when no file of that name exists (then `tempPath` stays empty), else a temporary
// name set in `tempPath` for the caller to rename. Naming the target directly
// leaves no window in which a killed process strands a temporary file. Sets
// `unsupported` when the file system or the system offers no unnamed files, and
// `error` to the errno of a failure.
bool WriteUnnamedThenLink(const std::string& directory, const std::string& target,
                          const std::string& extension, const Bytes& bytes,
                          const struct stat* existing, std::string& tempPath, bool& unsupported,
                          int& error, std::string& reason) {
    FileDescriptor file(open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFileMode));
    if (file.get() < 0) {
        error = errno;
        unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
        reason = ErrorText(errno);
        return false;
    }
    if (!MatchExisting(file.get(), existing, reason) || !WriteAll(file.get(), bytes, reason)) {
        return false;
    }
    const std::string handle = "/proc/self/fd/" + std::to_string(file.get());
    tempPath.clear();
    if (existing == nullptr &&
        linkat(AT_FDCWD, handle.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        if (!file.Close(reason)) {
            unlink(target.c_str());
            return false;
        }
        return true;
    }
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
    error = errno;
    unsupported = errno == ENOENT;  // no /proc to name the file through
    reason = ErrorText(errno);
    return false;
}

// Writes `bytes` to a fresh named temporary file in `directory` and sets
// `tempPath`; removes the file again when writing fails.
bool WriteNamedTemporary(const std::string& directory, const std::string& extension,
                         const Bytes& bytes, const struct stat* existing, std::string& tempPath,
                         int& error, std::string& reason) {
    const std::string stem = directory + ".edgebin-" + std::to_string(getpid()) + "-n";
    int fd = -1;
    for (int attempt = 0; attempt < kTempNameAttempts && fd < 0; ++attempt) {
        tempPath = stem + std::to_string(attempt) + extension;
        fd = open(tempPath.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, kNewFileMode);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    FileDescriptor file(fd);
    if (file.get() < 0) {
        error = errno;
        reason = ErrorText(errno);
        return false;
    }
    if (!MatchExisting(file.get(), existing, reason) || !WriteAll(file.get(), bytes, reason) ||
        !file.Close(reason)) {
        unlink(tempPath.c_str());
        return false;
    }
    return true;
}

// The fallback for a folder where no file may be created: the existing file is
// overwritten where it is. Not atomic: a failure half-way leaves it half-written.
bool WriteInPlace(const std::string& path, const Bytes& bytes, std::string& reason) {
    FileDescriptor file(open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (file.get() < 0) {
        reason = ErrorText(errno);
        return false;
    }
    if (!WriteAll(file.get(), bytes, reason)) {
        return false;
    }
    if (ftruncate(file.get(), static_cast<off_t>(bytes.size())) != 0) {
        reason = ErrorText(errno);
        return false;
    }
    return file.Close(reason);
}

bool WriteBytesAtomically(const Bytes& bytes, const std::string& outPath, std::string& reason) {
    std::string target;
    if (!FollowLinks(outPath, target, reason)) {
        return false;
    }
    struct stat info {};
    const bool exists = stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    if (exists && IsWriteProtected(target, info)) {
        reason = "the file is write-protected";
        return false;
    }
    const struct stat* existing = exists ? &info : nullptr;
    const std::string directory = Directory(target);
    const std::string extension = Extension(target);
    std::string tempPath;
    bool unsupported = false;
    int error = 0;
    bool written = WriteUnnamedThenLink(directory, target, extension, bytes, existing, tempPath,
                                        unsupported, error, reason);
    if (written && tempPath.empty()) {
        return true;
    }
    if (!written && unsupported) {
        reason.clear();
        written =
            WriteNamedTemporary(directory, extension, bytes, existing, tempPath, error, reason);
    }
    if (!written) {
        const bool folderClosed = error == EACCES || error == EPERM || error == EROFS;
        return exists && folderClosed && WriteInPlace(target, bytes, reason);
    }
    if (std::rename(tempPath.c_str(), target.c_str()) != 0) {
        reason = ErrorText(errno);
        unlink(tempPath.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool CanEncode(const std::string& outPath) {
    return OutputFormat(Extension(outPath), false) != IFF_UNKNOWN;
}

bool CanEncode(const std::string& outPath, const OutputOptions& options) {
    return OutputFormat(Extension(outPath), options.bilevel) != IFF_UNKNOWN;
}

bool EncodePng(const cv::Mat& image, const Resolution& resolution,
               std::vector<unsigned char>& bytes) {
    if (image.type() != CV_8UC1 && image.type() != CV_8UC3) {
        return false;
    }
    const PngWriter writer;
    std::vector<png_bytep> rows(static_cast<size_t>(image.rows));
    for (int y = 0; y < image.rows; ++y) {
        rows[static_cast<size_t>(y)] = const_cast<png_bytep>(image.ptr(y));
    }
    bytes.clear();
    return writer.info() != nullptr && WritePngRows(writer, image, resolution, rows, bytes);
}

bool CheckWritable(const std::string& outPath, std::string& reason) {
    std::string target;
    if (!FollowLinks(outPath, target, reason)) {
        return false;
    }
    struct stat info {};
    if (stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        IsWriteProtected(target, info)) {
        reason = "the file is write-protected";
        return false;
    }
    return true;
}

bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath, std::string& reason) {
    return WriteImageAtomically(image, outPath, OutputOptions{}, reason);
}

bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath,
                          const OutputOptions& options, std::string& reason) {
    Bytes bytes;
    return Encode(image, Extension(outPath), options, bytes, reason) &&
           WriteBytesAtomically(bytes, outPath, reason);
}

bool HoldsSeveralPages(const std::string& outPath, const OutputOptions& options) {
    return options.bilevel && IsTiff(Extension(outPath));
}

std::string NumberedPagePath(const std::string& outPath, int page) {
    assert(page >= 1);
    const std::string extension = Extension(outPath);
    const std::string stem = outPath.substr(0, outPath.size() - extension.size());
    char number[16];
    std::snprintf(number, sizeof number, "-%03d", page);
    return stem + number + outPath.substr(stem.size());
}

bool WritePagesAtomically(const std::vector<cv::Mat>& pages, const std::string& outPath,
                          const OutputOptions& options, std::string& reason) {
    return WritePagesAtomically(pages, std::vector<Resolution>(pages.size(), options.resolution),
                                outPath, options, reason);
}

bool WritePagesAtomically(const std::vector<cv::Mat>& pages,
                          const std::vector<Resolution>& resolutions, const std::string& outPath,
                          const OutputOptions& options, std::string& reason) {
    assert(pages.size() == resolutions.size());
    if (pages.size() == 1) {
        OutputOptions one = options;
        one.resolution = resolutions[0];
        return WriteImageAtomically(pages[0], outPath, one, reason);
    }
    if (pages.empty() || !IsTiff(Extension(outPath))) {
        reason = pages.empty() ? "no page to write" : "several pages are written only as TIFF";
        return false;
    }
    Bytes bytes;
    return EncodeTiff(pages, resolutions, options.bilevel, bytes, reason) &&
           WriteBytesAtomically(bytes, outPath, reason);
}

bool WriteTextAtomically(const std::string& text, const std::string& outPath, std::string& reason) {
    return WriteBytesAtomically(Bytes(text.begin(), text.end()), outPath, reason);
}

}  // namespace edgebin::cli
