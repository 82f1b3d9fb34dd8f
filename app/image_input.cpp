// Image input of the command line: refuses what cannot be an image file, refuses
// oversized images from their header before decoding, and loads the rest as grey
// with the resolution the file declares. Headers are read by libtiff and Leptonica,
// the pixels as image_decode.cpp says.
#include "app/image_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "app/image_decode.h"
#include "app/image_handles.h"
#include "edgebin/edgebin.hpp"

namespace edgebin::cli {

namespace {

// What page `index` (from 0) of an image file declares in its header.
struct ImageHeader {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    Resolution resolution;
};

constexpr double kCentimetresPerInch = 2.54;
constexpr std::uint16_t kMaxTiffSamples = 4;
constexpr std::uint16_t kMaxTiffBits = 64;
constexpr std::uint64_t kMinChunkLimit = std::uint64_t{64} << 20;

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Opens a TIFF file for reading; with `firstError`, libtiff's first error is kept there.
TiffPtr OpenTiff(const std::string& path, std::string* firstError = nullptr) {
    const TiffOptionsPtr options = QuietTiffOptions(firstError);
    return TiffPtr(TIFFOpenExt(path.c_str(), "r", options.get()));
}

// The buffer for one strip or tile is sized from the header, which may declare
// gigabytes for a page of a few pixels: the layout must be one the decoder reads
// (at most four samples of at most 64 bits), and a chunk no larger than the page
// (beyond a floor, as a tile may stick out of a small page). Sets `problem`.
bool ChunksFit(TIFF* tiff, tmsize_t chunkSize, std::string& problem) {
    std::uint16_t samples = 1;
    std::uint16_t bits = 1;
    std::uint32_t height = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    const std::uint64_t pageBytes = TIFFScanlineSize64(tiff) * height;
    std::ostringstream text;
    if (samples > kMaxTiffSamples || bits > kMaxTiffBits) {
        text << samples << " samples of " << bits << " bits a pixel, more than can be read";
    } else if (chunkSize <= 0 ||
               static_cast<std::uint64_t>(chunkSize) > std::max(pageBytes, kMinChunkLimit)) {
        text << "strips or tiles of " << chunkSize << " bytes for a page of " << pageBytes;
    }
    problem = text.str();
    return problem.empty();
}

// libtiff's RGBA reading of a TIFF page turns strips or tiles that do not decode
// into black without a word. libtiff decodes each of them once beforehand, so that
// a damaged page is refused instead of binarized as black. Sets `problem`.
bool TiffPageDecodes(const std::string& path, int index, std::string& problem) {
    std::string firstError;
    const TiffPtr tiff = OpenTiff(path, &firstError);
    if (!tiff || TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(index)) != 1) {
        problem =
            "its directory cannot be read" + (firstError.empty() ? "" : " (" + firstError + ")");
        return false;
    }
    const bool tiled = TIFFIsTiled(tiff.get()) != 0;
    const tmsize_t chunkSize = tiled ? TIFFTileSize(tiff.get()) : TIFFStripSize(tiff.get());
    if (!ChunksFit(tiff.get(), chunkSize, problem)) {
        return false;
    }
    const std::uint32_t chunks =
        tiled ? TIFFNumberOfTiles(tiff.get()) : TIFFNumberOfStrips(tiff.get());
    std::vector<unsigned char> buffer(chunkSize > 0 ? static_cast<size_t>(chunkSize) : 0);
    for (std::uint32_t chunk = 0; chunk < chunks && firstError.empty(); ++chunk) {
        const tmsize_t got =
            tiled ? TIFFReadEncodedTile(tiff.get(), chunk, buffer.data(), chunkSize)
                  : TIFFReadEncodedStrip(tiff.get(), chunk, buffer.data(), chunkSize);
        if (got < 0 && firstError.empty()) {
            firstError = "unreadable data";
        }
    }
    problem = firstError;
    return firstError.empty();
}

// libjpeg decodes a JPEG file cut short with its missing part grey and says so
// only in a line of its own on standard error; such a file is refused instead.
// The last scan of every JPEG is followed by an end-of-image marker, which no
// scan data can hold (an FF byte there is followed by 00 or a restart marker), so
// a file without one after its first scan marker was cut short.
bool JpegHasEnd(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    const size_t scan = bytes.find("\xFF\xDA");
    return scan != std::string::npos && bytes.find("\xFF\xD9", scan + 2) != std::string::npos;
}

int FileFormat(const std::string& path) {
    l_int32 format = IFF_UNKNOWN;
    return findFileFormat(path.c_str(), &format) == 0 ? format : IFF_UNKNOWN;
}

// A resolution with one direction missing is taken as square; one that is not
// finite and positive in both is none.
Resolution CleanResolution(double x, double y) {
    if (!(x > 0.0)) {
        x = y;
    }
    if (!(y > 0.0)) {
        y = x;
    }
    if (!(x > 0.0) || !std::isfinite(x) || !std::isfinite(y)) {
        return Resolution{};
    }
    return Resolution{x, y};
}

bool ReadTiffHeader(const std::string& path, int index, ImageHeader& header) {
    const TiffPtr tiff = OpenTiff(path);
    if (!tiff || TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(index)) != 1) {
        return false;
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) != 1) {
        return false;
    }
    header.width = width;
    header.height = height;
    float x = 0.0f;
    float y = 0.0f;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetField(tiff.get(), TIFFTAG_XRESOLUTION, &x);
    TIFFGetField(tiff.get(), TIFFTAG_YRESOLUTION, &y);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    // Without a unit the two values give only the pixels' aspect ratio.
    const double scale =
        unit == RESUNIT_INCH ? 1.0 : (unit == RESUNIT_CENTIMETER ? kCentimetresPerInch : 0.0);
    header.resolution = CleanResolution(x * scale, y * scale);
    return true;
}

