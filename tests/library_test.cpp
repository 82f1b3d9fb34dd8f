// The public API as another program uses it: what it refuses and how, what it
// returns, and calls from several threads at once.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <future>
#include <iostream>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <vector>

#include "app/trace_report.h"
#include "edgebin/edgebin.hpp"
#include "support/test_support.h"
#include "tools/evaluation/metrics.h"
#include "tools/evaluation/page_generator.h"

namespace {

const char kFonts[] = "/usr/share/fonts/truetype/dejavu";

bool HaveFonts() {
    return std::ifstream(std::string(kFonts) + "/DejaVuSans.ttf").good();
}

// Status, pixels and trace (the lines the command line prints of it, and the bands)
// the same.
bool SameResult(const edgebin::Result& a, const edgebin::Result& b) {
    const auto describe = [](const edgebin::Result& result) {
        std::ostringstream text;
        text << result.status << "\n";
        edgebin::cli::PrintTrace(result, text);
        for (const edgebin::TextBand& band : result.trace.bands) {
            text << band.top << " " << band.bottom << " " << band.strokeWidth << "\n";
        }
        return text.str();
    };
    return describe(a) == describe(b) && SamePixels(a.image, b.image);
}

}  // namespace

TEST(LibraryTest, RefusesBadImagesAndParametersWithAStatus) {
    const cv::Mat page = GeneratedPage(1, 120, 90, 0.3);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const int sizes[] = {4, 4, 4};
    const struct {
        const char* name;
        cv::Mat image;
        edgebin::Parameters parameters;
        int status;
    } cases[] = {
        {"empty", cv::Mat(), {}, edgebin::kStatusEmptyImage},
        {"16-bit", cv::Mat(20, 20, CV_16UC1, cv::Scalar(7)), {}, edgebin::kStatusUnsupportedImage},
        {"four channels", cv::Mat(20, 20, CV_8UC4), {}, edgebin::kStatusUnsupportedImage},
        {"3-D", cv::Mat(3, sizes, CV_8UC1, cv::Scalar(1)), {}, edgebin::kStatusUnsupportedImage},
        {"alpha nan", page, {nan, 0.6, 0.05}, edgebin::kStatusInvalidParameter},
        {"alpha too large", page, {1.0e4 + 1, 0.6, 0.05}, edgebin::kStatusInvalidParameter},
        {"k infinite", page, {2.0, INFINITY, 0.05}, edgebin::kStatusInvalidParameter},
        {"rthre too small", page, {2.0, 0.6, -2.0e6}, edgebin::kStatusInvalidParameter},
        {"polarity unknown",
         page,
         {2.0, 0.6, 0.05, edgebin::Polarity{7}},
         edgebin::kStatusInvalidParameter},
        {"no threads",
         page,
         {2.0, 0.6, 0.05, edgebin::Polarity::kAuto, 0},
         edgebin::kStatusInvalidParameter},
        {"too many threads",
         page,
         {2.0, 0.6, 0.05, edgebin::Polarity::kAuto, 1025},
         edgebin::kStatusInvalidParameter},
        {"resolution negative",
         page,
         {2.0, 0.6, 0.05, edgebin::Polarity::kAuto, 1, -1.0},
         edgebin::kStatusInvalidParameter},
        {"working resolution too large",
         page,
         {2.0, 0.6, 0.05, edgebin::Polarity::kAuto, 1, 600.0, 1.0e5 + 1},
         edgebin::kStatusInvalidParameter},
        {"flat page", cv::Mat(60, 80, CV_8UC1, cv::Scalar(200)), {}, edgebin::kStatusOk},
    };
    for (const auto& c : cases) {
        const edgebin::Result result = edgebin::Binarize(c.image, c.parameters);
        EXPECT_EQ(result.status, c.status) << c.name;
        EXPECT_EQ(result.message.empty(), c.status == edgebin::kStatusOk) << c.name;
        EXPECT_EQ(result.image.empty(), c.status != edgebin::kStatusOk) << c.name;
    }
    // The bounds themselves are accepted.
    EXPECT_EQ(
        edgebin::Binarize(page, {-1.0e4, 1.0e6, -1.0e6, edgebin::Polarity::kAuto, 1024}).status,
        edgebin::kStatusOk);
}

