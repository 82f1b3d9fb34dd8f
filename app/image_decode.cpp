// Decoding of image pages into grey. The pixels must stay those that the tool read
// when it decoded through OpenCV's image codecs (a colour reading, then OpenCV's
// grey conversion), now without linking those codecs, whose dependencies cost
// the command line most of its start-up. TIFF pages are read through libtiff's
// RGBA interface and JPEG files through libjpeg, as OpenCV read them; the other
// formats through Leptonica, which drives the same libpng, libwebp and OpenJPEG.
#include "app/image_decode.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <string_view>

#include "app/image_handles.h"

// After the C++ headers: jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace edgebin::cli {

namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr int kTiffEntrySize = 12;

// A block of bytes read with bounds checks, in the byte order of an EXIF block.
class ExifBytes {
  public:
    ExifBytes(std::string_view bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}
    bool Has(size_t offset, size_t size) const {
        return offset <= bytes_.size() && size <= bytes_.size() - offset;
    }
    std::uint32_t Read(size_t offset, int size) const {
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            const auto byte =
                static_cast<std::uint8_t>(bytes_[offset + (bigEndian_ ? i : size - 1 - i)]);
            value = value << 8 | byte;
        }
        return value;
    }

  private:
    std::string_view bytes_;
    bool bigEndian_;
};

// The orientation tag of the first directory of an EXIF block (a TIFF structure,
// after an optional "Exif\0\0" header), 1 where there is none.
int TiffOrientation(std::string_view block) {
    const std::string_view header("Exif\0\0", 6);
    const std::string_view tiff =
        block.compare(0, header.size(), header) == 0 ? block.substr(header.size()) : block;
    if (tiff.size() < 8 || (tiff.compare(0, 2, "II") != 0 && tiff.compare(0, 2, "MM") != 0)) {
        return 1;
    }
    const ExifBytes bytes(tiff, tiff[0] == 'M');
    const size_t directory = bytes.Read(4, 4);
    if (!bytes.Has(directory, 2)) {
        return 1;
    }
    const size_t entries = bytes.Read(directory, 2);
    for (size_t i = 0; i < entries; ++i) {
        const size_t entry = directory + 2 + i * kTiffEntrySize;
        if (!bytes.Has(entry, kTiffEntrySize)) {
            break;
        }
        if (bytes.Read(entry, 2) == kOrientationTag) {
            const int orientation = static_cast<int>(bytes.Read(entry + 8, 2));
            return orientation >= 1 && orientation <= 8 ? orientation : 1;
        }
    }
    return 1;
}

std::uint32_t BigEndian(std::string_view bytes, size_t offset, int size) {
    return ExifBytes(bytes, true).Read(offset, size);
}

// The EXIF block of a JPEG file: the first APP1 segment that holds one, before
// the first scan.
std::string_view JpegExif(std::string_view bytes) {
    const std::string_view header("Exif\0\0", 6);
    size_t at = 2;
    while (at + 4 <= bytes.size() && static_cast<std::uint8_t>(bytes[at]) == 0xFF) {
        const auto marker = static_cast<std::uint8_t>(bytes[at + 1]);
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) {
            break;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at += 2;
            continue;
        }
        const size_t length = BigEndian(bytes, at + 2, 2);
        if (length < 2 || at + 2 + length > bytes.size()) {
            break;
        }
        if (marker == 0xE1 && bytes.compare(at + 4, header.size(), header) == 0) {
            return bytes.substr(at + 4, length - 2);
        }
        at += 2 + length;
    }
    return "";
}

// The eXIf chunk of a PNG file, read as libpng reads it: before the image data.
std::string_view PngExif(std::string_view bytes) {
    constexpr size_t kSignature = 8;
    size_t at = kSignature;
    while (at + 8 <= bytes.size()) {
        const size_t length = BigEndian(bytes, at, 4);
        const std::string_view type = bytes.substr(at + 4, 4);
        if (type == "IDAT" || length > bytes.size() - at - 8) {
            break;
        }
        if (type == "eXIf") {
            return bytes.substr(at + 8, length);
        }
        at += 12 + length;
    }
    return "";
}

