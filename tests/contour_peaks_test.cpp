#include "global/contour_peaks.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace edgebin::detail;

namespace {

ContourCurve Flat(double value = 0.0) {
    ContourCurve curve{};
    curve.fill(value);
    return curve;
}

void SetRange(ContourCurve& curve, int first, int last, double value) {
    for (int level = first; level <= last; ++level) {
        curve[level] = value;
    }
}

// Main peak 100 at level 60 falling straight to a floor of 1 with a dip to 0 at
// level 70, then a single-level peak of 50 at `secondLevel`.
ContourCurve TwoPeakCurve(int secondLevel) {
    ContourCurve curve = Flat();
    curve[60] = 100.0;
    SetRange(curve, 61, secondLevel - 1, 1.0);
    curve[70] = 0.0;
    curve[secondLevel] = 50.0;
    return curve;
}

// Convex curve (second difference 1 everywhere) with one sharp concave bend of
// second difference -100 at `bendLevel`. Each curvature entry sees the second
// differences of the seven levels around its own level, so exactly the seven
// entries whose level lies within 3 of the bend are positive.
ContourCurve ConvexCurveWithBend(int bendLevel) {
    ContourCurve curve{};
    curve[0] = 1000.0;
    curve[1] = 1000.0;
    for (int k = 1; k < 255; ++k) {
        const double secondDifference = k == bendLevel ? -100.0 : 1.0;
        curve[k + 1] = 2.0 * curve[k] - curve[k - 1] + secondDifference;
    }
    return curve;
}

struct PeakResult {
    bool hasSecond = true;
    int mainPeak = -1;
    int secondPeak = -1;
};

PeakResult Analyse(const ContourCurve& curve) {
    PeakResult result;
    FindCurvePeaks(curve, result.hasSecond, result.mainPeak, result.secondPeak);
    return result;
}

TEST(FindCurvePeaksTest, MaximumBelowLevelFiveIsNoPeak) {
    ContourCurve curve = Flat();
    curve[3] = 5.0;
    const PeakResult result = Analyse(curve);
    EXPECT_EQ(result.mainPeak, 0);
    EXPECT_FALSE(result.hasSecond);
    EXPECT_EQ(result.secondPeak, 0);
}

TEST(FindCurvePeaksTest, EqualHighestPeaksKeepTheLowerLevel) {
    ContourCurve curve = Flat();
    curve[30] = 10.0;
    curve[80] = 10.0;
    curve[120] = 9.0;
    EXPECT_EQ(Analyse(curve).mainPeak, 30);
}

TEST(FindCurvePeaksTest, SecondPeakMustLieMoreThanTwentyLevelsAway) {
    const PeakResult apart = Analyse(TwoPeakCurve(81));
    EXPECT_EQ(apart.mainPeak, 60);
    EXPECT_TRUE(apart.hasSecond);
    EXPECT_EQ(apart.secondPeak, 81);

    const PeakResult tooClose = Analyse(TwoPeakCurve(80));
    EXPECT_EQ(tooClose.mainPeak, 60);
    EXPECT_FALSE(tooClose.hasSecond);
    EXPECT_EQ(tooClose.secondPeak, 0);
}

TEST(FindCurvePeaksTest, SecondPeakLeftOfTheMainPeak) {
    // Mirror of the two-peak curve: main peak at 100, candidate 21 levels below.
    ContourCurve curve = Flat();
    curve[100] = 100.0;
    SetRange(curve, 80, 99, 1.0);
    curve[89] = 0.0;
    curve[79] = 50.0;
    const PeakResult result = Analyse(curve);
    EXPECT_EQ(result.mainPeak, 100);
    EXPECT_TRUE(result.hasSecond);
    EXPECT_EQ(result.secondPeak, 79);
}

TEST(FindCurvePeaksTest, PeakOnASlopeIsRejected) {
    // The ten levels right of the candidate average exactly 5 above it: accepted.
    ContourCurve level = TwoPeakCurve(81);
    level[82] = 1.0;
    SetRange(level, 83, 91, 61.0);
    const PeakResult accepted = Analyse(level);
    EXPECT_TRUE(accepted.hasSecond);
    EXPECT_EQ(accepted.secondPeak, 81);

    // One more unit makes the flank average 55.1, more than 5 above 50.
    ContourCurve slope = level;
    slope[82] = 2.0;
    const PeakResult rejected = Analyse(slope);
    EXPECT_FALSE(rejected.hasSecond);
    EXPECT_EQ(rejected.secondPeak, 0);
}

TEST(FindCurvePeaksTest, HighestCandidateWinsAndFirstWinsTies) {
    // Candidates at 81 (50) and 121 (70), both with a valley towards the main peak.
    ContourCurve curve = TwoPeakCurve(81);
    SetRange(curve, 82, 120, 1.0);
    curve[85] = 0.0;
    curve[121] = 70.0;
    EXPECT_EQ(Analyse(curve).secondPeak, 121);

    curve[121] = 50.0;
    EXPECT_EQ(Analyse(curve).secondPeak, 81);
}

TEST(FindCurvePeaksTest, CandidatesNeedRoomForTheirFlanks) {
    // Level 250's right flank would reach 260: never a candidate, whatever valley.
    ContourCurve curve = Flat();
    curve[200] = 100.0;
    SetRange(curve, 201, 249, 1.0);
    curve[215] = 0.0;
    curve[250] = 50.0;
    const PeakResult result = Analyse(curve);
    EXPECT_EQ(result.mainPeak, 200);
    EXPECT_FALSE(result.hasSecond);
}

TEST(IsValleyDeepTest, MainPeakTenthIsTruncated) {
    // trunc(59.9 / 10) = 5; 5 + 0 < 5.5, whereas 5.99 would not be.
    ContourCurve curve = Flat();
    curve[60] = 59.9;
    curve[81] = 5.5;
    EXPECT_TRUE(IsValleyDeep(curve, 60, 81));
    curve[81] = 5.0;
    EXPECT_FALSE(IsValleyDeep(curve, 60, 81));
}

TEST(IsValleyDeepTest, HalfHeightCrossingsAtLeastFifteenApart) {
    ContourCurve curve = Flat();
    SetRange(curve, 60, 65, 100.0);
    curve[81] = 50.0;
    EXPECT_TRUE(IsValleyDeep(curve, 60, 81));  // crossings at 65 and 80
    curve[66] = 100.0;
    EXPECT_FALSE(IsValleyDeep(curve, 60, 81));  // crossings at 66 and 80
}

TEST(IsValleyDeepTest, SeventyPercentOfTheWidthBelowHalfHeight) {
    // Width 20 between the crossings at 60 and 80; bumps above half height take
    // levels out of the 19 below it.
    for (const int bumps : {5, 6}) {
        ContourCurve curve = Flat();
        curve[60] = 100.0;
        curve[81] = 50.0;
        for (int i = 0; i < bumps; ++i) {
            curve[62 + 2 * i] = 30.0;
        }
        EXPECT_EQ(IsValleyDeep(curve, 60, 81), bumps == 5) << bumps << " bumps";
    }
}

struct ShoulderResult {
    bool hasSecond = true;
    int secondPeak = -1;
};

ShoulderResult Shoulder(const ContourCurve& curve, int mainPeak) {
    ShoulderResult result;
    FindShoulderPeak(curve, mainPeak, result.hasSecond, result.secondPeak);
    return result;
}

TEST(FindShoulderPeakTest, RunOfSevenNeedsFifteenNegativesBeforeAndThirtySixAfter) {
    // Main 135: 58 curvature entries; the bend at 157 makes entries 15..21 positive.
    const ShoulderResult found = Shoulder(ConvexCurveWithBend(157), 135);
    EXPECT_TRUE(found.hasSecond);
    EXPECT_EQ(found.secondPeak, 157);

    // Main 136: only 14 negative entries before the run.
    const ShoulderResult fewBefore = Shoulder(ConvexCurveWithBend(157), 136);
    EXPECT_FALSE(fewBefore.hasSecond);
    EXPECT_EQ(fewBefore.secondPeak, 0);

    // Main 136, bend 158: 15 before but only 35 after.
    const ShoulderResult fewAfter = Shoulder(ConvexCurveWithBend(158), 136);
    EXPECT_FALSE(fewAfter.hasSecond);
    EXPECT_EQ(fewAfter.secondPeak, 0);
}

TEST(FindShoulderPeakTest, NoCurvatureRightOfAHighMainPeak) {
    EXPECT_FALSE(Shoulder(ConvexCurveWithBend(197), 193).hasSecond);
    EXPECT_FALSE(Shoulder(ConvexCurveWithBend(200), 200).hasSecond);
}

TEST(FindShoulderPeakTest, CurveWithoutPeaksFallsBackToTheShoulder) {
    // The bent convex curve rises everywhere, so there is no peak at all.
    const PeakResult result = Analyse(ConvexCurveWithBend(120));
    EXPECT_EQ(result.mainPeak, 0);
    EXPECT_TRUE(result.hasSecond);
    EXPECT_EQ(result.secondPeak, 120);
}

}  // namespace
