#include "pipeline/self_check.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "support/test_support.h"

// Four lines of words on paper of 210, the upper two in `upperInk`, the lower in `lowerInk`.
cv::Mat WordsPage(double lowerInk, int thickness = 2, double upperInk = 40) {
    cv::Mat grey(200, 300, CV_8UC1, cv::Scalar(210));
    for (int line = 0; line < 4; ++line) {
        cv::putText(grey, "words of line " + std::to_string(line), cv::Point(10, 40 + 45 * line),
                    cv::FONT_HERSHEY_SIMPLEX, 0.9, cv::Scalar(line < 2 ? upperInk : lowerInk),
                    thickness, cv::LINE_AA);
    }
    return grey;
}

// Dark words on light paper and a threshold midway, a sound binarization, against
// results that each trip one reason.
TEST(CheckResultTest, NamesEachReasonToLookAtAPage) {
    const cv::Mat grey = WordsPage(40);
    const cv::Mat sound = grey >= 125;
    // Bold print over 15 % of the page, dark, or half of it as grey as show-through.
    const cv::Mat bold = WordsPage(40, 4);
    const cv::Mat boldGrey = WordsPage(135, 4);
    cv::Mat thinned(grey.size(), CV_8UC1, cv::Scalar(255));  // a sliver of one line kept
    sound.rowRange(24, 30).copyTo(thinned.rowRange(24, 30));
    cv::Mat shifted;  // as much ink, in the wrong places
    cv::hconcat(sound.colRange(150, 300), sound.colRange(0, 150), shifted);
    // The sound result under noise that leaves ink and paper barely apart, but no
    // more so in the whole than in each part.
    cv::Mat noisy(grey.size(), CV_16SC1);
    cv::RNG(3).fill(noisy, cv::RNG::NORMAL, 0, 60);
    cv::add(noisy, grey, noisy, cv::noArray(), CV_16SC1);
    noisy.convertTo(noisy, CV_8UC1);
    // The two lower lines fainter, and left out as the higher level leaves them.
    const cv::Mat twoInks = WordsPage(160);
    cv::Mat darkOnly = sound.clone();
    darkOnly.rowRange(100, 200).setTo(255);
    // Paper in a dark frame spreads its grey as a book's edge does.
    cv::Mat framed = grey.clone();
    cv::rectangle(framed, {0, 0, grey.cols, grey.rows}, cv::Scalar(30), 16);
    // A black frame around a margin of paper spreads the paper's grey over the whole
    // page; the result may leave the frame as paper, or take in a side as a gutter.
    cv::Mat margin, wideFrame, inWideFrame;
    cv::copyMakeBorder(grey, margin, 40, 40, 40, 40, cv::BORDER_CONSTANT, cv::Scalar(210));
    cv::copyMakeBorder(margin, wideFrame, 30, 30, 30, 30, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::copyMakeBorder(sound, inWideFrame, 70, 70, 70, 70, cv::BORDER_CONSTANT, cv::Scalar(255));
    cv::Mat sideTaken = inWideFrame.clone();
    sideTaken.colRange(0, 30).setTo(0);
    // Faint lines on even paper, which Otsu leaves out; dark lines with the other
    // side's lines showing through, mirrored and blurred.
    const cv::Mat faint = WordsPage(180);
    cv::Mat verso;
    cv::GaussianBlur(WordsPage(170, 4, 170), verso, {7, 7}, 0);
    cv::flip(verso, verso, 1);
    const cv::Mat showThrough = cv::min(WordsPage(210), verso);
    constexpr edgebin::Mend kNone = edgebin::Mend::kNone;
    // Main peak, second peak and the level taken.
    constexpr std::array<int, 3> atLower{20, 90, 20};
    constexpr std::array<int, 3> atHigher{20, 90, 90};
    const cv::Mat black = cv::Mat::zeros(grey.size(), CV_8UC1);
    const cv::Mat white(grey.size(), CV_8UC1, cv::Scalar(255));
    const struct {
        const char* name;
        cv::Mat grey;
        cv::Mat binary;
        edgebin::Mend mend;
        std::array<int, 3> levels;
        std::vector<std::string> reasons;
    } cases[] = {
        // clang-format off
        {"sound", grey, sound, kNone, atLower, {}},
        {"sound at the higher level", grey, sound, kNone, atHigher, {}},
        {"mended, ink clear of even paper", grey, sound, edgebin::Mend::kNoText, atLower, {}},
        {"mended, in a dark frame", framed, sound, edgebin::Mend::kNoText, atLower,
         {"the global level was mended"}},
        {"blank", grey, white, kNone, atLower, {"almost no ink"}},
        {"thinned", grey, thinned, kNone, atLower, {"far less ink than a global threshold finds"}},
        {"black", grey, black, kNone, atLower,
         {"far more ink than a global threshold finds", "ink and paper overlap in grey"}},
        {"shifted", grey, shifted, kNone, atLower,
         {"ink and paper overlap in grey", "ink and paper overlap in grey within small areas"}},
        {"sound, in a wide dark frame", wideFrame, inWideFrame, kNone, atLower, {}},
        {"a side of the wide frame taken in", wideFrame, sideTaken, kNone, atLower,
         {"ink and paper overlap in grey"}},
        {"noisy", noisy, sound, kNone, atLower,
         {"ink and paper overlap in grey within small areas"}},
        {"faint lines left out at the higher level", twoInks, darkOnly, kNone, atHigher,
         {"the higher global level left clear edges outside the ink"}},
        {"faint lines left out at the lower level", twoInks, darkOnly, kNone, atLower, {}},
        {"faint lines left out at a main peak above the second", twoInks, darkOnly, kNone,
         {90, 20, 90}, {}},
        {"bold dark print", bold, bold >= 125, kNone, atLower, {}},
        {"bold print, half as grey as show-through", boldGrey, boldGrey >= 175, kNone, atLower,
         {"much ink, not clearly apart from the paper in grey"}},
        {"faint lines taken in", faint, faint >= 200, kNone, atLower, {}},
        {"show-through taken in", showThrough, showThrough >= 195, kNone, atLower,
         {"much ink, not clearly apart from the paper in grey"}},
        // Faded writing that the mend kept: ink Otsu misses, grey near the paper's.
        {"black, kept as faint writing", grey, black, edgebin::Mend::kFaintWriting, atLower, {}},
        // clang-format on
    };
    for (const auto& c : cases) {
        edgebin::Trace trace;
        trace.mendedFrom = c.mend == edgebin::Mend::kNone ? -1 : 120;
        trace.mend = c.mend;
        trace.mainPeak = c.levels[0];
        trace.secondPeak = c.levels[1];
        trace.finalThreshold = c.levels[2];
        trace.bands = {{0, 199, 2}};
        edgebin::detail::CheckResult(c.grey, c.binary, trace);
        EXPECT_EQ(trace.suspectReasons, c.reasons) << c.name;
        EXPECT_EQ(trace.suspect, !c.reasons.empty()) << c.name;
    }
}

// The one-pass tile sums against each tile measured on its own.
TEST(LocalSeparationTest, MatchesTilesMeasuredOneByOne) {
    std::mt19937 rng(5);
    for (int trial = 0; trial < 20; ++trial) {
        // The first page is a strip wider than the chunks of 32768 pixels the tile sums take.
        const int rows = trial == 0 ? 3 : Uniform(rng, 1, 150);
        const int cols = trial == 0 ? 60000 : Uniform(rng, 1, 150);
        const int tileSize = trial == 0 ? 60000 : Uniform(rng, 5, 70);
        const cv::Mat grey = GeneratedPage(trial, cols, rows);
        const cv::Mat binary = RandomMask(rows, cols, 0.3, trial);
        double weighted = 0.0;
        double weight = 0.0;
        for (int y = 0; y < rows; y += tileSize) {
            for (int x = 0; x < cols; x += tileSize) {
                const cv::Rect tile(x, y, std::min(tileSize, cols - x),
                                    std::min(tileSize, rows - y));
                const cv::Mat ink = binary(tile) == 0;
                const int inkCount = cv::countNonZero(ink);
                if (inkCount < 20 || tile.area() - inkCount < 20) {
                    continue;
                }
                cv::Scalar inkMean, inkDeviation, paperMean, paperDeviation;
                cv::meanStdDev(grey(tile), inkMean, inkDeviation, ink);
                cv::meanStdDev(grey(tile), paperMean, paperDeviation, ~ink);
                weighted += inkCount * (paperMean[0] - inkMean[0]) /
                            std::hypot(inkDeviation[0], paperDeviation[0]);
                weight += inkCount;
            }
        }
        const double expected = weight > 0.0 ? weighted / weight : -1.0;
        EXPECT_NEAR(edgebin::detail::LocalSeparation(grey, binary, tileSize), expected, 1e-6)
            << "trial " << trial;
    }
}

// The row-by-row gradient against cv::Sobel, on pages down to one pixel wide.
TEST(MissedEdgeShareTest, MatchesTheShareMeasuredWithWholePageFilters) {
    std::mt19937 rng(9);
    for (int trial = 0; trial < 20; ++trial) {
        const int rows = Uniform(rng, 1, 300);
        const int cols = Uniform(rng, 1, 120);
        const int strokeWidth = Uniform(rng, 1, 6);
        // Scattered dark dots on flat paper: most gradients are 0, the dots' edges
        // clear, at the borders too.
        const cv::Mat grey = 200 - RandomMask(rows, cols, 0.04, trial) / 2;
        const cv::Mat binary = RandomMask(rows, cols, 0.5, trial + 100);
        cv::Mat dx, dy, magnitude;
        cv::Sobel(grey, dx, CV_32F, 1, 0);
        cv::Sobel(grey, dy, CV_32F, 0, 1);
        cv::magnitude(dx, dy, magnitude);
        std::vector<float> sorted;  // the noise level, from every fourth strip of 32 rows
        for (int y = 0; y < rows; y += y % 32 == 31 ? 97 : 1) {
            sorted.insert(sorted.end(), magnitude.ptr<float>(y), magnitude.ptr<float>(y) + cols);
        }
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const cv::Mat clear = magnitude > 8.0 * (sorted[sorted.size() / 2] + 1.0);
        const cv::Mat ink = binary == 0;
        cv::Mat inner, near;
        cv::erode(ink, inner, cv::Mat(), cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
        const int side = 2 * strokeWidth + 1;
        cv::dilate(ink & ~inner, near, cv::getStructuringElement(cv::MORPH_RECT, {side, side}));
        const int clearCount = cv::countNonZero(clear);
        const double expected =
            clearCount > 0 ? double(cv::countNonZero(clear & ~near)) / clearCount : 0.0;
        EXPECT_NEAR(edgebin::detail::MissedEdgeShare(grey, binary, strokeWidth), expected, 1e-3)
            << "trial " << trial;
    }
}

// Light falling off across the page makes every split overlap in grey, the sound
// one too; ink that follows the page still stands apart from ink put anywhere.
TEST(IsPlausibleInkTest, HoldsInkToTheSeparationThePageAllows) {
    const cv::Mat grey = WordsPage(40);
    const cv::Mat sound = grey >= 125;
    cv::Mat shifted;
    cv::hconcat(sound.colRange(150, 300), sound.colRange(0, 150), shifted);
    // Up to 200 grey levels darker from left to right: the sound result's separation
    // falls to about 1.5, Otsu's own split stays near 2.5.
    cv::Mat unlit = grey.clone();
    for (int x = 0; x < grey.cols; ++x) {
        cv::subtract(grey.col(x), 200.0 * x / (grey.cols - 1), unlit.col(x));
    }
    const struct {
        cv::Mat grey, binary;
        bool plausible;
    } cases[] = {{grey, sound, true}, {unlit, sound, true}, {unlit, shifted, false}};
    for (const auto& c : cases) {
        const double otsuInk = edgebin::detail::OtsuInkShare(c.grey);
        EXPECT_EQ(edgebin::detail::IsPlausibleInk(c.grey, c.binary, otsuInk, 2), c.plausible);
    }
}

TEST(HasTakenInSurroundTest, TellsBoldPrintInAWideDarkMarginFromANarrowOneOrSparseText) {
    const std::array<int, 3> cases[] = {{4, 200, true}, {4, 290, false}, {2, 288, false}};
    for (const auto& [thickness, marginLeft, taken] : cases) {
        cv::Mat grey = WordsPage(40, thickness);
        grey.colRange(marginLeft, grey.cols).setTo(60);
        EXPECT_EQ(edgebin::detail::HasTakenInSurround(grey, grey >= 125), taken != 0);
    }
}
