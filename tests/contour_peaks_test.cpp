#include "global/contour_peaks.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace edgebin::detail;

namespace {

// Curve from a starting curve and levels set in order.
ContourCurve With(ContourCurve curve, std::initializer_list<std::pair<int, double>> levels) {
    for (const auto& [level, value] : levels) {
        curve[level] = value;
    }
    return curve;
}

// Curve with levels first..last set to `value`.
ContourCurve Ranged(ContourCurve curve, int first, int last, double value) {
    for (int level = first; level <= last; ++level) {
        curve[level] = value;
    }
    return curve;
}

// Main peak 100 at level 60 falling straight to a floor of 1 with a dip to 0 at
// level 70, then a single-level peak of 50 at `secondLevel`.
ContourCurve TwoPeakCurve(int secondLevel) {
    return With(Ranged(ContourCurve{}, 61, secondLevel - 1, 1.0),
                {{60, 100.0}, {70, 0.0}, {secondLevel, 50.0}});
}

// Convex curve (second difference 1 everywhere) with one sharp concave bend of
// second difference -100 at `bendLevel`, straight (second difference 0) from
// `straightFrom` up to the bend. Each curvature entry sees the second
// differences of the seven levels around its own level, so exactly the seven
// entries whose level lies within 3 of the bend are positive, and entries on the
// straight stretch are 0.
ContourCurve ConvexCurveWithBend(int bendLevel, int straightFrom = 256) {
    ContourCurve curve{};
    curve[0] = 1000.0;
    curve[1] = 1000.0;
    for (int k = 1; k < 255; ++k) {
        const double secondDifference = k == bendLevel                       ? -100.0
                                        : k >= straightFrom && k < bendLevel ? 0.0
                                                                             : 1.0;
        curve[k + 1] = 2.0 * curve[k] - curve[k - 1] + secondDifference;
    }
    return curve;
}

TEST(FindCurvePeaksTest, MainPeakAndSecondPeakRules) {
    // Candidates at 81 (50) and 121, with a valley towards the main peak at 60.
    const ContourCurve twoCandidates = With(Ranged(TwoPeakCurve(81), 82, 120, 1.0), {{85, 0.0}});
    // The ten levels right of the candidate at 81 average exactly 5 above it.
    const ContourCurve flank = With(Ranged(TwoPeakCurve(81), 83, 91, 61.0), {{82, 1.0}});
    // Falling straight from the main peak to a candidate: no level lies below both
    // its neighbours, so there is no valley between them.
    ContourCurve noValley = With(ContourCurve{}, {{60, 100.0}, {81, 50.0}});
    for (int level = 61; level <= 80; ++level) {
        noValley[level] = 81 - level;
    }
    const struct {
        const char* name;
        ContourCurve curve;
        int mainPeak;
        bool hasSecond;
        int secondPeak;  // -1: not checked
    } cases[] = {
        {"maximum below level 5 is no peak", With(ContourCurve{}, {{3, 5.0}}), 0, false, 0},
        {"peaks from level 5 to 254 only", With(ContourCurve{}, {{4, 9.0}, {254, 5.0}}), 254, false,
         -1},
        {"equal highest peaks keep the lower level",
         With(ContourCurve{}, {{30, 10.0}, {80, 10.0}, {120, 9.0}}), 30, false, -1},
        {"second peak more than 20 levels away", TwoPeakCurve(81), 60, true, 81},
        {"second peak 20 levels away", TwoPeakCurve(80), 60, false, 0},
        {"no valley towards the main peak", noValley, 60, false, 0},
        {"second peak left of the main peak",
         With(Ranged(ContourCurve{}, 80, 99, 1.0), {{100, 100.0}, {89, 0.0}, {79, 50.0}}), 100,
         true, 79},
        {"flank exactly 5 above", flank, 60, true, 81},
        {"flank more than 5 above: a slope", With(flank, {{82, 2.0}}), 60, false, 0},
        {"highest candidate wins", With(twoCandidates, {{121, 70.0}}), 60, true, 121},
        {"first of equal candidates wins", With(twoCandidates, {{121, 50.0}}), 60, true, 81},
        // Valley at 89, then 56 x 8, 53, 49: levels 89..99 average exactly the
        // candidate's 50, so it does not rise above them.
        {"peak level with the mean from the valley",
         With(Ranged(Ranged(ContourCurve{}, 61, 88, 1.0), 90, 97, 56.0),
              {{60, 100.0}, {89, 0.0}, {98, 53.0}, {99, 49.0}, {100, 50.0}}),
         60, false, 0},
        // Level 250's right flank would reach 260: never a candidate.
        {"candidates need room for their flanks",
         With(Ranged(ContourCurve{}, 201, 249, 1.0), {{200, 100.0}, {215, 0.0}, {250, 50.0}}), 200,
         false, -1},
        // The bent convex curve rises everywhere: no peak, so the shoulder decides.
        {"no peak falls back to the shoulder", ConvexCurveWithBend(120), 0, true, 120},
    };
    for (const auto& c : cases) {
        bool hasSecond = !c.hasSecond;
        int mainPeak = -1;
        int secondPeak = -1;
        FindCurvePeaks(c.curve, hasSecond, mainPeak, secondPeak);
        EXPECT_EQ(mainPeak, c.mainPeak) << c.name;
        if (c.secondPeak >= 0) {
            EXPECT_EQ(hasSecond, c.hasSecond) << c.name;
            EXPECT_EQ(secondPeak, c.secondPeak) << c.name;
        }
    }
}

TEST(StrongestPeakAboveTest, SkipsTheLevelsBelowAndPeaksOnASlope) {
    // 400 up to level 5, a noise peak at 6 falling by 10 a level to 20 at 40, with a
    // wiggle at 20 on the way down, then a bump of 30 at 50 and a higher one of 35
    // at 200.
    ContourCurve noise = Ranged(Ranged(ContourCurve{}, 41, 254, 20.0), 1, 5, 400.0);
    for (int level = 6; level <= 40; ++level) {
        noise[level] = 20.0 + 10.0 * (40 - level);
    }
    noise = With(noise, {{20, 250.0}, {50, 30.0}, {200, 35.0}});
    const struct { int level, peak; } cases[] = {{6, 200}, {199, 200}, {200, 0}, {0, 200}};
    for (const auto& c : cases) {
        EXPECT_EQ(StrongestPeakAbove(noise, c.level), c.peak) << c.level;
    }
    EXPECT_EQ(StrongestPeakAbove(With(noise, {{200, 20.0}}), 6), 50);

    // A valley below three quarters of the lower end (22.5 for the bump at 50)
    // parts a peak from the noise.
    const ContourCurve raised = Ranged(noise, 40, 49, 25.0);
    const struct {
        ContourCurve curve;
        int level;
        bool rises;
    } rising[] = {{noise, 6, true},
                  {With(raised, {{45, 22.5}}), 50, true},
                  {noise, 1, false},
                  {With(raised, {{45, 22.4}}), 50, false},
                  {With(noise, {{1, 20.0}}), 6, true},
                  {With(noise, {{3, 269.9}}), 6, false}};
    for (const auto& c : rising) {
        EXPECT_EQ(RisesFromTheNoise(c.curve, c.level), c.rises) << c.level;
    }
}

TEST(StrongestPeakBelowTest, NeedsADeepValleyToTheLevel) {
    // TwoPeakCurve mirrored: a peak of 50 at 39 below a peak of 100 at 60.
    ContourCurve curve{};
    const ContourCurve twoPeaks = TwoPeakCurve(81);
    for (int level = 0; level <= 120; ++level) {
        curve[level] = twoPeaks[120 - level];
    }
    EXPECT_EQ(StrongestPeakBelow(curve, 60), 39);
    EXPECT_EQ(StrongestPeakBelow(curve, 39), 0);
    // A valley 6 levels wide is not deep enough.
    EXPECT_EQ(StrongestPeakBelow(Ranged(curve, 46, 59, 60.0), 60), 0);
}

TEST(IsValleyDeepTest, DepthWidthAndShareBelowHalfHeight) {
    // Main peak at 60, candidate at 81.
    const auto bumps = [](int count) {
        ContourCurve curve = With(ContourCurve{}, {{60, 100.0}, {81, 50.0}});
        for (int i = 0; i < count; ++i) {
            curve[62 + 2 * i] = 30.0;
        }
        return curve;
    };
    const struct {
        const char* name;
        ContourCurve curve;
        bool deep;
    } cases[] = {
        // trunc(59.9 / 10) = 5; 5 + 0 < 5.5, whereas 5.0 is not above it.
        {"tenth truncated", With(ContourCurve{}, {{60, 59.9}, {81, 5.5}}), true},
        {"tenth truncated, no room", With(ContourCurve{}, {{60, 59.9}, {81, 5.0}}), false},
        {"half-height crossings 15 apart",
         With(Ranged(ContourCurve{}, 60, 65, 100.0), {{81, 50.0}}), true},
        {"crossings 14 apart", With(Ranged(ContourCurve{}, 60, 66, 100.0), {{81, 50.0}}), false},
        // Width 20 between the crossings at 60 and 80: 70 % of it must be below.
        {"5 of 19 levels above half height", bumps(5), true},
        {"6 of 19 levels above half height", bumps(6), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValleyDeep(c.curve, 60, 81), c.deep) << c.name;
    }
}

TEST(FindShoulderPeakTest, RunOfSevenNeedsFifteenNegativesBeforeAndThirtySixAfter) {
    // Main 135: 58 curvature entries; the bend at 157 makes entries 15..21 positive.
    const struct {
        int bend, mainPeak;
        bool found;
        int straightFrom = 256;
    } cases[] = {
        {157, 135, true},       {157, 136, false},  // only 14 negative entries before the run
        {158, 136, false},                          // 15 before but only 35 after
        {197, 193, false},                          // no curvature right of a high main peak
        {200, 200, false},      {157, 100, true},
        {157, 100, false, 140},  // the run follows zeros, not a negative entry
    };
    for (const auto& c : cases) {
        bool hasSecond = !c.found;
        int secondPeak = -1;
        FindShoulderPeak(ConvexCurveWithBend(c.bend, c.straightFrom), c.mainPeak, hasSecond,
                         secondPeak);
        EXPECT_EQ(hasSecond, c.found) << c.bend << ", " << c.mainPeak;
        EXPECT_EQ(secondPeak, c.found ? c.bend : 0) << c.bend << ", " << c.mainPeak;
    }
}

}  // namespace