// A colour page of three equal channels gives its grey page's result, and so does
// a view inside a wider image; a two-level page (here a view whose row holds other
// values beyond its width) comes back as a copy.
TEST(LibraryTest, ColourPagesAndViewsGiveTheGreyPagesResult) {
    const cv::Mat page = GeneratedPage(2, 300, 200, 0.4);
    const edgebin::Result grey = edgebin::Binarize(page);
    ASSERT_EQ(grey.status, edgebin::kStatusOk);
    EXPECT_FALSE(grey.trace.copiedInput);
    cv::Mat colour;
    cv::cvtColor(page, colour, cv::COLOR_GRAY2BGR);
    EXPECT_TRUE(SameResult(edgebin::Binarize(colour), grey));
    cv::Mat wide(page.rows, page.cols + 37, CV_8UC1, cv::Scalar(0));
    page.copyTo(wide.colRange(20, 20 + page.cols));
    EXPECT_TRUE(SameResult(edgebin::Binarize(wide.colRange(20, 20 + page.cols)), grey));

    wide.colRange(0, 20).setTo(99);
    wide.colRange(20, 70).setTo(200);
    wide(cv::Rect(25, 5, 10, 10)).setTo(30);
    const cv::Mat twoLevel = wide.colRange(20, 70);
    const edgebin::Result copy = edgebin::Binarize(twoLevel);
    EXPECT_EQ(copy.status, edgebin::kStatusOk);
    EXPECT_TRUE(copy.trace.copiedInput);
    EXPECT_TRUE(SamePixels(copy.image, twoLevel));
    EXPECT_NE(copy.image.data, twoLevel.data);
}

// Eight different pages, each twice, binarized by sixteen threads at once: every
// result must equal the sequential one exactly.
TEST(LibraryTest, ConcurrentCallsGiveTheSequentialResults) {
    const auto parameters = [](size_t i) { return edgebin::Parameters{1.5 + 0.1 * i, 0.6, 0.05}; };
    std::vector<cv::Mat> pages;
    std::vector<edgebin::Result> sequential;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        pages.push_back(GeneratedPage(seed, 200 + 40 * static_cast<int>(seed % 4),
                                      150 + 30 * static_cast<int>(seed % 3), 0.1 * seed));
        sequential.push_back(edgebin::Binarize(pages.back(), parameters(seed - 1)));
    }
    std::vector<std::future<edgebin::Result>> concurrent;
    for (size_t r = 0; r < 16; ++r) {
        concurrent.push_back(std::async(std::launch::async, [&, r] {
            return edgebin::Binarize(pages[r % 8], parameters(r % 8));
        }));
    }
    for (size_t r = 0; r < concurrent.size(); ++r) {
        const edgebin::Result result = concurrent[r].get();
        EXPECT_EQ(result.status, edgebin::kStatusOk) << r;
        EXPECT_TRUE(SameResult(result, sequential[r % 8])) << "run " << r;
    }
}

// A page split over threads gives the one-thread result exactly: even and odd band
// counts, bands shorter than the windows, and more threads than the page has rows
// or tiles of the curve. (The lower-peak retry is split in the test below.)
// Faint lines of words beside one strong mark, where the higher peak keeps the
// mark alone.
cv::Mat FaintWordsBesideAMark() {
    cv::Mat page(400, 600, CV_8UC1, cv::Scalar(200));
    for (int line = 0; line < 9; ++line) {
        cv::putText(page, "faint words on line " + std::to_string(line) + " of the page",
                    cv::Point(20, 40 + 40 * line), cv::FONT_HERSHEY_SIMPLEX, 0.8, cv::Scalar(150),
                    2, cv::LINE_AA);
    }
    cv::putText(page, "X", cv::Point(500, 30), cv::FONT_HERSHEY_SIMPLEX, 1.2, cv::Scalar(0), 3,
                cv::LINE_AA);
    cv::Mat noise(page.size(), CV_8SC1);
    cv::RNG(1).fill(noise, cv::RNG::NORMAL, 0, 2);
    cv::add(page, noise, page, cv::noArray(), CV_8U);
    return page;
}

TEST(LibraryTest, EveryThreadCountGivesTheOneThreadResult) {
    const std::pair<const char*, cv::Mat> pages[] = {
        {"page", GeneratedPage(3, 640, 480, 0.5)},
        {"hard page", GeneratedPage(6, 420, 610, 0.9)},
        {"twelve rows", GeneratedPage(5, 200, 12, 0.3)},
        {"mended page", FaintWordsBesideAMark()},
    };
    for (const auto& [name, page] : pages) {
        const edgebin::Result single = edgebin::Binarize(page);
        for (const int threads : {2, 3, 16}) {
            edgebin::Parameters parameters;
            parameters.threads = threads;
            EXPECT_TRUE(SameResult(edgebin::Binarize(page, parameters), single))
                << name << ", " << threads << " threads";
        }
    }
}

