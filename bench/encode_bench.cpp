// edgebin-bench-encode: file size and encode time of a folder of results (0/255
// grey images) as 8-bit PNG, 1-bit PNG and CCITT G4 TIFF, written through
// Leptonica, through libpng and libtiff directly, and (for reference) through
// OpenCV. The measurement behind the choice of the output library.
//
// usage: edgebin-bench-encode RESULT_DIR [REPEAT]
#include <leptonica/allheaders.h>
#include <png.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

// After OpenCV: libtiff's headers deprecate the int64 name that OpenCV's use.
#include <tiffio.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using Encoder = std::function<Bytes(const cv::Mat&)>;

constexpr int kDpi = 300;

// Leptonica ------------------------------------------------------------------

PIX* ToPix8(const cv::Mat& image) {
    PIX* pix = pixCreate(image.cols, image.rows, 8);
    for (int y = 0; y < image.rows; ++y) {
        std::copy_n(image.ptr<unsigned char>(y), image.cols,
                    reinterpret_cast<unsigned char*>(pixGetData(pix) + y * pixGetWpl(pix)));
    }
    pixEndianByteSwap(pix);  // Leptonica keeps the bytes of each 32-bit word big-endian
    pixSetResolution(pix, kDpi, kDpi);
    return pix;
}

Bytes LeptonicaEncode(const cv::Mat& image, bool bilevel, int format, int zlibLevel) {
    PIX* pix8 = ToPix8(image);
    PIX* pix = bilevel ? pixThresholdToBinary(pix8, 128) : pixClone(pix8);
    pixCopyResolution(pix, pix8);
    if (zlibLevel >= 0) {
        pixSetZlibCompression(pix, zlibLevel);
    }
    l_uint8* data = nullptr;
    size_t size = 0;
    pixWriteMem(&data, &size, pix, format);
    Bytes bytes(data, data + size);
    lept_free(data);
    pixDestroy(&pix);
    pixDestroy(&pix8);
    return bytes;
}

// libpng and libtiff directly ------------------------------------------------

// Rows of 1-bit pixels, most significant bit first; `ones` are the pixels that
// are set (paper for PNG, ink for a min-is-white TIFF).
std::vector<Bytes> PackRows(const cv::Mat& image, bool onesArePaper) {
    std::vector<Bytes> rows(image.rows, Bytes((image.cols + 7) / 8, 0));
    for (int y = 0; y < image.rows; ++y) {
        const unsigned char* in = image.ptr<unsigned char>(y);
        for (int x = 0; x < image.cols; ++x) {
            if ((in[x] >= 128) == onesArePaper) {
                rows[y][x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            }
        }
    }
    return rows;
}

void AppendPng(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

Bytes LibpngEncode(const cv::Mat& image, bool bilevel, int level, int strategy) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return Bytes();
    }
    png_set_write_fn(png, &out, AppendPng, nullptr);
    png_set_compression_level(png, level);
    png_set_compression_strategy(png, strategy);
    png_set_IHDR(png, info, image.cols, image.rows, bilevel ? 1 : 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const png_uint_32 perMetre = static_cast<png_uint_32>(kDpi / 0.0254 + 0.5);
    png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    if (bilevel) {
        for (Bytes& row : PackRows(image, true)) {
            png_write_row(png, row.data());
        }
    } else {
        for (int y = 0; y < image.rows; ++y) {
            png_write_row(png, const_cast<png_bytep>(image.ptr<unsigned char>(y)));
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Written to an in-memory file, whose descriptor the TIFF handle owns and closes;
// a duplicate reads the bytes back.
Bytes LibtiffG4Encode(const cv::Mat& image) {
    const int fd = memfd_create("g4", 0);
    const int copy = dup(fd);
    TIFF* tiff = TIFFFdOpen(fd, "g4", "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.cols);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.rows);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, image.rows);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(kDpi));
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(kDpi));
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::vector<Bytes> rows = PackRows(image, false);
    for (int y = 0; y < image.rows; ++y) {
        TIFFWriteScanline(tiff, rows[y].data(), y, 0);
    }
    TIFFClose(tiff);
    Bytes bytes(static_cast<size_t>(lseek(copy, 0, SEEK_END)));
    if (pread(copy, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        bytes.clear();
    }
    close(copy);
    return bytes;
}

struct Measure {
    std::string name;
    Encoder encode;
    double bytes = 0;
    double seconds = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s RESULT_DIR [REPEAT]\n", argv[0]);
        return 2;
    }
    const int repeat = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    setMsgSeverity(L_SEVERITY_NONE);
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[1])) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<Measure> measures = {
        {"8-bit PNG   OpenCV (level 1, RLE; no pHYs)",
         [](const cv::Mat& m) {
             Bytes b;
             cv::imencode(".png", m, b);
             return b;
         }},
        {"8-bit PNG   Leptonica (zlib default 6)",
         [](const cv::Mat& m) { return LeptonicaEncode(m, false, IFF_PNG, -1); }},
        {"8-bit PNG   Leptonica (zlib 1)",
         [](const cv::Mat& m) { return LeptonicaEncode(m, false, IFF_PNG, 1); }},
        {"8-bit PNG   libpng (level 1, RLE)",
         [](const cv::Mat& m) { return LibpngEncode(m, false, 1, Z_RLE); }},
        {"8-bit PNG   libpng (level 6)",
         [](const cv::Mat& m) { return LibpngEncode(m, false, 6, Z_DEFAULT_STRATEGY); }},
        {"1-bit PNG   OpenCV (PNG_BILEVEL; no pHYs)",
         [](const cv::Mat& m) {
             Bytes b;
             cv::imencode(".png", m, b, {cv::IMWRITE_PNG_BILEVEL, 1});
             return b;
         }},
        {"1-bit PNG   Leptonica (zlib default 6)",
         [](const cv::Mat& m) { return LeptonicaEncode(m, true, IFF_PNG, -1); }},
        {"1-bit PNG   libpng (level 6)",
         [](const cv::Mat& m) { return LibpngEncode(m, true, 6, Z_DEFAULT_STRATEGY); }},
        {"G4 TIFF     Leptonica",
         [](const cv::Mat& m) { return LeptonicaEncode(m, true, IFF_TIFF_G4, -1); }},
        {"G4 TIFF     libtiff", LibtiffG4Encode},
    };
    double megapixels = 0;
    for (const fs::path& file : files) {
        const cv::Mat image = cv::imread(file.string(), cv::IMREAD_GRAYSCALE);
        if (image.empty()) {
            continue;
        }
        megapixels += image.total() / 1e6;
        for (Measure& measure : measures) {
            double best = 1e30;
            Bytes bytes;
            for (int r = 0; r < repeat; ++r) {
                const auto start = std::chrono::steady_clock::now();
                bytes = measure.encode(image);
                best = std::min(
                    best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                              .count());
            }
            measure.bytes += static_cast<double>(bytes.size());
            measure.seconds += best;
        }
    }
    std::printf("%zu results, %.1f MP in all; fastest of %d runs per page, summed\n", files.size(),
                megapixels, repeat);
    std::printf("%-44s %12s %10s %10s\n", "format and writer", "total MB", "seconds", "ms/MP");
    for (const Measure& measure : measures) {
        std::printf("%-44s %12.2f %10.3f %10.2f\n", measure.name.c_str(), measure.bytes / 1e6,
                    measure.seconds, 1000 * measure.seconds / megapixels);
    }
    return 0;
}
