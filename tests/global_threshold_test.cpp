#include "global/global_threshold.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <string>

#include "stroke/stroke_map.h"
#include "support/test_support.h"

using namespace edgebin::detail;

namespace {

constexpr int kRows = 60;
constexpr int kCols = 40;

struct Description {
    std::vector<LineBand> lineBands;
    std::vector<int> bandStrokeWidths;
    std::vector<int> rowStrokeWidths;
};

// Full-width bands of the given widths tiling the kRows x kCols map, split after
// the given bottoms or, without them, evenly.
Description Tiled(const std::vector<int>& widths, std::vector<int> bottoms = {}) {
    const int n = static_cast<int>(widths.size());
    if (bottoms.empty()) {
        for (int i = 1; i < n; ++i) {
            bottoms.push_back(i * kRows / n - 1);
        }
    }
    Description d;
    for (int i = 0, top = 0; i < n; ++i) {
        const int bottom = i + 1 < n ? bottoms.at(i) : kRows - 1;
        d.lineBands.push_back(LineBand{0, top, kCols - 1, bottom});
        d.bandStrokeWidths.push_back(widths[i]);
        d.rowStrokeWidths.insert(d.rowStrokeWidths.end(), bottom - top + 1, widths[i]);
        top = bottom + 1;
    }
    return d;
}

struct Step {
    double ratio;
    Description description;
};

// Replays prepared measurements in order and remembers the maps it was given.
struct ScriptedMeasure {
    std::vector<Step> steps;
    std::vector<cv::Mat> maps;

    StrokeMeasure Bind() {
        return [this](const cv::Mat& map, std::vector<LineBand>& bands, std::vector<int>& bandW,
                      std::vector<int>& rowW, edgebin::StrokeMeasurement* report) {
            report->bandStrokeWidths.assign(1, static_cast<int>(maps.size()));
            const Step& step = steps.at(maps.size());
            maps.push_back(map.clone());
            bands = step.description.lineBands;
            bandW = step.description.bandStrokeWidths;
            rowW = step.description.rowStrokeWidths;
            return step.ratio;
        };
    }
};

cv::Mat SomeEdges() {
    cv::Mat mask = cv::Mat::zeros(kRows, kCols, CV_8UC1);
    cv::rectangle(mask, cv::Rect(5, 5, 20, 12), cv::Scalar(255), 2);
    cv::rectangle(mask, cv::Rect(8, 30, 24, 20), cv::Scalar(255), 3);
    mask(cv::Rect(34, 2, 2, 2)).setTo(255);
    return mask;
}

// `handsOver`: the last pass cleaned with the description returned, so its mask,
// as that description cleans it, is handed on; else none is.
Description Refine(const Description& start, ScriptedMeasure& script, bool handsOver) {
    Description d = start;
    std::vector<edgebin::StrokeMeasurement> passes;
    cv::Mat cleaned;
    RefineStrokeDescription(SomeEdges(), d.lineBands, d.bandStrokeWidths, d.rowStrokeWidths,
                            script.Bind(), passes, 1, &cleaned);
    cv::Mat expected = SomeEdges();
    CleanStrokeMap(expected, d.rowStrokeWidths, d.lineBands, d.bandStrokeWidths,
                   kDescriptionCleaningFactor);
    EXPECT_EQ(cleaned.empty(), !handsOver);
    if (handsOver) {
        EXPECT_EQ(cv::countNonZero(cleaned != expected), 0);
    }
    // One report per measurement, in order.
    EXPECT_EQ(passes.size(), script.maps.size());
    for (size_t i = 0; i < passes.size(); ++i) {
        EXPECT_EQ(passes[i].bandStrokeWidths, std::vector<int>{static_cast<int>(i)});
    }
    return d;
}

void ExpectSame(const Description& actual, const Description& expected) {
    EXPECT_EQ(actual.bandStrokeWidths, expected.bandStrokeWidths);
    EXPECT_EQ(actual.rowStrokeWidths, expected.rowStrokeWidths);
    ASSERT_EQ(actual.lineBands.size(), expected.lineBands.size());
    for (size_t i = 0; i < actual.lineBands.size(); ++i) {
        EXPECT_EQ(actual.lineBands[i].top, expected.lineBands[i].top) << i;
        EXPECT_EQ(actual.lineBands[i].bottom, expected.lineBands[i].bottom) << i;
    }
}

TEST(RefineStrokeDescriptionTest, KeepsTheAdoptedOrPreferredDescription) {
    Description partial = Tiled({5, 6});
    partial.lineBands.pop_back();
    partial.bandStrokeWidths.pop_back();
    struct Case {
        Description start;
        std::vector<Step> steps;  // all of them are measured
        Description expected;
        bool handsOver;
    };
    const std::vector<Case> cases = {
        // Repeated widths end the loop without adopting the repeat.
        {Tiled({4, 6}),
         {{0.5, Tiled({5, 7}, {29})}, {0.5, Tiled({5, 7}, {19})}},
         Tiled({5, 7}, {29}),
         true},
        // Alternation keeps the description with fewer bands, current or candidate,
        {Tiled({4, 6}), {{0.5, Tiled({5})}, {0.5, Tiled({4, 6})}}, Tiled({5}), true},
        {Tiled({5}), {{0.5, Tiled({4, 6})}, {0.5, Tiled({5})}}, Tiled({5}), false},
        // at equal length the larger sum of widths, and at equal sums the current.
        {Tiled({4, 6}), {{0.5, Tiled({5, 6})}, {0.5, Tiled({4, 6})}}, Tiled({5, 6}), true},
        {Tiled({5, 6}), {{0.5, Tiled({4, 6})}, {0.5, Tiled({5, 6})}}, Tiled({5, 6}), false},
        {Tiled({4, 6}), {{0.5, Tiled({6, 4})}, {0.5, Tiled({4, 6})}}, Tiled({6, 4}), true},
        // An empty or partial candidate keeps the current description.
        {Tiled({4}), {{0.5, Tiled({5})}, {0.0, Description{}}}, Tiled({5}), true},
        {Tiled({4}), {{0.5, partial}}, Tiled({4}), true}};
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        ScriptedMeasure script{cases[i].steps, {}};
        ExpectSame(Refine(cases[i].start, script, cases[i].handsOver), cases[i].expected);
        EXPECT_EQ(script.maps.size(), cases[i].steps.size());
    }

