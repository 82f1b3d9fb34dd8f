// The whole tool against its reference build (the straightforward stages in place
// of the fast ones): on generated and random pages of many shapes and with many
// tuning values, both must print the same lines, end with the same status and
// write the same pixels.

#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status = -1000;
    std::string out;
    cv::Mat image;  // empty when nothing was written
};

// Runs both tools on the page in `dir` at once (the machine has a core for each);
// each leaves its lines, status and image there under its own name.
std::pair<ToolRun, ToolRun> RunBoth(const fs::path& dir, const std::string& arguments) {
    const std::string names[2] = {"fast", "reference"};
    const std::string binaries[2] = {EDGEBIN_BINARY, EDGEBIN_REFERENCE_BINARY};
    std::string command = "cd " + Quote(dir.string()) + " && rm -f fast.png reference.png; ";
    for (int i = 0; i < 2; ++i) {
        command += "(OPENCV_FOR_THREADS_NUM=1 " + binaries[i] + " page.png " + names[i] + ".png " +
                   arguments + " >" + names[i] + ".out; echo $? >" + names[i] + ".status) & ";
    }
    EXPECT_EQ(RunShell(command + "wait").status, 0);
    ToolRun runs[2];
    for (int i = 0; i < 2; ++i) {
        runs[i].status = std::stoi("0" + ReadFile(dir / (names[i] + ".status")));
        runs[i].out = ReadFile(dir / (names[i] + ".out"));
        runs[i].image = cv::imread((dir / (names[i] + ".png")).string(), cv::IMREAD_UNCHANGED);
    }
    return {runs[0], runs[1]};
}

// With EDGEBIN_QUICK_EQUIVALENCE set (tools/test.sh sets it) only every fourth
// page is compared; a plain ctest run compares them all.
int Stride() {
    return std::getenv("EDGEBIN_QUICK_EQUIVALENCE") != nullptr ? 4 : 1;
}

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
    const unsigned seed = static_cast<unsigned>(Uniform(rng, 1, 1 << 30));
    const double difficulty = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    const cv::Mat page =
        ::GeneratedPage(seed, std::max(width, 64), std::max(height, 64), difficulty);
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

class EquivalenceTest : public TempDirTest {
  protected:
    // Runs both tools on `page` and compares everything they produce.
    void ExpectSameRun(const cv::Mat& page, const std::string& arguments, const std::string& name) {
        ASSERT_TRUE(cv::imwrite(Path("page.png"), page)) << name;
        const auto [fast, reference] = RunBoth(dir, arguments);
        SCOPED_TRACE(name + " (" + std::to_string(page.cols) + "x" + std::to_string(page.rows) +
                     ", arguments '" + arguments + "')");
        ++runs_;
        written_ += fast.image.empty() ? 0 : 1;
        EXPECT_EQ(fast.status, reference.status);
        EXPECT_EQ(fast.out, reference.out);
        EXPECT_TRUE(SamePixels(fast.image, reference.image));
    }

    int runs_ = 0;
    int written_ = 0;
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
        if (i % Stride() != 0) {
            continue;
        }
        const cv::Mat page =
            generated ? GeneratedPage(rng, width, height) : RandomPage(rng, width, height);
        ExpectSameRun(page, RandomArguments(rng),
                      (generated ? "generated page " : "random page ") + std::to_string(i));
    }
    // Most runs must get through the whole pipeline for the comparison to mean much.
    EXPECT_GT(written_, 100 / Stride());
}

TEST_F(EquivalenceTest, StripsAndTinyPages) {
    std::mt19937 rng(7);
    const std::vector<cv::Size> sizes = {{1, 1},    {2, 2},    {1, 300},  {300, 1}, {200, 3},
                                         {3, 200},  {5, 7},    {17, 9},   {64, 2},  {2, 64},
                                         {400, 12}, {12, 400}, {1000, 4}, {31, 49}, {49, 31}};
    for (size_t i = 0; i < sizes.size(); ++i) {
        for (int variant = 0; variant < (Stride() > 1 ? 1 : 2); ++variant) {
            const cv::Mat page = RandomPage(rng, sizes[i].width, sizes[i].height);
            ExpectSameRun(page, RandomArguments(rng),
                          "strip " + std::to_string(i) + "." + std::to_string(variant));
        }
    }
}

TEST_F(EquivalenceTest, LargerGeneratedPages) {
    std::mt19937 rng(99);
    const std::vector<cv::Size> sizes = {{1000, 700}, {700, 1000}, {1600, 500}, {640, 480}};
    for (size_t i = 0; i < sizes.size(); i += static_cast<size_t>(Stride())) {
        const std::string arguments = i == 0 ? "" : RandomArguments(rng);
        ExpectSameRun(GeneratedPage(rng, sizes[i].width, sizes[i].height), arguments,
                      "large page " + std::to_string(i));
    }
    EXPECT_EQ(written_, runs_);
}