// Two pages where the isolated share takes the higher peak and the lower one is
// right: the faint words beside a mark; and a generated page whose later lines are
// faded, where the higher peak keeps the dark lines alone. The page is then binarized at the lower
// peak, exactly as a caller who asks for it gets it, and says why.

TEST(LibraryTest, AHigherPeakThatLeavesOutTheTextFallsBackToTheLowerOne) {
    cv::Mat faded, truth;
    std::string text;
    if (HaveFonts()) {
        GenerateClassPage(PageOptions{1, 600, 300, 0.6}, PageClass::kFaint, kFonts, faded, truth,
                          text);
    }
    const struct {
        const char* name;
        cv::Mat page;
        edgebin::Mend mend;
    } cases[] = {
        {"faint words beside a mark", FaintWordsBesideAMark(), edgebin::Mend::kNoText},
        {"faded lines", faded, edgebin::Mend::kFaintWriting},
    };
    for (const auto& c : cases) {
        if (c.page.empty()) {
            std::cout << "[  SKIPPED ] " << c.name << ": no DejaVu fonts in " << kFonts << "\n";
            continue;
        }
        const edgebin::Result mended = edgebin::Binarize(c.page);
        edgebin::Parameters lowerPeak;
        lowerPeak.rthre = 1e6;
        const edgebin::Result lower = edgebin::Binarize(c.page, lowerPeak);
        ASSERT_EQ(mended.status, edgebin::kStatusOk) << c.name;
        ASSERT_GE(mended.trace.secondPeak, 0) << c.name;
        EXPECT_EQ(mended.trace.mendedFrom, std::max(mended.trace.mainPeak, mended.trace.secondPeak))
            << c.name;
        EXPECT_EQ(mended.trace.mend, c.mend) << c.name;
        EXPECT_TRUE(SamePixels(mended.image, lower.image)) << c.name;
        // Both pages' paper is even, and the ink the mend kept stands clear of it.
        EXPECT_FALSE(mended.trace.suspect) << c.name;
    }
}

// Generated pages whose curve misleads the choice: printed words at half contrast
// under noise of sigma 3, whose only peak lies in the noise (speckle, F 13, before
// the mend), and faded lines beside dark ones with a peak of the faded lines' own
// below both peaks the ratio weighs (F 15 at the ratio's choice).
TEST(LibraryTest, AMisleadingPeakGivesWayToTheTextsOwn) {
    if (!HaveFonts()) {
        GTEST_SKIP() << "no DejaVu fonts in " << kFonts;
    }
    cv::Mat noisy, noisyTruth, faded, fadedTruth;
    std::string text;
    GenerateClassPage(PageOptions{3, 600, 300, 0.2}, PageClass::kNoise, kFonts, noisy, noisyTruth,
                      text);
    cv::Mat noise(noisy.size(), CV_32F);
    cv::RNG(7).fill(noise, cv::RNG::NORMAL, 0.0, 3.0);
    noisy.convertTo(noisy, CV_32F, 0.5, 64.0);
    noisy += noise;
    noisy.convertTo(noisy, CV_8U);
    GenerateClassPage(PageOptions{2, 1200, 900, 0.35}, PageClass::kFaint, kFonts, faded, fadedTruth,
                      text);
    const struct {
        cv::Mat page, truth;
        edgebin::Mend mend;
        double minF;
    } cases[] = {{noisy, noisyTruth, edgebin::Mend::kNoiseFloor, 80.0},
                 {faded, fadedTruth, edgebin::Mend::kFaintWriting, 85.0}};
    for (const auto& c : cases) {
        const edgebin::Result result = edgebin::Binarize(c.page);
        ASSERT_EQ(result.status, edgebin::kStatusOk);
        const edgebin::Trace& t = result.trace;
        EXPECT_EQ(t.mend, c.mend);
        // The peak above the noise's; the faded lines' peak below the lower of two.
        const bool noiseFloor = c.mend == edgebin::Mend::kNoiseFloor;
        const cv::Point fromTo = noiseFloor
                                     ? cv::Point(t.mainPeak, t.secondPeak)
                                     : cv::Point(std::min(t.mainPeak, t.secondPeak), t.lowerPeak);
        EXPECT_EQ(cv::Point(t.mendedFrom, t.finalThreshold), fromTo);
        EXPECT_EQ(t.finalThreshold > t.mendedFrom, noiseFloor);
        EXPECT_EQ(t.peakAbove, noiseFloor ? t.secondPeak : -1);  // none past a second peak
        EXPECT_GT(ScoreBinarization(result.image, c.truth).fMeasure, c.minF);
    }
}