    ScriptedMeasure endless;
    for (int i = 0; i < 20; ++i) {
        endless.steps.push_back({0.5, Tiled({3 + i})});
    }
    ExpectSame(Refine(Tiled({2}), endless, false), Tiled({13}));
    EXPECT_EQ(endless.maps.size(), 11u);
}

cv::Mat Above(const cv::Mat& gradMap, int level) {
    cv::Mat mask;
    cv::threshold(gradMap, mask, level, 255, cv::THRESH_BINARY);
    return mask;
}

TEST(MeasureStrokeDescriptionTest, RetriesOnceAtHalfTheThreshold) {
    const cv::Mat gradMap = Filled(kRows, kCols, [](int y, int x) { return (x * 7 + y * 3) % 50; });
    struct Case {
        std::vector<Step> steps;
        int status;
        int reassigned;
        int maskLevel;  // of the mask left behind
    };
    // The first measurement keeps the mask; failing that, one retry at half the
    // threshold either succeeds or finds nothing either.
    const std::vector<Case> cases = {
        {{{0.3, Tiled({4})}}, 0, -1, 37},
        {{{1e-5, Tiled({4})}, {0.2, Tiled({6})}}, 0, 18, 18},
        {{{0.0, Description{}}, {1e-6, Description{}}}, edgebin::kStatusNoStrokes, -1, 18}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps.size());
        cv::Mat edgeMask = Above(gradMap, 37);
        ScriptedMeasure script{c.steps, {}};
        Description d;
        edgebin::Trace trace;
        const int status =
            MeasureStrokeDescription(gradMap, 37, edgeMask, d.lineBands, d.bandStrokeWidths,
                                     d.rowStrokeWidths, script.Bind(), trace);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(trace.reassignedThreshold, c.reassigned);
        EXPECT_EQ(trace.measurements.size(), c.steps.size());
        EXPECT_TRUE(SamePixels(Above(gradMap, c.maskLevel), edgeMask));
        ASSERT_EQ(script.maps.size(), c.steps.size());
        if (c.status == 0) {
            ExpectSame(d, c.steps.back().description);
            EXPECT_TRUE(SamePixels(edgeMask, script.maps.back()));
        }
    }
}

}  // namespace
