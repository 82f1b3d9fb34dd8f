// Runs the built edgebin executable on bad files, unusual images, extreme tuning
// values and unwritable outputs: every run must end with a clear message and its
// status, never crash or hang, and never leave a partial or stray file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/image_input.h"

using namespace edgebin::cli;

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Outcome {
    int status;  // exit status, or -1000 - signal when killed by one
    std::string out;
    std::string err;
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const fs::path& path) {
    const std::string text = ReadText(path);
    return Bytes(text.begin(), text.end());
}

// Runs `command` through the shell with stdout and stderr captured separately.
Outcome Shell(const std::string& command, const fs::path& errFile) {
    const std::string full = command + " 2>" + Quote(errFile.string());
    Outcome outcome{-2000, "", ""};
    FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr) {
        return outcome;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        outcome.out.append(buffer, got);
    }
    const int raw = pclose(pipe);
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000 - WTERMSIG(raw);
    outcome.err = ReadText(errFile);
    fs::remove(errFile);
    return outcome;
}

std::string Edgebin() {
    return Quote(EDGEBIN_BINARY);
}

std::string LoadFailure(const std::string& imgPath) {
    return "load image failed.\nimgPath:  " + imgPath + "\n";
}

// ---- image files --------------------------------------------------------------

// A grey page with dark strokes on a textured background: not two-level, and
// small enough to run in a fraction of a second.
cv::Mat StrokePage(int rows = 90, int cols = 140) {
    cv::Mat page(rows, cols, CV_8UC1);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            page.at<std::uint8_t>(y, x) = static_cast<std::uint8_t>(195 + (x * 7 + y * 3) % 11);
        }
    }
    for (int line = 0; 28 + 30 * line < rows; ++line) {
        cv::putText(page, "ink text", cv::Point(4, 24 + 30 * line), cv::FONT_HERSHEY_SIMPLEX, 0.7,
                    cv::Scalar(45), 2);
    }
    return page;
}

cv::Mat Noise(int rows, int cols, int low, int high, std::uint64_t seed) {
    cv::Mat noise(rows, cols, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::UNIFORM, low, high);
    return noise;
}

Bytes Encode(const std::string& extension, const cv::Mat& image) {
    std::vector<std::uint8_t> bytes;
    cv::imencode(extension, image, bytes);
    return bytes;
}