// Leptonica reads a grey PNG with a transparent grey value as wholly transparent,
// losing its pixels; transparency is ignored anyway, so its chunk is dropped.
void DropGreyTransparency(std::string& bytes) {
    constexpr size_t kColourTypeAt = 25;
    if (bytes.size() <= kColourTypeAt || bytes[kColourTypeAt] != 0) {
        return;
    }
    size_t at = 8;
    while (at + 8 <= bytes.size()) {
        const size_t length = BigEndian(bytes, at, 4);
        if (length > bytes.size() - at - 12) {
            return;
        }
        if (bytes.compare(at + 4, 4, "tRNS") == 0) {
            bytes.erase(at, length + 12);
            return;
        }
        at += length + 12;
    }
}

// The page turned as OpenCV turns a page for its EXIF orientation.
void ApplyOrientation(int orientation, cv::Mat& grey) {
    if (orientation >= 5) {
        cv::transpose(grey, grey);
    }
    switch (orientation) {
        case 2:
        case 6:
            cv::flip(grey, grey, 1);
            break;
        case 3:
        case 7:
            cv::flip(grey, grey, -1);
            break;
        case 4:
        case 8:
            cv::flip(grey, grey, 0);
            break;
        default:
            break;
    }
}

// An 8-bit Leptonica image as a Mat, its words turned to memory order while
// copied: one pass over a large page instead of a swap and a copy.
cv::Mat GreyFromBytePix(PIX* pix) {
    const int width = pixGetWidth(pix);
    const size_t wordsPerLine = static_cast<size_t>(pixGetWpl(pix));
    cv::Mat grey(pixGetHeight(pix), width, CV_8UC1);
    const l_uint32* data = pixGetData(pix);
    const int wholeWords = width / 4;
    for (int y = 0; y < grey.rows; ++y) {
        const l_uint32* words = data + static_cast<size_t>(y) * wordsPerLine;
        unsigned char* row = grey.ptr<unsigned char>(y);
        for (int i = 0; i < wholeWords; ++i) {
            // The first pixel is the word's most significant byte.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            const std::uint32_t ordered = __builtin_bswap32(words[i]);
#else
            const std::uint32_t ordered = words[i];
#endif
            std::memcpy(row + 4 * i, &ordered, sizeof ordered);
        }
        for (int x = 4 * wholeWords; x < width; ++x) {
            row[x] = static_cast<unsigned char>(words[x / 4] >> (24 - 8 * (x % 4)));
        }
    }
    return grey;
}

// Grey of a Leptonica image of any depth: a colour map is expanded, 1, 2 and 4
// bits are spread over 0-255 and 16 bits cut to their high byte, as libpng and
// OpenCV expand them; colours are weighted as OpenCV weights them. Leptonica
// reads the samples of a 32-bit BMP file in reverse order, so `bgr` takes them
// as blue, green, red.
cv::Mat GreyFromPix(PIX* source, bool bgr) {
    const l_int32 depth = pixGetDepth(source);
    PixPtr pix(pixGetColormap(source) != nullptr
                   ? pixRemoveColormap(source, REMOVE_CMAP_TO_FULL_COLOR)
               : depth == 16 ? pixConvert16To8(source, L_MS_BYTE)
               : depth < 8   ? pixConvertTo8(source, 0)
                             : pixClone(source));
    if (!pix || (pixGetDepth(pix.get()) != 8 && pixGetDepth(pix.get()) != 32)) {
        return cv::Mat();
    }
    // Leptonica keeps each 32-bit word most significant byte first; in memory
    // order its pixels are then bytes, or R, G, B, A. (The swap may change
    // `source` itself, which the caller discards.)
    if (pixGetDepth(pix.get()) == 8) {
        return GreyFromBytePix(pix.get());
    }
    pixEndianByteSwap(pix.get());
    const cv::Mat view(pixGetHeight(pix.get()), pixGetWidth(pix.get()), CV_8UC4,
                       pixGetData(pix.get()), static_cast<size_t>(pixGetWpl(pix.get())) * 4);
    cv::Mat grey;
    cv::cvtColor(view, grey, bgr ? cv::COLOR_BGRA2GRAY : cv::COLOR_RGBA2GRAY);
    return grey;
}