// The trace's name of each mend and the line standard error gets for it.
TEST(LibraryTest, EveryMendIsNamedAndExplained) {
    using edgebin::Mend;
    const struct {
        Mend mend;
        int mendedFrom;
        int finalThreshold;
        int secondPeak;
        int reassigned;
        const char* name;
        const char* note;
    } cases[] = {
        {Mend::kNone, -1, 50, -1, -1, "none", ""},
        {Mend::kNone, -1, 50, -1, 25, "none", ""},
        {Mend::kNoText, 177, 38, 177, -1, "no text",
         "the higher peak 177 kept no text, the lower peak 38 was used"},
        {Mend::kFaintWriting, 75, 16, 75, -1, "faint writing",
         "the higher peak 75 left out faint writing, the lower peak 16 was used"},
        {Mend::kNoiseFloor, 5, 33, 33, -1, "noise floor",
         "the main peak 5 lay in the noise, the peak 33 above it was used"},
        {Mend::kPaperTakenIn, 31, 72, 72, -1, "paper taken in",
         "the peak 31 took in paper, the peak 72 above it was used"},
        {Mend::kPaperTakenIn, 34, 186, 186, 93, "paper taken in",
         "the peak 34 took in paper, the peak 186 above it was used, halved to 93"},
        {Mend::kPaperTakenIn, 42, 63, -1, -1, "paper taken in",
         "the peak 42 took in paper, the level 63 above it was used"},
    };
    for (const auto& c : cases) {
        edgebin::Trace trace;
        trace.mend = c.mend;
        trace.mendedFrom = c.mendedFrom;
        trace.finalThreshold = c.finalThreshold;
        trace.secondPeak = c.secondPeak;
        trace.reassignedThreshold = c.reassigned;
        EXPECT_STREQ(edgebin::MendName(c.mend), c.name);
        EXPECT_EQ(edgebin::cli::SelfCheckNote(trace), c.note) << c.name;
    }
}

// A page declared well above the working resolution gives what the rule says, made
// here from plain OpenCV calls: the page shrunk by area interpolation to rounded
// sizes, binarized with the same trace, and brought back by nearest neighbour.
// Any other page is binarized as it is.
TEST(LibraryTest, AHighResolutionPageIsBinarizedAtTheWorkingResolution) {
    const cv::Mat page = GeneratedPage(4, 601, 401, 0.4);
    const struct {
        const char* name;
        cv::Mat page;
        double resolution;
        double working;
        double scale;
    } cases[] = {
        {"unknown resolution", page, 0.0, 300.0, 1.0},
        {"just below 1.5 times", page, 449.0, 300.0, 1.0},
        {"1.5 times", page, 450.0, 300.0, 1.5},
        {"twice", page, 600.0, 300.0, 2.0},
        {"never rescaled", page, 600.0, 0.0, 1.0},
        {"one row", page.rowRange(200, 201), 900.0, 300.0, 3.0},
        {"two-level page", page > 128, 600.0, 300.0, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        edgebin::Parameters parameters;
        parameters.resolution = c.resolution;
        parameters.workingResolution = c.working;
        const edgebin::Result result = edgebin::Binarize(c.page, parameters);
        EXPECT_EQ(result.trace.workingScale, c.scale);
        if (c.scale == 1.0) {
            EXPECT_TRUE(SameResult(result, edgebin::Binarize(c.page)));
            continue;
        }
        cv::Mat shrunk;
        cv::resize(c.page, shrunk,
                   cv::Size(std::max(1L, std::lround(c.page.cols / c.scale)),
                            std::max(1L, std::lround(c.page.rows / c.scale))),
                   0.0, 0.0, cv::INTER_AREA);
        edgebin::Result expected = edgebin::Binarize(shrunk);
        ASSERT_EQ(result.status, expected.status);
        if (!expected.image.empty()) {
            cv::resize(expected.image, expected.image, c.page.size(), 0.0, 0.0, cv::INTER_NEAREST);
        }
        EXPECT_TRUE(SameResult(result, expected));
    }
}