void PutBigEndian(Bytes& bytes, std::uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void PutLittleEndian(Bytes& bytes, std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint32_t Crc32(const Bytes& bytes, size_t begin) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = begin; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void PutPngChunk(Bytes& png, const char* type, const Bytes& data) {
    PutBigEndian(png, data.size(), 4);
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    PutBigEndian(png, Crc32(png, start), 4);
}

// zlib stream of stored (uncompressed) deflate blocks.
Bytes StoredZlib(const Bytes& raw) {
    Bytes out = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t length = std::min<size_t>(raw.size() - at, 65535);
        out.push_back(at + length == raw.size() ? 1 : 0);
        PutLittleEndian(out, length, 2);
        PutLittleEndian(out, length ^ 0xFFFFu, 2);
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                   raw.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    } while (at < raw.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(out, (b << 16) | a, 4);
    return out;
}

// A PNG of the given header; `scanlines` are the filtered rows (filter byte
// first), compressed as stored blocks; `palette` adds a PLTE chunk.
Bytes Png(std::uint32_t width, std::uint32_t height, int depth, int colourType,
          const Bytes& scanlines, const Bytes& palette = Bytes()) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBigEndian(header, width, 4);
    PutBigEndian(header, height, 4);
    header.insert(header.end(), {static_cast<std::uint8_t>(depth),
                                 static_cast<std::uint8_t>(colourType), 0, 0, 0});
    PutPngChunk(png, "IHDR", header);
    if (!palette.empty()) {
        PutPngChunk(png, "PLTE", palette);
    }
    PutPngChunk(png, "IDAT", StoredZlib(scanlines));
    PutPngChunk(png, "IEND", Bytes());
    return png;
}

// A page in four palette colours: paper, two inks and a stain.
Bytes PalettePage() {
    const cv::Mat page = StrokePage(60, 90);
    Bytes scanlines;
    for (int y = 0; y < page.rows; ++y) {
        scanlines.push_back(0);
        for (int x = 0; x < page.cols; ++x) {
            const int value = page.at<std::uint8_t>(y, x);
            scanlines.push_back(value < 100 ? 1 : (x > 60 && y > 40 ? 2 : (value > 200 ? 0 : 3)));
        }
    }
    const Bytes palette = {235, 230, 220, 30, 30, 70, 180, 150, 120, 215, 212, 205};
    return Png(page.cols, page.rows, 8, 3, scanlines, palette);
}

struct TiffTag {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint64_t value;
};

Bytes TiffHeader(bool bigEndian, bool big, const std::vector<TiffTag>& tags) {
    Bytes tiff;
    const auto put = [&](std::uint64_t value, int count) {
        bigEndian ? PutBigEndian(tiff, value, count) : PutLittleEndian(tiff, value, count);
    };
    tiff.push_back(bigEndian ? 'M' : 'I');
    tiff.push_back(bigEndian ? 'M' : 'I');
    put(big ? 43 : 42, 2);
    if (big) {
        put(8, 2);
        put(0, 2);
        put(16, 8);
    } else {
        put(8, 4);
    }
    put(tags.size(), big ? 8 : 2);
    for (const TiffTag& tag : tags) {
        put(tag.tag, 2);
        put(tag.type, 2);
        put(1, big ? 8 : 4);
        const int valueBytes = tag.type == 3 ? 2 : (tag.type == 4 ? 4 : 8);
        put(tag.value, valueBytes);
        put(0, (big ? 8 : 4) - valueBytes);
    }
    put(0, big ? 8 : 4);
    return tiff;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Truncated(Bytes bytes, double share) {
    bytes.resize(static_cast<size_t>(static_cast<double>(bytes.size()) * share));
    return bytes;
}

Bytes Prefix(Bytes bytes, size_t count) {
    bytes.resize(count);
    return bytes;
}

// ---- the fixture ---------------------------------------------------------------

class RobustnessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("edgebin_robust_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const std::string& name) const { return (dir / name).string(); }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        WriteBytes(dir / name, bytes);
        return Path(name);
    }
    std::string Write(const std::string& name, const cv::Mat& image) const {
        cv::imwrite(Path(name), image);
        return Path(name);
    }
    Outcome Run(const std::string& arguments) const {
        return Shell(Edgebin() + " " + arguments, dir / "stderr.txt");
    }
    std::vector<std::string> Entries(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir;
};

// A run either binarizes (status 0, a same-sized 0/255 image written) or ends
// with a driver code and its message and writes nothing. No crash either way.
void ExpectBinarizedOrDriverFailure(const Outcome& outcome, const std::string& outPath,
                                    const cv::Size& size) {
    SCOPED_TRACE(outcome.out + outcome.err);
    if (outcome.status == 0) {
        const cv::Mat result = cv::imread(outPath, cv::IMREAD_UNCHANGED);
        ASSERT_FALSE(result.empty());
        EXPECT_EQ(result.type(), CV_8UC1);
        EXPECT_EQ(result.size(), size);
        const bool copied = outcome.out.find("is a binarized image") != std::string::npos;
        if (!copied) {
            EXPECT_EQ(cv::countNonZero(result == 0) + cv::countNonZero(result == 255),
                      static_cast<int>(result.total()));
        }
        return;
    }
    EXPECT_TRUE(outcome.status == 255 || outcome.status == 11 || outcome.status == 12)
        << "status " << outcome.status;
    EXPECT_NE(outcome.out.find("There is something wrong in the binarization process.\n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(outPath));
}

}  // namespace

// ---- bad input files ------------------------------------------------------------

TEST_F(RobustnessTest, BadInputFilesEndWithTheLoadFailureLines) {
    const Bytes png = Encode(".png", StrokePage());
    Bytes badCrc = png;
    badCrc[badCrc.size() / 2] ^= 0x5A;  // inside the image data: its checksum no longer matches
    fs::create_directories(dir / "folder.png");
    struct Case {
        const char* name;
        std::string imgPath;
        std::string extraLine;  // printed before the load-failure lines
    };
    const std::vector<Case> cases = {
        {"missing", Path("missing.png"), ""},
        {"directory", Path("folder.png"), ""},
        {"empty file", Write("empty.png", Bytes()), ""},
        {"garbage named png", Write("garbage.png", Text("this is not an image at all\n")), ""},
        {"png cut in half", Write("half.png", Truncated(png, 0.5)), ""},
        {"png with a broken checksum", Write("crc.png", badCrc), ""},
        {"bmp cut in its header", Write("half.bmp", Prefix(Encode(".bmp", StrokePage()), 30)), ""},
        {"jpeg cut after its first segment",
         Write("head.jpg", Prefix(Encode(".jpg", StrokePage()), 20)), ""},
        {"png bomb", Write("bomb.png", Png(30000, 30000, 8, 0, Bytes(30001, 0))),
         "image too large: 30000 x 30000 pixels, the limit is 400000000 pixels.\n"},
        {"png one pixel above the limit", Write("over.png", Png(20001, 20000, 8, 0, Bytes(1))),
         "image too large: 20001 x 20000 pixels, the limit is 400000000 pixels.\n"},
        {"bigtiff bomb",
         Write(
             "bomb.btf",
             TiffHeader(true, true, {{256, 16, 1u << 31}, {257, 3, 1}, {273, 4, 0}, {279, 4, 0}})),
         "image too large: 2147483648 x 1 pixels, the limit is 400000000 pixels.\n"},
        {"pgm bomb", Write("bomb.pgm", Text("P5\n30000 30000\n255\n")),
         "image too large: 30000 x 30000 pixels, the limit is 400000000 pixels.\n"},
        // Exactly at the limit the header passes; the missing data then fails the decoder.
        {"png at the limit without data", Write("limit.png", Png(20000, 20000, 8, 0, Bytes(1))),
         ""},
    };
    const std::string outPath = Path("out.png");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = Run(Quote(c.imgPath) + " " + Quote(outPath) + " 1 2 3");
        EXPECT_EQ(outcome.status, 255);
        EXPECT_EQ(outcome.out, c.extraLine + LoadFailure(c.imgPath));
        EXPECT_FALSE(fs::exists(outPath));
    }
}

TEST_F(RobustnessTest, NonRegularInputsAreRefusedWithoutBlocking) {
    const std::string fifo = Path("pipe.png");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& input : {fifo, std::string("/dev/zero"), std::string("/dev/null")}) {
        const Outcome outcome = Run(Quote(input) + " " + Quote(Path("out.png")));
        EXPECT_EQ(outcome.status, 255) << input;
        EXPECT_EQ(outcome.out, LoadFailure(input));
    }
}

TEST_F(RobustnessTest, ContentDecidesTheFormatNotTheExtension) {
    const cv::Mat page = StrokePage();
    const std::string pngAsJpg = Write("page.jpg", Encode(".png", page));
    const Outcome outcome = Run(Quote(pngAsJpg) + " " + Quote(Path("out.png")));
    ExpectBinarizedOrDriverFailure(outcome, Path("out.png"), page.size());
    EXPECT_EQ(outcome.out.rfind("//******* alpha = 2", 0), 0u) << outcome.out;

    // A truncated JPEG still decodes (the missing part comes out grey).
    const std::string cut = Write("cut.jpg", Truncated(Encode(".jpg", page), 0.6));
    ExpectBinarizedOrDriverFailure(Run(Quote(cut) + " " + Quote(Path("cut.png"))), Path("cut.png"),
                                   page.size());
}

// ---- unusual valid images -------------------------------------------------------

TEST_F(RobustnessTest, UnusualImagesBinarizeOrFailWithTheDriverMessage) {
    const cv::Mat page = StrokePage();
    cv::Mat colour;
    cv::cvtColor(page, colour, cv::COLOR_GRAY2BGR);
    colour.col(5).setTo(cv::Scalar(0, 0, 200));
    cv::Mat deep;
    page.convertTo(deep, CV_16U, 257.0);
    cv::Mat rgba;
    cv::cvtColor(colour, rgba, cv::COLOR_BGR2BGRA);
    rgba(cv::Rect(0, 0, 20, 20)).setTo(cv::Scalar(0, 0, 0, 0));
    cv::Mat allInk = Noise(80, 80, 0, 4, 3);
    cv::Mat ramp(60, 256, CV_8UC1);
    for (int x = 0; x < ramp.cols; ++x) {
        ramp.col(x).setTo(x);
    }
    struct Case {
        const char* name;
        std::string imgPath;
        cv::Size size;
    };
    const std::vector<Case> cases = {
        {"16-bit grey", Write("deep.png", deep), page.size()},
        {"alpha", Write("rgba.png", rgba), page.size()},
        {"palette", Write("palette.png", PalettePage()), cv::Size(90, 60)},
        {"tiff", Write("page.tif", colour), page.size()},
        {"bmp", Write("page.bmp", page), page.size()},
        {"one row", Write("row.png", Noise(1, 300, 0, 256, 1)), cv::Size(300, 1)},
        {"one column", Write("column.png", Noise(300, 1, 0, 256, 2)), cv::Size(1, 300)},
        {"two by two", Write("two.png", Noise(2, 2, 0, 256, 4)), cv::Size(2, 2)},
        {"two rows of strokes", Write("strip.png", StrokePage(2, 200)), cv::Size(200, 2)},
        {"below every window", Write("small.png", StrokePage(49, 49)), cv::Size(49, 49)},
        {"just above", Write("fifty.png", StrokePage(50, 50)), cv::Size(50, 50)},
        {"pure noise", Write("noise.png", Noise(90, 120, 0, 256, 6)), cv::Size(120, 90)},
        {"all ink", Write("ink.png", allInk), allInk.size()},
        {"smooth ramp", Write("ramp.png", ramp), ramp.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string outPath = Path(std::string("out_") + c.name + ".png");
        const Outcome outcome = Run(Quote(c.imgPath) + " " + Quote(outPath));
        ExpectBinarizedOrDriverFailure(outcome, outPath, c.size);
        EXPECT_EQ(outcome.out.find("load image failed"), std::string::npos);
    }
}

TEST_F(RobustnessTest, OneValueAndTwoValueImagesOfAnySizeAreCopied) {
    const std::vector<std::pair<std::string, cv::Mat>> cases = {
        {"pixel.png", cv::Mat(1, 1, CV_8UC1, cv::Scalar(77))},
        {"uniform.png", cv::Mat(40, 30, CV_8UC1, cv::Scalar(200))},
        {"black.bmp", cv::Mat(10, 1, CV_8UC1, cv::Scalar(0))},
        {"stripes.png", cv::Mat(1, 9, CV_8UC1, cv::Scalar(30))},
    };
    for (const auto& [name, image] : cases) {
        const Outcome outcome = Run(Quote(Write(name, image)) + " " + Quote(Path("copy_" + name)));
        EXPECT_EQ(outcome.status, 0) << name;
        EXPECT_EQ(outcome.out,
                  "The input image is a binarized image. The output image is a copy of the input "
                  "image.\n")
            << name;
        const cv::Mat copy = cv::imread(Path("copy_" + name), cv::IMREAD_UNCHANGED);
        ASSERT_EQ(copy.size(), image.size()) << name;
        EXPECT_EQ(cv::norm(copy, image, cv::NORM_INF), 0.0) << name;
    }
}

// ---- tuning values -------------------------------------------------------------

TEST_F(RobustnessTest, UnusableTuningValuesAreRefusedBeforeAnyWork) {
    const std::string page = Write("page.png", StrokePage());
    const std::string base = Quote(page) + " " + Quote(Path("out.png"));
    struct Case {
        std::string arguments;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"nan", "invalid alpha: 'nan' is not a number.\n"},
        {"abc", "invalid alpha: 'abc' is not a number.\n"},
        {"''", "invalid alpha: '' is not a number.\n"},
        {"1e400", "invalid alpha: 1e400 is outside [-10000, 10000].\n"},
        {"10000.5", "invalid alpha: 10000.5 is outside [-10000, 10000].\n"},
        {"2 1e7", "invalid k: 1e7 is outside [-1e+06, 1e+06].\n"},
        {"2 0.6 x", "invalid Rthre: 'x' is not a number.\n"},
        {"2 0.6 -2e6", "invalid Rthre: -2e6 is outside [-1e+06, 1e+06].\n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = Run(base + " " + c.arguments);
        EXPECT_EQ(outcome.status, 2) << c.arguments;
        EXPECT_EQ(outcome.out, c.line) << c.arguments;
    }
    EXPECT_FALSE(fs::exists(Path("out.png")));
}

TEST_F(RobustnessTest, ExtremeAcceptedTuningValuesRunToTheEnd) {
    const cv::Mat image = StrokePage(70, 100);
    const std::string page = Write("page.png", image);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0", "alpha = 0 ******* k = 0.6 ******* Rthre = 0.05"},
        {"-10000", "alpha = -10000 ******* k = 0.6 ******* Rthre = 0.05"},
        {"10000 -1e6", "alpha = 10000 ******* k = -1e+06 ******* Rthre = 0.05"},
        {"1e4 1e6 1e6", "alpha = 10000 ******* k = 1e+06 ******* Rthre = 1e+06"},
        {"2 0.6 -1e6", "alpha = 2 ******* k = 0.6 ******* Rthre = -1e+06"},
        {"' +2.5e0junk' 0.3x", "alpha = 2.5 ******* k = 0.3 ******* Rthre = 0.05"},
    };
    int index = 0;
    for (const auto& [arguments, values] : cases) {
        SCOPED_TRACE(arguments);
        const std::string outPath = Path("out" + std::to_string(index++) + ".png");
        const Outcome outcome = Run(Quote(page) + " " + Quote(outPath) + " " + arguments);
        EXPECT_EQ(outcome.out.substr(0, outcome.out.find('\n')),
                  "//******* " + values + " *******//");
        ExpectBinarizedOrDriverFailure(outcome, outPath, image.size());
    }
}

// Pages of fewer than 50 rows are measured as one band whose stroke width can
// reach the page width when a single gap is found; every window scaled from it
// is then far larger than the page. Such runs must stay fast and small, also
// with the largest alpha, whose voting window no longer fits an int.
TEST_F(RobustnessTest, ShortWidePagesWithHugeWindowsFinish) {
    for (const int cols : {3000, 200000}) {
        cv::Mat wide(3, cols, CV_8UC1, cv::Scalar(220));
        wide.colRange(100, 110).setTo(20);
        wide.colRange(cols - 1000, cols - 990).setTo(20);
        wide.at<std::uint8_t>(0, 5) = 100;
        const std::string page = Write("wide" + std::to_string(cols) + ".png", wide);
        for (const std::string alpha : {"2", "10000"}) {
            SCOPED_TRACE(std::to_string(cols) + " columns, alpha " + alpha);
            const std::string outPath = Path("out.png");
            const Outcome outcome = Run(Quote(page) + " " + Quote(outPath) + " " + alpha);
            ExpectBinarizedOrDriverFailure(outcome, outPath, wide.size());
            fs::remove(outPath);
        }
    }
}

// ---- output safety --------------------------------------------------------------

TEST_F(RobustnessTest, UnwritableOutputsFailClearlyAndLeaveNothing) {
    const std::string page = Write("page.png", StrokePage());
    fs::create_directories(dir / "taken.png");
    struct Case {
        const char* name;
        std::string outPath;
        int status;
        std::string lastLine;
    };
    const std::vector<Case> cases = {
        {"no output", "", 2, "usage: edgebin imgPath [outPath] [alpha] [k] [Rthre]"},
        {"missing folder", Path("no/such/out.png"), 3,
         "cannot write " + Path("no/such/out.png") + ": No such file or directory."},
        {"unknown extension", Path("out.xyz"), 3,
         "cannot write " + Path("out.xyz") +
             ": unknown image format (use an extension such as .png, .tif or .bmp)."},
        {"no extension", Path("out"), 3,
         "cannot write " + Path("out") +
             ": unknown image format (use an extension such as .png, .tif or .bmp)."},
        {"a folder in the way", Path("taken.png"), 3,
         "cannot write " + Path("taken.png") + ": Is a directory."},
        {"a file as folder", page + "/out.png", 3,
         "cannot write " + page + "/out.png: Not a directory."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome =
            Run(Quote(page) + (c.outPath.empty() ? "" : " " + Quote(c.outPath)));
        EXPECT_EQ(outcome.status, c.status);
        std::string out = outcome.out;
        ASSERT_FALSE(out.empty());
        out.pop_back();
        EXPECT_EQ(out.substr(out.rfind('\n') + 1), c.lastLine);
        EXPECT_EQ(Entries(dir), (std::vector<std::string>{"page.png", "taken.png"}));
        EXPECT_TRUE(fs::is_empty(dir / "taken.png"));
    }
}

TEST_F(RobustnessTest, AFailedRunKeepsTheExistingOutput) {
    const Bytes previous = Text("previous result, must survive");
    const std::string outPath = Write("out.png", previous);
    const std::string page = Write("page.png", StrokePage());
    const std::vector<std::string> failing = {
        Quote(Path("missing.png")) + " " + Quote(outPath),
        Quote(Write("bomb.png", Png(30000, 30000, 8, 0, Bytes(1)))) + " " + Quote(outPath),
        Quote(page) + " " + Quote(outPath) + " nan",
    };
    for (const std::string& arguments : failing) {
        EXPECT_NE(Run(arguments).status, 0) << arguments;
        EXPECT_EQ(ReadBytes(outPath), previous) << arguments;
    }
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"bomb.png", "out.png", "page.png"}));
}