// Leptonica reads the resolution of these formats from their headers; a BMP file
// gives it only through a full read, done once the size is known to be sane.
Resolution ReadResolution(const std::string& path, int format) {
    l_int32 x = 0;
    l_int32 y = 0;
    if (format == IFF_PNG || format == IFF_JFIF_JPEG) {
        const FilePtr file(std::fopen(path.c_str(), "rb"));
        if (file) {
            const bool read = format == IFF_PNG ? fgetPngResolution(file.get(), &x, &y) == 0
                                                : fgetJpegResolution(file.get(), &x, &y) == 0;
            if (!read) {
                x = y = 0;
            }
        }
    } else if (format == IFF_BMP) {
        const PixPtr pix(pixRead(path.c_str()));
        if (pix) {
            pixGetResolution(pix.get(), &x, &y);
        }
    }
    return CleanResolution(x, y);
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

// Width and height of page `index`; for TIFF also its resolution, which libtiff
// gives with them.
bool ReadPageSize(const std::string& path, int index, int format, ImageHeader& header) {
    header = ImageHeader{};
    if (L_FORMAT_IS_TIFF(format)) {
        return ReadTiffHeader(path, index, header);
    }
    l_int32 leptonicaFormat = 0;
    l_int32 width = 0;
    l_int32 height = 0;
    if (index != 0 || format == IFF_UNKNOWN ||
        pixReadHeader(path.c_str(), &leptonicaFormat, &width, &height, nullptr, nullptr, nullptr) !=
            0 ||
        width <= 0 || height <= 0) {
        return false;
    }
    header.width = static_cast<std::uint64_t>(width);
    header.height = static_cast<std::uint64_t>(height);
    return true;
}

}  // namespace

bool ReadDeclaredImageSize(const std::uint8_t* data, std::size_t size, std::uint64_t& width,
                           std::uint64_t& height) {
    assert(data != nullptr || size == 0);
    l_int32 format = 0;
    l_int32 w = 0;
    l_int32 h = 0;
    if (size == 0 ||
        pixReadHeaderMem(data, size, &format, &w, &h, nullptr, nullptr, nullptr) != 0 || w <= 0 ||
        h <= 0) {
        return false;
    }
    width = static_cast<std::uint64_t>(w);
    height = static_cast<std::uint64_t>(h);
    return true;
}

int CountPages(const std::string& path, std::string* chainBreak) {
    if (!IsRegularFile(path)) {
        return 0;
    }
    if (!L_FORMAT_IS_TIFF(FileFormat(path))) {
        return 1;
    }
    std::string firstError;
    const TiffPtr tiff = OpenTiff(path, &firstError);
    if (!tiff) {
        return 0;
    }
    // libtiff counts the directories up to the first one it cannot reach, saying
    // why only through its error handler; a loop ends the count without a word,
    // with the last directory counted still linking on.
    firstError.clear();
    int pages = static_cast<int>(TIFFNumberOfDirectories(tiff.get()));
    std::string broken = firstError.empty() ? "" : " (" + firstError + ")";
    if (!broken.empty() && TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(pages)) == 1) {
        // Nor does the count include a directory whose link cannot be read, whole
        // as the directory itself may be.
        ++pages;
    } else if (broken.empty() && pages > 0 && TIFFSetDirectory(tiff.get(), pages - 1) == 1 &&
               TIFFLastDirectory(tiff.get()) == 0) {
        broken = " (it loops back)";
    }
    if (broken.empty()) {
        return pages;
    }
    if (chainBreak != nullptr) {
        *chainBreak = "damaged TIFF file, its chain of pages breaks after page " +
                      std::to_string(pages) + broken;
    }
    return pages + 1;
}

double DeclaredResolution(const Resolution& resolution) {
    const double mean = (resolution.x + resolution.y) / 2.0;
    // A damaged header's resolution is no reason to refuse the page's pixels.
    return mean > 0.0 && mean <= kMaxResolution ? mean : 0.0;
}

bool LoadGreyPage(const std::string& path, int index, cv::Mat& grey, Resolution& resolution,
                  std::string& refusal) {
    assert(index >= 0);
    resolution = Resolution{};
    // Folders, pipes and devices are refused before they are opened, so that
    // reading can neither block nor run forever.
    if (!IsRegularFile(path)) {
        return false;
    }
    // Refuse an oversized image on its header, before the decoder allocates it.
    const int format = FileFormat(path);
    ImageHeader header;
    if (ReadPageSize(path, index, format, header) && IsTooLarge(header.width, header.height)) {
        refusal = TooLargeMessage(header.width, header.height);
        return false;
    }
    std::string problem;
    if (L_FORMAT_IS_TIFF(format) && !TiffPageDecodes(path, index, problem)) {
        refusal = "damaged TIFF page: " + problem + ".";
        return false;
    }
    if (format == IFF_JFIF_JPEG && !JpegHasEnd(path)) {
        refusal = "damaged JPEG file: it ends before its end-of-image marker.";
        return false;
    }
    cv::Mat image = DecodeGreyPage(path, index, format, refusal);
    if (image.empty() || image.total() == 0) {
        return false;
    }
    // Read once the pixels decoded, so that a damaged file draws no messages from
    // the header libraries.
    resolution = L_FORMAT_IS_TIFF(format) ? header.resolution : ReadResolution(path, format);
    // Formats whose header is not read above are checked once decoded.
    if (IsTooLarge(static_cast<std::uint64_t>(image.cols),
                   static_cast<std::uint64_t>(image.rows))) {
        refusal = TooLargeMessage(image.cols, image.rows);
        return false;
    }
    grey = image;
    return true;
}

}  // namespace edgebin::cli