// libjpeg's error handling: a failure jumps back to the reader, messages are
// dropped (the command line says what went wrong in its own words).
struct JpegFailure {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void JpegFailed(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1);
}

void JpegQuiet(j_common_ptr) {}

// Decodes into `pixels` as OpenCV asked libjpeg to: grey stays grey (as its
// colour reading turned to grey again gives), four components come as CMYK, the
// rest as RGB. Everything the long jump may skip lives in the caller's frame.
bool ReadJpegPixels(jpeg_decompress_struct& info, JpegFailure& failure, std::string_view bytes,
                    cv::Mat& pixels) {
    if (setjmp(failure.jump) != 0) {
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    const int channels = info.num_components == 1 ? 1 : info.num_components == 4 ? 4 : 3;
    info.out_color_space = channels == 1 ? JCS_GRAYSCALE : channels == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&info);
    pixels.create(static_cast<int>(info.output_height), static_cast<int>(info.output_width),
                  CV_8UC(channels));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.ptr(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

// CMYK as OpenCV turned it into colour: each of C, M and Y scaled by K.
cv::Mat RgbFromCmyk(const cv::Mat& cmyk) {
    cv::Mat rgb(cmyk.size(), CV_8UC3);
    for (int y = 0; y < cmyk.rows; ++y) {
        const std::uint8_t* in = cmyk.ptr(y);
        std::uint8_t* out = rgb.ptr(y);
        for (int x = 0; x < cmyk.cols; ++x, in += 4, out += 3) {
            const int k = in[3];
            for (int c = 0; c < 3; ++c) {
                out[c] = static_cast<std::uint8_t>(k - ((255 - in[c]) * k >> 8));
            }
        }
    }
    return rgb;
}

// A JPEG file through libjpeg, as OpenCV read it (Leptonica turns CMYK into
// colour its own way).
cv::Mat DecodeJpeg(std::string_view bytes) {
    jpeg_decompress_struct info{};
    JpegFailure failure{};
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = JpegFailed;
    failure.manager.output_message = JpegQuiet;
    cv::Mat pixels;
    const bool read = ReadJpegPixels(info, failure, bytes, pixels);
    jpeg_destroy_decompress(&info);
    if (!read) {
        return cv::Mat();
    }
    if (pixels.channels() == 1) {
        return pixels;
    }
    cv::Mat grey;
    cv::cvtColor(pixels.channels() == 4 ? RgbFromCmyk(pixels) : pixels, grey, cv::COLOR_RGB2GRAY);
    return grey;
}

// A TIFF page through libtiff's RGBA interface, turned as OpenCV turned it: the
// rows as stored for the orientation tags 1 to 4, whatever they say of top,
// bottom, left and right; transposed for 5 and 7, and also turned half round for
// 6 and 8.
cv::Mat DecodeTiffPage(const std::string& path, int index) {
    const TiffOptionsPtr options = QuietTiffOptions(nullptr);
    const TiffPtr tiff(TIFFOpenExt(path.c_str(), "r", options.get()));
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    char message[1024];
    if (!tiff || TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(index)) != 1 ||
        TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) != 1 || width == 0 || height == 0 ||
        TIFFRGBAImageOK(tiff.get(), message) != 1) {
        return cv::Mat();
    }
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ORIENTATION, &orientation);
    // libtiff packs each pixel as A, B, G, R from the most significant byte down:
    // R, G, B, A in the memory of this little-endian machine.
    cv::Mat rgba(static_cast<int>(height), static_cast<int>(width), CV_8UC4);
    if (TIFFReadRGBAImage(tiff.get(), width, height, rgba.ptr<std::uint32_t>(), 0) != 1) {
        return cv::Mat();
    }
    cv::Mat grey;
    cv::cvtColor(rgba, grey, cv::COLOR_RGBA2GRAY);
    // The raster comes bottom row first.
    cv::flip(grey, grey, 0);
    if (orientation >= ORIENTATION_LEFTTOP) {
        cv::transpose(grey, grey);
        if (orientation == ORIENTATION_RIGHTTOP || orientation == ORIENTATION_LEFTBOT) {
            cv::flip(grey, grey, -1);
        }
    }
    return grey;
}

