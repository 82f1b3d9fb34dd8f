// The command line's decoder gives every format the grey pixels that OpenCV's
// codecs gave (a colour reading, then OpenCV's grey conversion), which is how
// the tool read images before it stopped linking them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "app/image_handles.h"
#include "app/image_input.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::string Encoded(const std::string& extension, const cv::Mat& image,
                    const std::vector<int>& parameters = {}) {
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(cv::imencode(extension, image, bytes, parameters)) << extension;
    return std::string(bytes.begin(), bytes.end());
}

// A TIFF block (little-endian) whose one entry is `orientation`, as EXIF holds it.
std::string ExifBlock(int orientation) {
    // clang-format off
    const char block[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 1, 3, 0, 1, 0, 0, 0,
                          static_cast<char>(orientation), 0, 0, 0, 0, 0, 0, 0};
    // clang-format on
    return std::string(block, sizeof block);
}

// A JPEG file with an APP1 EXIF segment that declares `orientation`, right after its
// start marker.
std::string WithExifOrientation(const std::string& jpeg, int orientation) {
    const std::string segment = std::string("Exif\0\0", 6) + ExifBlock(orientation);
    return jpeg.substr(0, 2) + "\xFF\xE1" + static_cast<char>(0) +
           static_cast<char>(segment.size() + 2) + segment + jpeg.substr(2);
}

// A PNG file with an eXIf chunk that declares `orientation`, after its header chunk.
std::string PngWithExifOrientation(const std::string& png, int orientation) {
    const std::string chunk = "eXIf" + ExifBlock(orientation);
    std::uint32_t crc = 0xFFFFFFFF;  // the CRC-32 of PNG chunks, bit by bit
    for (const char c : chunk) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
        }
    }
    const auto bigEndian = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    const size_t afterHeader = 8 + 25;  // signature, IHDR
    return png.substr(0, afterHeader) + bigEndian(chunk.size() - 4) + chunk + bigEndian(~crc) +
           png.substr(afterHeader);
}

// A colour TIFF whose orientation tag is `orientation`, through libtiff.
std::string TiffWithOrientation(const fs::path& path, const cv::Mat& bgr, int orientation) {
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, rgb.cols);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, rgb.rows);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, orientation);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    for (int y = 0; y < rgb.rows; ++y) {
        TIFFWriteScanline(tiff, rgb.ptr(y), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tiff);
    return ReadFile(path);
}

cv::Mat OpenCvGrey(const fs::path& path, int page) {
    std::vector<cv::Mat> pages;
    cv::imreadmulti(path.string(), pages, cv::IMREAD_COLOR);
    cv::Mat grey;
    if (page < static_cast<int>(pages.size())) {
        cv::cvtColor(page == 0 ? cv::imread(path.string(), cv::IMREAD_COLOR) : pages[page], grey,
                     cv::COLOR_BGR2GRAY);
    }
    return grey;
}

}  // namespace

TEST(ImageDecodeTest, EveryFormatReadsAsOpenCvReadItInGrey) {
    const fs::path dir = fs::temp_directory_path() / ("edgebin-decode-" + std::to_string(getpid()));
    fs::create_directories(dir);
    cv::Mat bgr(37, 53, CV_8UC3);
    cv::randu(bgr, 0, 256);
    cv::Mat grey;
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    cv::Mat bgra;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    cv::randu(bgra.reshape(1).col(3), 0, 256);
    cv::Mat deep;
    bgr.convertTo(deep, CV_16U, 257.0, 100.0);
    const std::string jpeg = Encoded(".jpg", bgr);
    const std::string multi = (dir / "multi.tif").string();
    ASSERT_TRUE(cv::imwritemulti(multi, std::vector<cv::Mat>{grey, bgr, deep}));
    std::vector<std::pair<std::string, std::string>> cases = {
        {"grey.png", Encoded(".png", grey)},
        {"colour.png", Encoded(".png", bgr)},
        {"alpha.png", Encoded(".png", bgra)},
        {"deep.png", Encoded(".png", deep)},
        {"bits.png", Encoded(".png", grey > 128, {cv::IMWRITE_PNG_BILEVEL, 1})},
        {"grey.jpg", Encoded(".jpg", grey)},
        {"colour.jpg", jpeg},
        {"progressive.jpg", Encoded(".jpg", bgr, {cv::IMWRITE_JPEG_PROGRESSIVE, 1})},
        {"grey.tif", Encoded(".tif", grey)},
        {"alpha.tif", Encoded(".tif", bgra)},
        {"multi.tif", ReadFile(multi)},
        {"colour.bmp", Encoded(".bmp", bgr)},
        {"alpha.bmp", Encoded(".bmp", bgra)},
        {"grey.pgm", Encoded(".pgm", grey)},
        {"colour.ppm", Encoded(".ppm", bgr)},
        {"bits.pbm", Encoded(".pbm", grey)},
        {"lossy.webp", Encoded(".webp", bgr, {cv::IMWRITE_WEBP_QUALITY, 80})},
        {"alpha.webp", Encoded(".webp", bgra)},
        {"colour.jp2", Encoded(".jp2", bgr)},
    };
    // The decoder's seeds: a palette, a CMYK JPEG, a grey PNG with a transparent value.
    for (const auto& seed :
         fs::directory_iterator(fs::path(EDGEBIN_SOURCE_DIR) / "tests/fuzz/corpus/decode")) {
        cases.emplace_back("seed-" + seed.path().filename().string(), ReadFile(seed.path()));
    }
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const std::string name = "turned" + std::to_string(orientation);
        cases.emplace_back(name + ".jpg", WithExifOrientation(jpeg, orientation));
        cases.emplace_back(name + ".png",
                           PngWithExifOrientation(Encoded(".png", bgr), orientation));
        cases.emplace_back(name + ".tif", TiffWithOrientation(dir / "t.tif", bgr, orientation));
    }
    for (const auto& [name, bytes] : cases) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        const int pages = edgebin::cli::CountPages(path.string());
        ASSERT_GE(pages, 1) << name;
        for (int page = 0; page < pages; ++page) {
            SCOPED_TRACE(name + " page " + std::to_string(page + 1));
            cv::Mat decoded;
            edgebin::cli::Resolution resolution;
            std::string refusal;
            ASSERT_TRUE(
                edgebin::cli::LoadGreyPage(path.string(), page, decoded, resolution, refusal))
                << refusal;
            const cv::Mat expected = OpenCvGrey(path, page);
            ASSERT_EQ(decoded.size(), expected.size());
            EXPECT_EQ(cv::countNonZero(decoded != expected), 0);
        }
    }
    fs::remove_all(dir);
}
