// The whole tool against its reference build (the straightforward stages in place
// of the fast ones): on generated and random pages of many shapes and with varied
// tuning values, both must print the same lines, end with the same status and
// write the same pixels.
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <random>

#include "support/test_support.h"

namespace {

using EquivalenceTest = TempDirTest;

// A page of the generator at a random difficulty, cropped when small.
cv::Mat Generated(std::mt19937& rng, int width, int height) {
    const unsigned seed = static_cast<unsigned>(Uniform(rng, 1, 1 << 30));
    const double difficulty = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    return GeneratedPage(seed, std::max(width, 64), std::max(height, 64),
                         difficulty)(cv::Rect(0, 0, width, height))
        .clone();
}

// A page the generator does not make: noise, a ramp, a few grey levels, or drawn
// text and rings on flat paper.
cv::Mat RandomPage(std::mt19937& rng, int width, int height) {
    cv::Mat page(height, width, CV_8UC1);
    const int style = Uniform(rng, 0, 3);
    const int levels[] = {20, 120, 121, 230};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            page.at<unsigned char>(y, x) =
                static_cast<unsigned char>(style == 0   ? Uniform(rng, 0, 255)
                                           : style == 1 ? (x * 5 + y * 3) % 256
                                           : style == 2 ? levels[Uniform(rng, 0, 3)]
                                                        : 200 + Uniform(rng, -6, 6));
        }
    }
    for (int i = 0; style == 3 && i < Uniform(rng, 1, 1 + height / 20); ++i) {
        cv::putText(page, "Text edge", cv::Point(Uniform(rng, -10, width / 2), 15 + 20 * i),
                    cv::FONT_HERSHEY_SIMPLEX, 0.3 + 0.4 * (i % 3), cv::Scalar(Uniform(rng, 0, 90)),
                    1 + i % 2);
        cv::circle(page, cv::Point(Uniform(rng, 0, width), Uniform(rng, 0, height)),
                   Uniform(rng, 2, 30), cv::Scalar(Uniform(rng, 0, 90)), Uniform(rng, 1, 3));
    }
    return page;
}

}  // namespace

// With EDGEBIN_QUICK_EQUIVALENCE set (scripts/test.sh sets it) about a quarter of the
// pages are compared; a plain ctest run compares them all.
TEST_F(EquivalenceTest, FastAndReferenceToolsAgree) {
    const bool quick = std::getenv("EDGEBIN_QUICK_EQUIVALENCE") != nullptr;
    std::mt19937 rng(20240611);
    int runs = 0;
    int written = 0;
    // Tuning values in command-line form, usual and unusual, in turn (seven, so that
    // generated and random pages both meet each).
    const char* argumentList[] = {"",           " 1.5",          " 0.5 0.2", " 0 -0.3 0.5",
                                  " 7.5 1.5 1", " -1 0.35 0.01", " 2 0 0"};
    const auto compare = [&](const cv::Mat& page, const std::string& what) {
        const std::string arguments = argumentList[runs % 7];
        SCOPED_TRACE(what + " " + std::to_string(page.cols) + "x" + std::to_string(page.rows) +
                     ", arguments '" + arguments + "'");
        ASSERT_TRUE(cv::imwrite(Path("page.png"), page));
        // Both at once (the machine has a core for each); the status ends each report.
        std::string command = "rm -f fast.png reference.png; ";
        const char* tools[][2] = {{"fast", EDGEBIN_BINARY},
                                  {"reference", EDGEBIN_REFERENCE_BINARY}};
        for (const auto& [name, binary] : tools) {
            command += std::string("(OPENCV_FOR_THREADS_NUM=1 ") + binary + " page.png " + name +
                       ".png" + arguments + " >" + name + ".out; echo $? >>" + name + ".out) & ";
        }
        ASSERT_EQ(Shell(command + "wait").status, 0);
        EXPECT_EQ(ReadFile(dir / "fast.out"), ReadFile(dir / "reference.out"));
        EXPECT_TRUE(SamePixels(cv::imread(Path("fast.png"), cv::IMREAD_UNCHANGED),
                               cv::imread(Path("reference.png"), cv::IMREAD_UNCHANGED)));
        ++runs;
        written += std::filesystem::exists(dir / "fast.png") ? 1 : 0;
    };
    for (const cv::Size size :
         {cv::Size(1, 1), cv::Size(2, 2), cv::Size(1, 300), cv::Size(300, 1), cv::Size(200, 3),
          cv::Size(3, 200), cv::Size(5, 7), cv::Size(17, 9), cv::Size(64, 2), cv::Size(400, 12),
          cv::Size(12, 400), cv::Size(1000, 4), cv::Size(31, 49), cv::Size(49, 31)}) {
        compare(RandomPage(rng, size.width, size.height), "strip");
    }
    // Mostly small pages, so that the reference stays quick; then full-size ones.
    for (int i = 0; i < (quick ? 40 : 160); ++i) {
        const int width = Uniform(rng, 49, 220);
        const int height = Uniform(rng, 49, 220);
        compare(i % 2 == 0 ? Generated(rng, width, height) : RandomPage(rng, width, height),
                i % 2 == 0 ? "generated page" : "random page");
    }
    for (const cv::Size size : {cv::Size(1000, 700), cv::Size(700, 1000), cv::Size(1600, 500)}) {
        if (!quick || size.height == 700) {
            compare(Generated(rng, size.width, size.height), "large page");
        }
    }
    // Most runs must get through the whole pipeline for the comparison to mean much.
    EXPECT_GT(written, runs / 2) << written << " of " << runs << " runs wrote a result";
}
