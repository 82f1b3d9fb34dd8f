// Runs the built edgebin executable and checks its messages, files and statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "tools/page_generator.h"

namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status;
    std::string out;
};

CliRun Edgebin(const std::string& arguments) {
    const std::string command = std::string(EDGEBIN_BINARY) + " " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    CliRun run{-1000, ""};
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, got);
    }
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000;
    return run;
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// A grey page with a few dark strokes on a lit background: not two-level.
cv::Mat StrokePage() {
    cv::Mat page(120, 160, CV_8UC1);
    for (int y = 0; y < page.rows; ++y) {
        for (int x = 0; x < page.cols; ++x) {
            page.at<unsigned char>(y, x) = static_cast<unsigned char>(200 + (x + y) % 7);
        }
    }
    for (int line = 0; line < 3; ++line) {
        cv::putText(page, "edge text", cv::Point(5, 30 + 35 * line), cv::FONT_HERSHEY_SIMPLEX, 0.8,
                    cv::Scalar(40), 2);
    }
    return page;
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("edgebin_cli_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

}  // namespace

TEST_F(CliTest, NoArgumentPrintsUsageAndFails) {
    const CliRun run = Edgebin("");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.out.find("usage: edgebin"), std::string::npos);
    const CliRun help = Edgebin("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}

TEST_F(CliTest, TwoLevelInputIsCopiedUnchanged) {
    cv::Mat two(20, 30, CV_8UC1, cv::Scalar(200));
    two(cv::Rect(3, 4, 10, 5)).setTo(30);
    cv::imwrite(Path("two.png"), two);
    const CliRun run = Edgebin(Path("two.png") + " " + Path("copy.png"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "The input image is a binarized image. The output image is a copy of the input "
              "image.\n");
    const cv::Mat copy = cv::imread(Path("copy.png"), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(copy.type(), CV_8UC1);
    EXPECT_EQ(cv::norm(copy, two, cv::NORM_INF), 0.0);

    // A colour page whose grey conversion is two-level is written as that grey image.
    cv::Mat colour(10, 10, CV_8UC3, cv::Scalar(0, 0, 255));
    colour(cv::Rect(0, 0, 5, 10)).setTo(cv::Scalar(255, 255, 255));
    cv::imwrite(Path("colour.png"), colour);
    const CliRun colourRun = Edgebin(Path("colour.png") + " " + Path("colour_out.png"));
    EXPECT_EQ(colourRun.status, 0);
    const cv::Mat colourCopy = cv::imread(Path("colour_out.png"), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(colourCopy.type(), CV_8UC1);
    cv::Mat expected;
    cv::cvtColor(colour, expected, cv::COLOR_BGR2GRAY);
    EXPECT_EQ(cv::norm(colourCopy, expected, cv::NORM_INF), 0.0);
}

TEST_F(CliTest, TuningArgumentsFollowThePositionRule) {
    cv::imwrite(Path("page.png"), StrokePage());
    const std::string base = Path("page.png") + " " + Path("out.png");
    EXPECT_EQ(FirstLine(Edgebin(base).out),
              "//******* alpha = 2 ******* k = 0.6 ******* Rthre = 0.05 *******//");
    EXPECT_EQ(FirstLine(Edgebin(base + " 1.5").out),
              "//******* alpha = 1.5 ******* k = 0.6 ******* Rthre = 0.05 *******//");
    EXPECT_EQ(FirstLine(Edgebin(base + " 1.5 0.3x 0.1").out),
              "//******* alpha = 1.5 ******* k = 0.3 ******* Rthre = 0.1 *******//");
    // Six or more arguments: none of the numbers is read.
    EXPECT_EQ(FirstLine(Edgebin(base + " 1.5 0.4 0.1 extra").out),
              "//******* alpha = 2 ******* k = 0.6 ******* Rthre = 0.05 *******//");
}

namespace {

// FNV-1a over the pixels, row by row: a short fingerprint of a result image.
std::string PixelHash(const cv::Mat& image) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (int y = 0; y < image.rows; ++y) {
        const unsigned char* row = image.ptr<unsigned char>(y);
        for (size_t x = 0; x < image.cols * image.elemSize(); ++x) {
            hash = (hash ^ row[x]) * 1099511628211ULL;
        }
    }
    std::ostringstream text;
    text << std::hex << hash;
    return text.str();
}

// Expected runs, "## name status S pixels P" followed by the run's output.
std::map<std::string, std::string> ReadGolden(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream all;
    all << file.rdbuf();
    std::map<std::string, std::string> runs;
    const std::string text = all.str();
    for (size_t at = text.find("## "); at != std::string::npos;) {
        const size_t next = text.find("\n## ", at);
        const std::string block =
            text.substr(at + 3, next == std::string::npos ? next : next + 1 - at - 3);
        runs[block.substr(0, block.find(' '))] = block.substr(block.find(' ') + 1);
        at = next == std::string::npos ? next : next + 1;
    }
    return runs;
}

}  // namespace

// Whole runs whose lines, status and pixels were recorded from a build known to be
// right: every report line the command line formats (peaks, ratio, thresholds, the
// retry at half the threshold, stroke widths, the failure line) must stay exactly
// as recorded. After a deliberate change of results, rerun with
// EDGEBIN_UPDATE_GOLDEN=1 to record the new runs, and say why in the commit.
TEST_F(CliTest, RunsPrintExactlyTheRecordedLines) {
    const fs::path golden = fs::path(EDGEBIN_SOURCE_DIR) / "tests/golden";
    PageOptions options;
    options.seed = 3;
    options.width = 400;
    options.height = 300;
    cv::Mat generated;
    cv::Mat truth;
    GeneratePage(options, generated, truth);
    cv::imwrite(Path("generated.png"), generated);
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
    };
    const bool update = std::getenv("EDGEBIN_UPDATE_GOLDEN") != nullptr;
    std::string recorded;
    const std::map<std::string, std::string> expected = ReadGolden(golden / "runs.txt");
    for (const auto& c : cases) {
        fs::remove(Path("out.png"));
        const CliRun run = Edgebin(c.page + " " + Path("out.png") + c.arguments);
        const cv::Mat image = cv::imread(Path("out.png"), cv::IMREAD_UNCHANGED);
        const std::string block = "status " + std::to_string(run.status) + " pixels " +
                                  (image.empty() ? "none" : PixelHash(image)) + "\n" + run.out;
        recorded += std::string("## ") + c.name + " " + block;
        const auto found = expected.find(c.name);
        if (!update) {
            ASSERT_NE(found, expected.end()) << c.name;
            EXPECT_EQ(block, found->second) << c.name;
        }
    }
    if (update) {
        std::ofstream(golden / "runs.txt") << recorded;
    }
}

TEST_F(CliTest, DebugDirHoldsTheStageImagesOfTheRun) {
    const std::string page = (fs::path(EDGEBIN_SOURCE_DIR) / "samples/sample_page.png").string();
    const CliRun run =
        Edgebin("--debug-dir " + Path("stages") + " " + page + " " + Path("out.png"));
    ASSERT_EQ(run.status, 0) << run.out;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "stages")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"1-enhanced.png", "2-gradient.png", "3-edges.png",
                                               "4-bands.png", "5-voters.png", "6-votes.png",
                                               "7-result.png", "contour-curve.png"}));
    const cv::Mat result = cv::imread(Path("out.png"), cv::IMREAD_UNCHANGED);
    const cv::Mat staged = cv::imread(Path("stages/7-result.png"), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(result.empty());
    EXPECT_EQ(cv::norm(result, staged, cv::NORM_INF), 0.0);
    const cv::Mat original = cv::imread(page, cv::IMREAD_GRAYSCALE);
    EXPECT_EQ(cv::imread(Path("stages/3-edges.png")).size(), original.size());
}