// A file's bytes, read in one call into a buffer of the file's size rather than
// through a stream iterator that grows its string step by step. Not mapped: a file
// cut short by another program while mapped would stop the process with SIGBUS,
// where a read just comes back short and the page fails to decode. Empty when the
// file cannot be read.
std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : -1;
    std::string bytes;
    if (size <= 0 || !file.seekg(0)) {
        return bytes;
    }
    bytes.resize(static_cast<size_t>(size));
    file.read(bytes.data(), size);
    bytes.resize(static_cast<size_t>(file.gcount()));
    return bytes;
}

bool IsBmpOf32Bits(std::string_view bytes, int format) {
    constexpr size_t kBitsAt = 28;
    return format == IFF_BMP && bytes.size() > kBitsAt && bytes[kBitsAt] == 32;
}

// Leptonica reads some PNM variants into other pixels than OpenCV did (16-bit
// samples, maxvals other than 255, PAM's channel order): only plain PBM and
// 8-bit PGM and PPM are read, so that no page silently changes. Sets `refusal`.
bool IsReadPnm(const std::string& path, std::string& refusal) {
    const FilePtr file(std::fopen(path.c_str(), "rb"));
    l_int32 width = 0;
    l_int32 height = 0;
    l_int32 depth = 0;
    l_int32 type = 0;
    l_int32 bits = 0;
    l_int32 samples = 0;
    if (!file || freadHeaderPnm(file.get(), &width, &height, &depth, &type, &bits, &samples) != 0) {
        refusal = "a PNM file whose maximum sample value is not 1 or 255 is not read.";
        return false;
    }
    constexpr int kPlainPbm = 1;
    constexpr int kRawPbm = 4;
    constexpr int kPam = 7;
    if (type == kPlainPbm || type == kRawPbm || (type != kPam && bits == 8)) {
        return true;
    }
    refusal = type == kPam ? "PAM files are not read."
                           : "a PNM file whose maximum sample value is not 1 or 255 is not read.";
    return false;
}

bool IsReadFormat(int format) {
    return format == IFF_PNG || format == IFF_JFIF_JPEG || format == IFF_BMP || format == IFF_PNM ||
           format == IFF_WEBP || format == IFF_JP2;
}

}  // namespace

int ExifOrientation(std::string_view bytes, int format) {
    return format == IFF_JFIF_JPEG ? TiffOrientation(JpegExif(bytes))
           : format == IFF_PNG     ? TiffOrientation(PngExif(bytes))
                                   : 1;
}

cv::Mat DecodeGreyPage(const std::string& path, int index, int format, std::string& refusal) {
    if (L_FORMAT_IS_TIFF(format)) {
        return DecodeTiffPage(path, index);
    }
    if (index != 0 || !IsReadFormat(format) || (format == IFF_PNM && !IsReadPnm(path, refusal))) {
        return cv::Mat();
    }
    std::string bytes = ReadBytes(path);
    if (format == IFF_PNG) {
        DropGreyTransparency(bytes);
    }
    cv::Mat grey;
    if (format == IFF_JFIF_JPEG) {
        grey = DecodeJpeg(bytes);
    } else if (!bytes.empty()) {
        const PixPtr pix(pixReadMem(reinterpret_cast<const l_uint8*>(bytes.data()), bytes.size()));
        grey = pix ? GreyFromPix(pix.get(), IsBmpOf32Bits(bytes, format)) : cv::Mat();
    }
    if (!grey.empty()) {
        ApplyOrientation(ExifOrientation(bytes, format), grey);
    }
    return grey;
}

}  // namespace edgebin::cli