TEST_F(RobustnessTest, ASuccessfulRunReplacesTheOutputKeepingItsMode) {
    const std::string outPath = Write("out.png", Text("old"));
    ASSERT_EQ(chmod(outPath.c_str(), 0640), 0);
    const cv::Mat image = StrokePage();
    const Outcome outcome = Run(Quote(Write("page.png", image)) + " " + Quote(outPath));
    ExpectBinarizedOrDriverFailure(outcome, outPath, image.size());
    if (outcome.status == 0) {
        struct stat info {};
        ASSERT_EQ(stat(outPath.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0640u);
    }
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"out.png", "page.png"}));

    // The input itself may be the output.
    const std::string same = Write("same.png", image);
    const Outcome inPlace = Run(Quote(same) + " " + Quote(same));
    ExpectBinarizedOrDriverFailure(inPlace, same, image.size());
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"out.png", "page.png", "same.png"}));
}

// The ways the file system shapes a write: a write-protected output is refused
// and kept; a symbolic link is followed to its target; in a folder closed to new
// files an existing writable output is written in place; a replaced file keeps
// its owner and mode; a new output has the mode the umask gives. Root ignores folder permissions,
// so the closed folder is written as user nobody there.
TEST_F(RobustnessTest, OutputsAreWrittenAsTheFileSystemAllows) {
    const cv::Mat image(20, 20, CV_8UC1, cv::Scalar(9));  // one value: copied, fast
    const std::string page = Write("page.png", image);
    const std::string asNobody =
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const auto decodes = [&](const std::string& path) {
        const cv::Mat written = cv::imread(path, cv::IMREAD_UNCHANGED);
        return written.size() == image.size() && cv::norm(written, image, cv::NORM_INF) == 0.0;
    };
    const auto mode = [](const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
    };
    struct Case {
        const char* name;
        std::string outPath;
        std::function<void()> setUp;
        std::string prefix;
        int status;
        std::function<void(const Outcome&)> check;
    };
    const std::vector<Case> cases = {
        {"write-protected", Path("kept.png"),
         [&] {
             Write("kept.png", Text("old"));
             chmod(Path("kept.png").c_str(), 0444);
         },
         "", 3,
         [&](const Outcome& outcome) {
             EXPECT_EQ(outcome.out,
                       "cannot write " + Path("kept.png") + ": the file is write-protected.\n");
             EXPECT_EQ(ReadText(dir / "kept.png"), "old");
             EXPECT_EQ(mode(Path("kept.png")), 0444u);
         }},
        {"symbolic link", Path("link.png"),
         [&] {
             fs::create_directories(dir / "real");
             Write("real/target.png", Text("old"));
             fs::create_symlink("real/target.png", dir / "link.png");
         },
         "", 0,
         [&](const Outcome&) {
             EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
             EXPECT_TRUE(decodes(Path("real/target.png")));
             EXPECT_EQ(Entries(dir / "real"), std::vector<std::string>{"target.png"});
         }},
        {"closed folder", Path("closed/out.png"),
         [&] {
             fs::create_directories(dir / "closed");
             Write("closed/out.png", Text("old"));
             chmod(Path("closed/out.png").c_str(), 0666);
             chmod(Path("closed").c_str(), 0555);
         },
         asNobody, 0,
         [&](const Outcome&) {
             EXPECT_TRUE(decodes(Path("closed/out.png")));
             EXPECT_EQ(Entries(dir / "closed"), std::vector<std::string>{"out.png"});
             chmod(Path("closed").c_str(), 0755);
         }},
        // Only root can hand a file to someone else; elsewhere the owner is the runner.
        {"another owner's file", Path("owned.png"),
         [&] {
             Write("owned.png", Text("old"));
             chmod(Path("owned.png").c_str(), 0664);
             EXPECT_EQ(lchown(Path("owned.png").c_str(), geteuid() == 0 ? 65534 : geteuid(),
                              geteuid() == 0 ? 65534 : getegid()),
                       0);
         },
         "", 0,
         [&](const Outcome&) {
             struct stat info {};
             ASSERT_EQ(stat(Path("owned.png").c_str(), &info), 0);
             EXPECT_EQ(info.st_uid, geteuid() == 0 ? 65534u : geteuid());
             EXPECT_EQ(info.st_mode & 07777, 0664u);
             EXPECT_TRUE(decodes(Path("owned.png")));
         }},
        {"new file, umask 027", Path("new027.png"), [] {}, "umask 027; ", 0,
         [&](const Outcome&) { EXPECT_EQ(mode(Path("new027.png")), 0640u); }},
        {"new file, umask 002", Path("new002.png"), [] {}, "umask 002; ", 0,
         [&](const Outcome&) { EXPECT_EQ(mode(Path("new002.png")), 0664u); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.setUp();
        const Outcome outcome = Shell(
            c.prefix + Edgebin() + " " + Quote(page) + " " + Quote(c.outPath), dir / "stderr.txt");
        EXPECT_EQ(outcome.status, c.status) << outcome.out << outcome.err;
        c.check(outcome);
    }
    EXPECT_EQ(Entries(dir),
              (std::vector<std::string>{"closed", "kept.png", "link.png", "new002.png",
                                        "new027.png", "owned.png", "page.png", "real"}));
}

// A run killed while the pipeline works leaves the old output as it was.
TEST_F(RobustnessTest, AnInterruptedRunLeavesTheOldOutput) {
    const Bytes previous = Text("previous result");
    const std::string outPath = Write("out.png", previous);
    const std::string page = Write("page.png", StrokePage(900, 1200));
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execl(EDGEBIN_BINARY, EDGEBIN_BINARY, page.c_str(), outPath.c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    // The parameter line comes first; once it is out the pipeline is running.
    std::string seen;
    char buffer[256];
    ssize_t got = 0;
    while (seen.find('\n') == std::string::npos &&
           (got = read(out[0], buffer, sizeof buffer)) > 0) {
        seen.append(buffer, static_cast<size_t>(got));
    }
    kill(child, SIGKILL);
    close(out[0]);
    int raw = 0;
    ASSERT_EQ(waitpid(child, &raw, 0), child);
    ASSERT_EQ(seen.rfind("//******* alpha = 2", 0), 0u) << seen;
    if (WIFEXITED(raw)) {
        GTEST_SKIP() << "edgebin finished before it could be interrupted";
    }
    EXPECT_EQ(ReadBytes(outPath), previous);
    EXPECT_EQ(Entries(dir), (std::vector<std::string>{"out.png", "page.png"}));
}

// Full disks and read-only folders need a private mount, which only privileged
// runs get; elsewhere these cases are skipped.
class MountedOutputTest : public RobustnessTest {
  protected:
    // Runs `script` as root in a private mount namespace with $D set to a fresh
    // folder; returns its stdout, or nothing when namespaces are unavailable.
    bool RunPrivately(const std::string& script, std::string& out) {
        const Outcome probe = Shell("unshare -m true", dir / "stderr.txt");
        if (probe.status != 0) {
            return false;
        }
        fs::create_directories(dir / "mnt");
        const std::string command = "unshare -m sh -c " + Quote("D=" + Quote(Path("mnt")) +
                                                                "; E=" + Edgebin() + "; " + script);
        out = Shell(command, dir / "stderr.txt").out;
        return out.find("mounted") != std::string::npos;
    }
};

TEST_F(MountedOutputTest, AFullDiskFailsTheWriteAndKeepsTheOldOutput) {
    // A one-value page takes the copy path, so the run always reaches the write.
    const std::string page = Write("page.png", cv::Mat(300, 300, CV_8UC1, cv::Scalar(9)));
    const std::string script =
        "mount -t tmpfs -o size=64k tmpfs \"$D\" && echo mounted || exit 0; "
        "printf old > \"$D/out.png\"; dd if=/dev/zero of=\"$D/fill\" bs=4k 2>/dev/null; "
        "\"$E\" " +
        Quote(page) +
        " \"$D/out.png\" >\"$D/../log\"; echo status=$?; "
        "tail -n 1 \"$D/../log\"; printf 'content='; cat \"$D/out.png\"; echo; ls -A \"$D\"";
    std::string out;
    if (!RunPrivately(script, out)) {
        GTEST_SKIP() << "no private mounts here (needs root and unshare)";
    }
    EXPECT_NE(out.find("status=3\n"), std::string::npos) << out;
    EXPECT_NE(out.find("cannot write " + Path("mnt") + "/out.png: No space left on device.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("content=old\nfill\nout.png\n"), std::string::npos) << out;
}

TEST_F(MountedOutputTest, AReadOnlyFolderFailsTheWriteAndKeepsTheOldOutput) {
    const std::string page = Write("page.png", cv::Mat(20, 20, CV_8UC1, cv::Scalar(9)));
    const std::string script =
        "mount --bind \"$D\" \"$D\" && mount -o remount,bind,ro \"$D\" && echo mounted || exit 0; "
        "\"$E\" " +
        Quote(page) +
        " \"$D/out.png\" >\"$D/../log\"; echo status=$?; "
        "tail -n 1 \"$D/../log\"; printf 'content='; cat \"$D/out.png\"; echo; ls -A \"$D\"";
    fs::create_directories(dir / "mnt");
    WriteBytes(dir / "mnt" / "out.png", Text("old"));
    std::string out;
    if (!RunPrivately(script, out)) {
        GTEST_SKIP() << "no private mounts here (needs root and unshare)";
    }
    EXPECT_NE(out.find("status=3\n"), std::string::npos) << out;
    EXPECT_NE(out.find("cannot write " + Path("mnt") + "/out.png: Read-only file system.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("content=old\nout.png\n"), std::string::npos) << out;
}
