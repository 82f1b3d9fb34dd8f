// Runs the built edgebin executable and checks its messages, files and statuses.
#include <leptonica/allheaders.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "edgebin/edgebin.hpp"
#include "support/test_support.h"

// After OpenCV: libtiff's headers deprecate the int64 name that OpenCV's use.
#include <tiffio.h>

namespace fs = std::filesystem;

namespace {

using CliTest = TempDirTest;

// FNV-1a over the pixels, row by row: a short fingerprint of a result image.
std::string PixelHash(const cv::Mat& image) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (int y = 0; y < image.rows; ++y) {
        for (size_t x = 0; x < image.cols * image.elemSize(); ++x) {
            hash = (hash ^ image.ptr(y)[x]) * 1099511628211ULL;
        }
    }
    std::ostringstream text;
    text << std::hex << hash;
    return text.str();
}

}  // namespace

TEST_F(CliTest, HelpAndCopiesOfTwoLevelInputs) {
    const ShellRun help = Edgebin("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
    const ShellRun shortHelp = Edgebin("-h");
    EXPECT_EQ(shortHelp.status, 0);
    EXPECT_EQ(shortHelp.out, help.out);

    // One-value and two-value images of any size are copied; a colour page whose
    // grey conversion is two-level is written as that grey image.
    cv::Mat two(20, 30, CV_8UC1, cv::Scalar(200));
    two(cv::Rect(3, 4, 10, 5)).setTo(30);
    cv::Mat colour(10, 10, CV_8UC3, cv::Scalar(0, 0, 255));
    colour(cv::Rect(0, 0, 5, 10)).setTo(cv::Scalar(255, 255, 255));
    const std::pair<std::string, cv::Mat> cases[] = {
        {"pixel.png", cv::Mat(1, 1, CV_8UC1, cv::Scalar(77))},
        {"two.png", two},
        {"colour.png", colour},
    };
    for (const auto& [name, image] : cases) {
        cv::imwrite(Path(name), image);
        const ShellRun run = Edgebin(Path(name) + " " + Path("copy.png"));
        EXPECT_EQ(run.status, 0) << name;
        EXPECT_EQ(run.out,
                  "The input image is a binarized image. The output image is a copy of the input "
                  "image.\n")
            << name;
        cv::Mat expected = image;
        if (image.channels() == 3) {
            cv::cvtColor(image, expected, cv::COLOR_BGR2GRAY);
        }
        EXPECT_TRUE(SamePixels(cv::imread(Path("copy.png"), cv::IMREAD_UNCHANGED), expected))
            << name;
    }
}

// Whole runs whose lines, status and pixels were recorded from a build known to be
// right: every report line the command line formats (peaks, ratio, thresholds, the
// retry at half the threshold, stroke widths, the failure line) and every note on
// standard error (a mended level, the other ink deepening of a page left almost
// empty by the first, the self-check) must stay exactly as recorded. After a deliberate change of
// results, rerun with EDGEBIN_UPDATE_GOLDEN=1 to record the new runs, and say why in the commit.
TEST_F(CliTest, RunsPrintExactlyTheRecordedLines) {
    const fs::path golden = fs::path(EDGEBIN_SOURCE_DIR) / "tests/golden";
    cv::imwrite(Path("generated.png"), GeneratedPage(3, 400, 300));
    const struct {
        const char* name;
        std::string page;
        const char* arguments;
    } cases[] = {
        {"sample", (fs::path(EDGEBIN_SOURCE_DIR) / "samples/sample_page.png").string(), ""},
        {"generated", Path("generated.png"), " 1.5 0.4 0.2"},
        {"second_peak", (golden / "second_peak.png").string(), ""},
        {"reassigned", (golden / "reassigned.png").string(), " 2 0.6"},
        {"no_strokes", (golden / "no_strokes.png").string(), ""},
        {"blank_undeepened", (golden / "blank_undeepened.png").string(), ""},
        {"blank_deepened", (golden / "blank_deepened.png").string(), ""},
    };
    std::string recorded;  // "## name status S pixels P", then the run's output
    for (const auto& c : cases) {
        fs::remove(Path("out.png"));
        const ShellRun run = Edgebin(c.page + " " + Path("out.png") + c.arguments);
        const cv::Mat image = cv::imread(Path("out.png"), cv::IMREAD_UNCHANGED);
        // The notes name the page by its path, which depends on the checkout.
        std::string err = run.err;
        for (size_t at = err.find(c.page); at != std::string::npos; at = err.find(c.page)) {
            err.replace(at, c.page.size(), c.name);
        }
        recorded += std::string("## ") + c.name + " status " + std::to_string(run.status) +
                    " pixels " + (image.empty() ? "none" : PixelHash(image)) + "\n" + run.out +
                    (err.empty() ? "" : "## stderr\n" + err);
    }
    if (std::getenv("EDGEBIN_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(golden / "runs.txt") << recorded;
    }
    EXPECT_EQ(recorded, ReadFile(golden / "runs.txt"));
}

TEST_F(CliTest, DebugDirHoldsTheStageImagesOfTheRun) {
    const std::string page = (fs::path(EDGEBIN_SOURCE_DIR) / "samples/sample_page.png").string();
    const ShellRun run =
        Edgebin("--debug-dir " + Path("stages") + " " + page + " " + Path("out.png"));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(RunShell("ls " + Path("stages")).out,
              "1-enhanced.png\n2-gradient.png\n3-edges.png\n4-bands.png\n5-voters.png\n"
              "6-votes.png\n7-result.png\ncontour-curve.png\n");
    const cv::Mat result = cv::imread(Path("out.png"), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(result.empty());
    EXPECT_TRUE(SamePixels(result, cv::imread(Path("stages/7-result.png"), cv::IMREAD_UNCHANGED)));
    // The voters (blue) are edge pixels of the chosen threshold (black in 3-edges).
    const cv::Mat edges = cv::imread(Path("stages/3-edges.png"), cv::IMREAD_GRAYSCALE);
    ASSERT_EQ(edges.size(), result.size());
    cv::Mat voters;
    cv::inRange(cv::imread(Path("stages/5-voters.png")), cv::Scalar(200, 80, 0),
                cv::Scalar(200, 80, 0), voters);
    EXPECT_GT(cv::countNonZero(voters), 0);
    EXPECT_EQ(cv::countNonZero(voters & (edges != 0)), 0);
}

namespace {

// The resolution an image file declares, as Leptonica reads it with the pixels.
std::pair<int, int> ReadResolution(const std::string& path) {
    PIX* pix = pixRead(path.c_str());
    l_int32 x = -1;
    l_int32 y = -1;
    if (pix != nullptr) {
        pixGetResolution(pix, &x, &y);
        pixDestroy(&pix);
    }
    return {x, y};
}

// Copies an image file through Leptonica, which stores the resolution in every format.
void CopyWithResolution(const std::string& from, const std::string& to, int format, int dpi) {
    PIX* pix = pixRead(from.c_str());
    pixSetResolution(pix, dpi, dpi);
    pixWrite(to.c_str(), pix, format);
    pixDestroy(&pix);
}

}  // namespace

// The input's resolution reaches the output in every format that has a field for
// it, --dpi sets it, and the pixels stay the library's result: 1-bit files hold
// exactly the 8-bit pixels.
TEST_F(CliTest, ResolutionIsKeptAndBilevelFilesHoldTheSamePixels) {
    const cv::Mat page = StrokePage(120, 160);
    cv::imwrite(Path("none.png"), page);
    CopyWithResolution(Path("none.png"), Path("in300.png"), IFF_PNG, 300);
    CopyWithResolution(Path("none.png"), Path("in200.jpg"), IFF_JFIF_JPEG, 200);
    CopyWithResolution(Path("none.png"), Path("in150.bmp"), IFF_BMP, 150);
    // 100 by 50 dots per centimetre: 254 by 127 dots per inch.
    cv::imwrite(
        Path("cm.tif"), page,
        {cv::IMWRITE_TIFF_RESUNIT, 3, cv::IMWRITE_TIFF_XDPI, 100, cv::IMWRITE_TIFF_YDPI, 50});
    const struct {
        const char* input;
        const char* options;
        const char* output;
        std::pair<int, int> resolution;
    } cases[] = {
        {"in300.png", "", "a.png", {300, 300}},
        {"in300.png", "", "b.tif", {300, 300}},
        {"in300.png", "", "c.jpg", {300, 300}},
        {"in300.png", "--bilevel", "e.tif", {300, 300}},
        {"in300.png", "--bilevel", "f.pbm", {0, 0}},
        {"in300.png", "--dpi 600 --bilevel", "g.tif", {600, 600}},
        {"cm.tif", "", "h.png", {254, 127}},
        {"cm.tif", "--bilevel", "i.tif", {254, 127}},
        {"in200.jpg", "", "j.jpg", {200, 200}},
        {"in150.bmp", "", "k.bmp", {150, 150}},
        {"none.png", "", "l.png", {0, 0}},
        {"none.png", "--dpi=400", "m.png", {400, 400}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input) + " " + c.options + " " + c.output);
        ASSERT_EQ(Edgebin(std::string(c.options) + " " + c.input + " " + c.output).status, 0);
        EXPECT_EQ(ReadResolution(Path(c.output)), c.resolution);
    }
    // Every lossless file holds the pixels of the library's result, as OpenCV
    // writes them without a resolution to add: byte for byte.
    cv::Mat grey;
    cv::cvtColor(cv::imread(Path("none.png"), cv::IMREAD_COLOR), grey, cv::COLOR_BGR2GRAY);
    const cv::Mat expected = edgebin::Binarize(grey).image;
    std::vector<unsigned char> openCv;
    cv::imencode(".png", expected, openCv);
    EXPECT_EQ(ReadFile(Path("l.png")), std::string(openCv.begin(), openCv.end()));
    for (const auto& c : cases) {
        if (std::string(c.output).find(".jpg") == std::string::npos) {
            EXPECT_TRUE(SamePixels(cv::imread(Path(c.output), cv::IMREAD_GRAYSCALE), expected))
                << c.output;
        }
    }
    // In a 1-bit copy of a two-valued input, the darker value is the ink.
    cv::Mat two(20, 30, CV_8UC1, cv::Scalar(1));
    two(cv::Rect(3, 4, 10, 5)).setTo(0);
    cv::imwrite(Path("two.png"), two);
    ASSERT_EQ(Edgebin("--bilevel " + Path("two.png") + " " + Path("two.tif")).status, 0);
    EXPECT_TRUE(SamePixels(cv::imread(Path("two.tif"), cv::IMREAD_GRAYSCALE), two * 255));
}

// A page that declares 600 dpi is binarized at 300 dpi and says so in one more
// report line; its output keeps the input's size and resolution. --working-dpi 0
// gives the page's own binarization, without the line.
TEST_F(CliTest, AHighResolutionPageIsBinarizedAtTheWorkingResolution) {
    const cv::Mat page = GeneratedPage(4, 400, 300, 0.4);
    cv::imwrite(Path("page.png"), page);
    CopyWithResolution(Path("page.png"), Path("in600.png"), IFF_PNG, 600);
    const char* const line = "Working resolution: 300 dpi, the page was read at 600 dpi.\n";
    const ShellRun plain = Edgebin("in600.png rescaled.png");
    ASSERT_EQ(plain.status, 0) << plain.out;
    EXPECT_NE(plain.out.find(line), std::string::npos) << plain.out;
    const cv::Mat rescaled = cv::imread(Path("rescaled.png"), cv::IMREAD_UNCHANGED);
    EXPECT_EQ(rescaled.size(), page.size());
    EXPECT_EQ(ReadResolution(Path("rescaled.png")), std::make_pair(600, 600));

    const ShellRun off = Edgebin("--working-dpi 0 in600.png own.png");
    ASSERT_EQ(off.status, 0) << off.out;
    EXPECT_EQ(off.out.find("Working resolution"), std::string::npos) << off.out;
    const cv::Mat own = edgebin::Binarize(page).image;
    EXPECT_TRUE(SamePixels(cv::imread(Path("own.png"), cv::IMREAD_UNCHANGED), own));
    EXPECT_FALSE(SamePixels(rescaled, own));

    const ShellRun batch = Edgebin("--out-dir out --report - in600.png");
    EXPECT_NE(batch.out.find("\"working_scale\":2.0"), std::string::npos) << batch.out;
    EXPECT_TRUE(SamePixels(cv::imread(Path("out/in600.png"), cv::IMREAD_UNCHANGED), rescaled));
}

// Every page is binarized in the long form, the damaged one is reported and the
// others come out with status 4; the plain form reads the first page as always
// and says what it left out.
TEST_F(CliTest, MultiPageTiffWithADamagedPage) {
    // Three pages (deflate), the second one's data overwritten with bytes that do
    // not inflate.
    std::vector<cv::Mat> pages;
    for (int i = 0; i < 3; ++i) {
        pages.push_back(StrokePage(120, 160));
        cv::putText(pages.back(), "page " + std::to_string(i), cv::Point(10, 110),
                    cv::FONT_HERSHEY_SIMPLEX, 0.5 + 0.2 * i, cv::Scalar(60), 1, cv::LINE_AA);
    }
    cv::imwritemulti(Path("in.tif"), pages,
                     {cv::IMWRITE_TIFF_COMPRESSION, COMPRESSION_ADOBE_DEFLATE});
    {
        const std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(Path("in.tif").c_str(), "r"),
                                                          TIFFClose);
        ASSERT_TRUE(tiff && TIFFSetDirectory(tiff.get(), 1));
        std::uint64_t* offsets = nullptr;
        std::uint64_t* counts = nullptr;
        TIFFGetField(tiff.get(), TIFFTAG_STRIPOFFSETS, &offsets);
        TIFFGetField(tiff.get(), TIFFTAG_STRIPBYTECOUNTS, &counts);
        std::fstream file(Path("in.tif"), std::ios::binary | std::ios::in | std::ios::out);
        for (std::uint32_t i = 0; i < TIFFNumberOfStrips(tiff.get()); ++i) {
            file.seekp(static_cast<std::streamoff>(offsets[i]));
            file << std::string(counts[i], '\xff');
        }
    }
    const cv::Mat first = edgebin::Binarize(pages[0]).image;
    const cv::Mat third = edgebin::Binarize(pages[2]).image;
    const std::string damaged = Path("in.tif") + ": page 2 of 3: damaged TIFF page";
    const std::string leftOut = "has 3 pages; only the first was read, 2 left out";
    const struct {
        const char* arguments;
        int status;
        std::string message;
        const char* output;
        std::vector<std::pair<std::string, std::vector<cv::Mat>>> files;  // and their pages
    } cases[] = {
        {"--bilevel", 4, damaged, "out.tif", {{"out.tif", {first, third}}}},
        {"--quiet", 4, damaged, "out.png", {{"out-001.png", {first}}, {"out-003.png", {third}}}},
        {"", 0, leftOut, "out.png", {{"out.png", {first}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const fs::path out = dir / "out";
        fs::remove_all(out);
        fs::create_directories(out);
        const ShellRun run = Edgebin(std::string(c.arguments) + " " + Path("in.tif") + " " +
                                     (out / c.output).string());
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE((run.out + run.err).find(c.message), std::string::npos) << run.out << run.err;
        std::string names;
        for (const auto& [name, expected] : c.files) {
            names += name + "\n";
            std::vector<cv::Mat> got;
            cv::imreadmulti((out / name).string(), got, cv::IMREAD_GRAYSCALE);
            ASSERT_EQ(got.size(), expected.size()) << name;
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_TRUE(SamePixels(got[i], expected[i])) << name << " page " << i + 1;
            }
        }
        EXPECT_EQ(RunShell("ls " + out.string()).out, names);
    }
}

// --polarity in the single-page and the batch form: a negative comes out as its
// positive does and says so on standard output and in the report; a value that is
// none of auto, dark-ink and light-ink is a usage error.
TEST_F(CliTest, PolarityInTheSinglePageAndBatchForms) {
    const cv::Mat page = GeneratedPage(6, 300, 200, 0.4);
    cv::imwrite(Path("page.png"), page);
    cv::imwrite(Path("negative.png"), 255 - page);
    ASSERT_EQ(Edgebin("--polarity dark-ink page.png positive.png").status, 0);
    const struct {
        const char* arguments;
        int status;
        const char* result;
    } cases[] = {
        {"--polarity light-ink negative.png out.png", 0, "out.png"},
        {"--out-dir batch --polarity auto --report r.jsonl negative.png", 0, "batch/negative.png"},
        {"--polarity dark negative.png out.png", 2, nullptr},
        {"--out-dir batch --polarity=Light-Ink negative.png", 2, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ShellRun run = Edgebin(c.arguments);
        EXPECT_EQ(run.status, c.status);
        if (c.result == nullptr) {
            EXPECT_NE(run.err.find("--polarity"), std::string::npos);
            continue;
        }
        EXPECT_TRUE(SamePixels(cv::imread(Path(c.result), cv::IMREAD_UNCHANGED),
                               cv::imread(Path("positive.png"), cv::IMREAD_UNCHANGED)));
        EXPECT_EQ(
            run.out.find("\nPolarity: light-ink, the page was inverted.\n") != std::string::npos,
            std::string(c.result) == "out.png");
    }
    EXPECT_NE(ReadFile(Path("r.jsonl")).find("\"polarity\":\"light-ink\""), std::string::npos);
}

// --threads changes no line and no pixel; a count that is not 1 to 1024 is a usage
// error that names the option and writes nothing.
TEST_F(CliTest, ThreadsChangeNothingAndBadCountsAreRefused) {
    cv::imwrite(Path("page.png"), GeneratedPage(3, 400, 300));
    const std::string paths = Path("page.png") + " " + Path("out.png");
    const ShellRun one = Edgebin(paths);
    const cv::Mat oneImage = cv::imread(Path("out.png"), cv::IMREAD_UNCHANGED);
    const ShellRun three = Edgebin("--threads 3 " + paths);
    EXPECT_EQ(three.status, 0);
    EXPECT_EQ(three.out, one.out);
    EXPECT_TRUE(SamePixels(cv::imread(Path("out.png"), cv::IMREAD_UNCHANGED), oneImage));
    fs::remove(Path("out.png"));
    for (const std::string count : {"0", "-1", "1025", "two"}) {
        const ShellRun run = Edgebin("--threads " + count + " " + paths);
        EXPECT_EQ(run.status, 2) << count;
        EXPECT_EQ(run.err.rfind("edgebin: --threads: ", 0), 0u) << run.err;
        EXPECT_FALSE(fs::exists(Path("out.png"))) << count;
    }
}
