// The whole tool against its reference build (the straightforward stages in place
// of the fast ones): on generated and random pages of many shapes and with many
// tuning values, both must print the same lines, end with the same status and
// write the same pixels.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "tools/page_generator.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status = -1000;
    std::string out;
    cv::Mat image;  // empty when nothing was written
};

// A started run of one tool; its output is read when it is finished.
class ToolProcess {
  public:
    ToolProcess(const std::string& binary, const std::string& page, const std::string& output,
                const std::string& arguments)
        : output_(output) {
        fs::remove(output);
        const std::string command = "OPENCV_FOR_THREADS_NUM=1 " + binary + " '" + page + "' '" +
                                    output + "' " + arguments + " 2>/dev/null";
        pipe_ = popen(command.c_str(), "r");
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
    ~ToolProcess() {
        if (pipe_ != nullptr) {
            pclose(pipe_);
        }
    }

    ToolRun Finish() {
        ToolRun run;
        if (pipe_ == nullptr) {
            return run;
        }
        char buffer[4096];
        size_t got = 0;
        while ((got = fread(buffer, 1, sizeof buffer, pipe_)) > 0) {
            run.out.append(buffer, got);
        }
        const int raw = pclose(pipe_);
        pipe_ = nullptr;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000;
        if (fs::exists(output_)) {
            run.image = cv::imread(output_, cv::IMREAD_UNCHANGED);
        }
        return run;
    }

  private:
    std::string output_;
    FILE* pipe_ = nullptr;
};

int Uniform(std::mt19937& rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
}

template <typename T>
T Pick(std::mt19937& rng, const std::vector<T>& values) {
    return values[std::uniform_int_distribution<size_t>(0, values.size() - 1)(rng)];
}

// Tuning values in command-line form: the defaults now and then, otherwise a mix
// of usual and unusual values.
std::string RandomArguments(std::mt19937& rng) {
    if (Uniform(rng, 0, 4) == 0) {
        return "";
    }
    const std::string alpha =
        Pick<std::string>(rng, {"2", "2", "1.5", "0.5", "3", "1", "0", "-1", "7.5", "2.3"});
    const std::string k = Pick<std::string>(rng, {"0.6", "0.6", "0", "0.2", "-0.3", "1.5", "0.35"});
    const std::string rthre = Pick<std::string>(rng, {"0.05", "0.05", "0", "0.5", "1", "0.01"});
    const int count = Uniform(rng, 1, 3);
    return alpha + (count > 1 ? " " + k : "") + (count > 2 ? " " + rthre : "");
}

// A page of the generator, cropped or kept, at a random difficulty.
cv::Mat GeneratedPage(std::mt19937& rng, int width, int height) {
    PageOptions options;
    options.seed = static_cast<std::uint32_t>(Uniform(rng, 1, 1 << 30));
    options.width = std::max(width, 64);
    options.height = std::max(height, 64);
    options.difficulty = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    cv::Mat page;
    cv::Mat truth;
    GeneratePage(options, page, truth);
    return page(cv::Rect(0, 0, width, height)).clone();
}

// Synthetic pages that the generator does not make: noise, ramps, few grey
// levels, strokes of drawn text and shapes, single values.
cv::Mat RandomPage(std::mt19937& rng, int width, int height) {
    cv::Mat page(height, width, CV_8UC1);
    const int style = Uniform(rng, 0, 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int value = 0;
            switch (style) {
                case 0:
                    value = Uniform(rng, 0, 255);
                    break;
                case 1:
                    value = (x * 5 + y * 3) % 256;
                    break;
                case 2:
                    value = Pick<int>(rng, {20, 120, 121, 230});
                    break;
                default:
                    value = 200 + Uniform(rng, -6, 6);
                    break;
            }
            page.at<unsigned char>(y, x) = cv::saturate_cast<unsigned char>(value);
        }
    }
    if (style >= 3) {
        const int lines = Uniform(rng, 1, 1 + height / 20);
        for (int i = 0; i < lines; ++i) {
            cv::putText(page, "Text edge", cv::Point(Uniform(rng, -10, width / 2), 15 + 20 * i),
                        cv::FONT_HERSHEY_SIMPLEX, 0.3 + 0.4 * (i % 3),
                        cv::Scalar(Uniform(rng, 0, 90)), 1 + i % 2);
            cv::circle(page, cv::Point(Uniform(rng, 0, width), Uniform(rng, 0, height)),
                       Uniform(rng, 2, 30), cv::Scalar(Uniform(rng, 0, 90)), Uniform(rng, 1, 3));
        }
    }
    return page;
}

class EquivalenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("edgebin_equivalence_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs both tools on `page` and compares everything they produce.
    void ExpectSameRun(const cv::Mat& page, const std::string& arguments, const std::string& name) {
        const std::string pagePath = (dir_ / "page.png").string();
        ASSERT_TRUE(cv::imwrite(pagePath, page)) << name;
        // Both at once: the machine has a core for each. Their reports are short
        // enough to wait in the pipes.
        ToolProcess fastProcess(EDGEBIN_BINARY, pagePath, (dir_ / "fast.png").string(), arguments);
        ToolProcess referenceProcess(EDGEBIN_REFERENCE_BINARY, pagePath,
                                     (dir_ / "reference.png").string(), arguments);
        const ToolRun fast = fastProcess.Finish();
        const ToolRun reference = referenceProcess.Finish();
        const std::string context = name + " (" + std::to_string(page.cols) + "x" +
                                    std::to_string(page.rows) + ", arguments '" + arguments + "')";
        ++runs_;
        EXPECT_EQ(fast.status, reference.status) << context;
        EXPECT_EQ(fast.out, reference.out) << context;
        ASSERT_EQ(fast.image.empty(), reference.image.empty()) << context;
        if (!fast.image.empty()) {
            ++written_;
            ASSERT_EQ(fast.image.size(), reference.image.size()) << context;
            ASSERT_EQ(fast.image.type(), reference.image.type()) << context;
            EXPECT_EQ(cv::countNonZero(fast.image != reference.image), 0) << context;
        }
    }

    int runs_ = 0;
    int written_ = 0;

  private:
    fs::path dir_;
};

}  // namespace

TEST_F(EquivalenceTest, SmallGeneratedAndRandomPages) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 170; ++i) {
        // Mostly small, so that the reference stays quick; every 30th page full size.
        const bool full = i % 30 == 29;
        const int width =
            full ? 300 : Pick<int>(rng, {64, 80, 100, 128, 150, 200, Uniform(rng, 64, 220)});
        const int height =
            full ? 300 : Pick<int>(rng, {49, 50, 51, 64, 90, 120, 160, Uniform(rng, 49, 220)});
        const bool generated = i % 2 == 0;
        const cv::Mat page =
            generated ? GeneratedPage(rng, width, height) : RandomPage(rng, width, height);
        ExpectSameRun(page, RandomArguments(rng),
                      (generated ? "generated page " : "random page ") + std::to_string(i));
    }
    // Most runs must get through the whole pipeline for the comparison to mean much.
    EXPECT_GT(written_, 100);
}

TEST_F(EquivalenceTest, StripsTinyPagesAndColour) {
    std::mt19937 rng(7);
    const std::vector<cv::Size> sizes = {{1, 1},    {2, 2},    {1, 300},  {300, 1}, {200, 3},
                                         {3, 200},  {5, 7},    {17, 9},   {64, 2},  {2, 64},
                                         {400, 12}, {12, 400}, {1000, 4}, {31, 49}, {49, 31}};
    for (size_t i = 0; i < sizes.size(); ++i) {
        for (int variant = 0; variant < 2; ++variant) {
            const cv::Mat page = RandomPage(rng, sizes[i].width, sizes[i].height);
            ExpectSameRun(page, RandomArguments(rng),
                          "strip " + std::to_string(i) + "." + std::to_string(variant));
        }
    }
    // Two-level and one-value pages take the copy path in both.
    ExpectSameRun(cv::Mat(40, 60, CV_8UC1, cv::Scalar(9)), "", "one value");
    cv::Mat twoLevel(40, 60, CV_8UC1, cv::Scalar(0));
    twoLevel(cv::Rect(10, 10, 20, 20)).setTo(200);
    ExpectSameRun(twoLevel, "", "two levels");
    // Colour input goes through the grey conversion.
    cv::Mat colour;
    cv::cvtColor(GeneratedPage(rng, 160, 120), colour, cv::COLOR_GRAY2BGR);
    colour.forEach<cv::Vec3b>([](cv::Vec3b& pixel, const int* position) {
        pixel[0] = cv::saturate_cast<unsigned char>(pixel[0] + position[1] % 13);
        pixel[2] = cv::saturate_cast<unsigned char>(pixel[2] - position[0] % 11);
    });
    ExpectSameRun(colour, "", "colour page");
}

TEST_F(EquivalenceTest, LargerGeneratedPages) {
    std::mt19937 rng(99);
    const std::vector<cv::Size> sizes = {{1000, 700}, {700, 1000}, {1600, 500}, {640, 480}};
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::string arguments = i == 0 ? "" : RandomArguments(rng);
        ExpectSameRun(GeneratedPage(rng, sizes[i].width, sizes[i].height), arguments,
                      "large page " + std::to_string(i));
    }
    EXPECT_EQ(written_, static_cast<int>(sizes.size()));
}
