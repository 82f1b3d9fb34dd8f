// Light ink is inverted before the binarization; auto tells it from the page.
#include <filesystem>
#include <sstream>
#include <vector>

#include "app/trace_report.h"
#include "edgebin/edgebin.hpp"
#include "support/test_support.h"
#include "tools/evaluation/page_generator.h"

namespace {

using edgebin::Polarity;

const char kFonts[] = "/usr/share/fonts/truetype/dejavu";
const char kMayBeNegative[] = "the page may be a negative";

edgebin::Result BinarizeAs(const cv::Mat& page, Polarity polarity) {
    edgebin::Parameters parameters;
    parameters.polarity = polarity;
    return edgebin::Binarize(page, parameters);
}

// Status, report lines, bands and self-check of a run, the polarity aside.
std::string Describe(edgebin::Result result) {
    result.trace.polarity = Polarity::kDarkInk;
    std::ostringstream text;
    text << result.status << "\n";
    edgebin::cli::PrintTrace(result, text);
    for (const edgebin::TextBand& band : result.trace.bands) {
        text << band.top << " " << band.bottom << " " << band.strokeWidth << "\n";
    }
    for (const std::string& reason : result.trace.suspectReasons) {
        text << reason << "\n";
    }
    return text.str();
}

cv::Mat ClassPage(PageClass pageClass, unsigned seed) {
    cv::Mat page;
    cv::Mat truth;
    std::string text;
    GenerateClassPage(PageOptions{seed, 600, 300, 0.6}, pageClass, kFonts, page, truth, text);
    return page;
}

}  // namespace

// A positive page, dark-ink, is the yardstick: its negative gives exactly its run
// under light-ink and under auto, auto leaves the positive as it is, and the two
// measure opposite evidence. The photograph and the dark surround of a book are
// positives made to tempt the detector.
TEST(PolarityTest, NegativesGiveExactlyTheirPositivesRun) {
    if (!std::filesystem::exists(std::string(kFonts) + "/DejaVuSans.ttf")) {
        GTEST_SKIP() << "no DejaVu fonts in " << kFonts << " (fonts-dejavu-core)";
    }
    const std::pair<const char*, cv::Mat> pages[] = {
        {"plain", GeneratedPage(4, 400, 300, 0.5)},
        {"photo", ClassPage(PageClass::kPhoto, 2)},
        {"book edge", ClassPage(PageClass::kBookEdge, 1)},
    };
    for (const auto& [name, page] : pages) {
        SCOPED_TRACE(name);
        const edgebin::Result positive = BinarizeAs(page, Polarity::kDarkInk);
        ASSERT_EQ(positive.status, edgebin::kStatusOk);
        EXPECT_FALSE(positive.trace.polarityEvidence.has_value());
        const cv::Mat negative = 255 - page;
        const struct {
            const cv::Mat& page;
            Polarity asked;
            Polarity used;
        } runs[] = {{negative, Polarity::kLightInk, Polarity::kLightInk},
                    {page, Polarity::kAuto, Polarity::kDarkInk},
                    {negative, Polarity::kAuto, Polarity::kLightInk}};
        std::vector<double> evidence;
        for (const auto& run : runs) {
            const edgebin::Result result = BinarizeAs(run.page, run.asked);
            EXPECT_EQ(result.trace.polarity, run.used);
            EXPECT_EQ(Describe(result), Describe(positive));
            EXPECT_TRUE(SamePixels(result.image, positive.image));
            evidence.push_back(result.trace.polarityEvidence.value_or(0.0));
        }
        EXPECT_EQ(evidence[2], -evidence[1]);
        EXPECT_GT(evidence[1], 0.0);
    }
}

// Half a page negative: auto cannot tell, keeps the page as dark-ink gives it and
// makes it suspect; dark-ink, asked for, raises no such doubt.
TEST(PolarityTest, AnUnsurePageIsKeptAndSuspect) {
    cv::Mat page = GeneratedPage(5, 400, 300, 0.5);
    cv::Mat right = page.colRange(200, 400);
    right = 255 - right;
    edgebin::Result unsure = BinarizeAs(page, Polarity::kAuto);
    const edgebin::Result given = BinarizeAs(page, Polarity::kDarkInk);
    ASSERT_EQ(unsure.status, edgebin::kStatusOk);
    EXPECT_EQ(unsure.trace.polarity, Polarity::kDarkInk);
    EXPECT_TRUE(unsure.trace.suspect);
    EXPECT_TRUE(SamePixels(unsure.image, given.image));
    ASSERT_FALSE(unsure.trace.suspectReasons.empty());
    EXPECT_EQ(unsure.trace.suspectReasons.back(), kMayBeNegative);
    unsure.trace.suspectReasons.pop_back();
    EXPECT_EQ(unsure.trace.suspectReasons, given.trace.suspectReasons);
}

// A two-level page is copied; only light-ink, asked for, inverts the copy.
TEST(PolarityTest, TwoLevelPagesAreInvertedOnlyWhenAskedTo) {
    cv::Mat page(40, 60, CV_8UC1, cv::Scalar(30));
    page(cv::Rect(10, 10, 30, 4)).setTo(220);
    const struct {
        Polarity asked;
        cv::Mat expected;
    } cases[] = {
        {Polarity::kAuto, page}, {Polarity::kDarkInk, page}, {Polarity::kLightInk, 255 - page}};
    for (const auto& c : cases) {
        const edgebin::Result result = BinarizeAs(page, c.asked);
        EXPECT_TRUE(result.trace.copiedInput);
        EXPECT_EQ(result.trace.polarity == Polarity::kLightInk, c.asked == Polarity::kLightInk);
        EXPECT_TRUE(SamePixels(result.image, c.expected));
    }
}
