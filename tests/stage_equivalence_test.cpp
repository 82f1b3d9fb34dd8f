// The fast stage implementations against the straightforward ones of
// tests/oracle, bit for bit, on many random inputs and on inputs built to sit on
// the edges the fast paths have to get right.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "common/direction_maps.h"
#include "common/labelling.h"
#include "global/enhance.h"
#include "local/local_threshold.h"
#include "local/refine_edge_mask.h"
#include "oracle/oracle.h"
#include "stroke/edge_gaps.h"
#include "stroke/stroke_map.h"
#include "stroke/window_filters.h"
#include "support/test_support.h"
#include "tools/evaluation/page_generator.h"

using namespace edgebin::detail;

namespace {

// ---- local threshold voting ---------------------------------------------------------

struct VotingInput {
    cv::Mat gray;
    cv::Mat voters;
    cv::Mat restored;
    std::vector<int> widths;
    double alpha = 2.0;
    double k = 0.6;
};

// Noise over the whole range, two neighbouring levels (many means on a half), a
// few levels, or a ramp with a little noise.
cv::Mat RandomGray(std::mt19937& rng, int rows, int cols) {
    const int style = Uniform(rng, 0, 3);
    const int base = Uniform(rng, 0, 255);
    return Filled(rows, cols, [&](int y, int x) {
        return style == 0   ? Uniform(rng, 0, 255)
               : style == 1 ? base + Uniform(rng, 0, 1)
               : style == 2 ? Pick(rng, std::vector<int>{0, 40, 41, 128, 200, 255})
                            : (x * 7 + y * 3) % 256 + Uniform(rng, -2, 2);
    });
}

cv::Mat RandomVoters(std::mt19937& rng, int rows, int cols, double density) {
    std::bernoulli_distribution on(density);
    const int value = Pick(rng, std::vector<int>{1, 255, 7});
    return Filled(rows, cols, [&](int, int) { return on(rng) ? value : 0; });
}

VotingInput RandomVotingInput(std::mt19937& rng) {
    VotingInput input;
    const int rows = Pick(rng, std::vector<int>{1, 2, 3, 9, 49, 50, 51, Uniform(rng, 1, 70)});
    const int cols = Pick(rng, std::vector<int>{1, 3, 8, 15, 16, 17, 64, Uniform(rng, 1, 90)});
    input.gray = RandomGray(rng, rows, cols);
    input.voters =
        RandomVoters(rng, rows, cols, Pick(rng, std::vector<double>{0.0, 0.03, 0.15, 0.4, 1.0}));
    input.restored =
        RandomVoters(rng, rows, cols, Pick(rng, std::vector<double>{0.0, 0.0, 0.2, 0.6}));
    const int widthStyle = Uniform(rng, 0, 2);
    const int constant = Uniform(rng, 0, 7);
    for (int y = 0; y < rows; ++y) {
        input.widths.push_back(widthStyle == 0   ? constant
                               : widthStyle == 1 ? Uniform(rng, 0, 9)
                                                 : 2 + (y / 11) % 4);
    }
    if (Uniform(rng, 0, 30) == 0) {
        input.widths.pop_back();  // not one width per row: refused
    }
    input.alpha = Pick(rng, std::vector<double>{2.0, 2.0, 1.5, 0.5, 1.0, 3.0, 0.0, -1.0, 7.3,
                                                std::uniform_real_distribution<double>(0, 4)(rng)});
    input.k = Pick(rng, std::vector<double>{0.6, 0.6, 0.0, -0.4, 0.2, 1.0, 1e6, -1e6,
                                            std::uniform_real_distribution<double>(-2, 2)(rng)});
    return input;
}

::testing::AssertionResult VotesMatch(const VotingInput& in) {
    cv::Mat expected;
    reference::VoteLocalThreshold(in.voters, in.gray, in.restored, in.widths, expected, in.alpha,
                                  in.k);
    // On one to three threads, by the page's height: bands cut through windows. The
    // result and, on every other page, the counts are written over old values, as
    // the driver lends them memory.
    cv::Mat actual(in.gray.size(), CV_8UC1, cv::Scalar(7));
    cv::Mat lent(in.gray.size(), CV_16S, cv::Scalar(-7));
    VoteLocalThreshold(in.voters, in.gray, in.restored, in.widths, actual, in.alpha, in.k, nullptr,
                       1 + in.gray.rows % 3, in.gray.cols % 2 == 0 ? &lent : nullptr);
    return SamePixels(expected, actual)
           << cv::format(" (%dx%d, alpha %g, k %g)", in.gray.rows, in.gray.cols, in.alpha, in.k);
}

// k for which the two-pass threshold of the voter at (y, x) lands exactly on a
// half, or 0 when no double k gets it there.
double KOnAHalf(const VotingInput& input, int y, int x, int offset) {
    cv::Mat means;
    cv::Mat deviations;
    reference::MaskedWindowStats(input.voters, input.gray, input.widths, means, deviations,
                                 input.alpha);
    const double mean = means.at<double>(y, x);
    const double deviation = deviations.at<double>(y, x);
    const double target = std::floor(mean) + offset + 0.5;
    double k = (target - mean) / deviation;
    for (int step = 0; step < 8 && deviation != 0.0; ++step) {
        const double value = deviation * k + mean;
        if (value == target) {
            return k;
        }
        k = std::nextafter(k, value < target ? 1e300 : -1e300);
    }
    return 0.0;
}

// ---- stroke descriptions and edge maps ----------------------------------------------

struct Description {
    std::vector<LineBand> bands;
    std::vector<int> bandWidths;
    std::vector<int> rowWidths;
};

// Full-width bands tiling the rows, each with a width of at least 1; row widths
// are the band's or, now and then, something else.
Description RandomDescription(std::mt19937& rng, int rows, int cols) {
    Description d;
    for (int top = 0; top < rows;) {
        const int height = std::min(rows - top, Pick(rng, std::vector<int>{1, 3, 12, 40, 200}));
        d.bands.push_back(LineBand{0, top, cols - 1, top + height - 1});
        d.bandWidths.push_back(Pick(rng, std::vector<int>{1, 2, 3, 5, 9, Uniform(rng, 1, 30)}));
        for (int y = top; y < top + height; ++y) {
            d.rowWidths.push_back(Uniform(rng, 0, 5) == 0 ? Uniform(rng, 0, 12)
                                                          : d.bandWidths.back());
        }
        top += height;
    }
    if (Uniform(rng, 0, 5) == 0) {
        // One flaw that makes the description incomplete: the stages must refuse it
        // exactly as the oracle does.
        LineBand& band = d.bands[Uniform(rng, 0, static_cast<int>(d.bands.size()) - 1)];
        const std::function<void()> flaws[] = {
            [&] { d.rowWidths.pop_back(); },
            [&] { d.rowWidths.push_back(2); },
            [&] { d.bandWidths.push_back(2); },
            [&] { band.left = 1; },
            [&] { band.right -= 1; },
            [&] { band.bottom -= 1; },  // a gap below, or the last rows left out
            [&] { band.top -= 1; },     // an overlap, or a first band starting above the page
            [&] { std::swap(d.bands.front(), d.bands.back()); },
            [&] { d.bandWidths[static_cast<size_t>(&band - d.bands.data())] = 0; }};
        flaws[Uniform(rng, 0, 8)]();
    }
    return d;
}

// Edge-like maps: random specks, short strokes, or dense noise; 0/255 or 0/1.
cv::Mat RandomEdgeMap(std::mt19937& rng, int rows, int cols) {
    cv::Mat map = RandomVoters(rng, rows, cols, Pick(rng, std::vector<double>{0.02, 0.1, 0.5}));
    for (int i = Uniform(rng, 0, 1 + rows * cols / 200); i > 0; --i) {
        const int y = Uniform(rng, 0, rows - 1);
        const int x = Uniform(rng, 0, cols - 1);
        const int length = Uniform(rng, 1, 30);
        const bool across = Uniform(rng, 0, 1) == 0;
        for (int t = 0; t < length; ++t) {
            map.at<unsigned char>(across ? y : std::min(rows - 1, y + t),
                                  across ? std::min(cols - 1, x + t) : x) = 255;
        }
    }
    return map;
}

int RandomSide(std::mt19937& rng) {
    return Pick(rng, std::vector<int>{1, 2, 3, 5, 17, 49, 50, 64, 120, Uniform(rng, 1, 150)});
}

std::vector<std::array<int, 8>> Fields(const std::vector<ComponentRecord>& records) {
    std::vector<std::array<int, 8>> fields;
    for (const ComponentRecord& r : records) {
        fields.push_back({r.xMin, r.xMax, r.yMin, r.yMax, r.label, r.pixelCount, r.flag, r.spare});
    }
    return fields;
}

// Direction maps of an edge map from gradients that are mostly one direction in
// some areas and mixed in others.
std::vector<cv::Mat> RandomDirectionMaps(std::mt19937& rng, const cv::Mat& edges) {
    cv::Mat gradX(edges.size(), CV_16SC1);
    cv::Mat gradY(edges.size(), CV_16SC1);
    const int split = Uniform(rng, 0, edges.cols);
    // Or stripes each of one direction: dominated up close, mixed from afar.
    const int stripe = Uniform(rng, 0, 1) == 0 ? 0 : Uniform(rng, 2, 12);
    std::vector<cv::Point> stripeGradients;
    for (int i = 0; i <= edges.cols; ++i) {
        stripeGradients.emplace_back(Uniform(rng, -40, 40), Uniform(rng, -40, 40));
    }
    for (int y = 0; y < edges.rows; ++y) {
        for (int x = 0; x < edges.cols; ++x) {
            const bool oneWay = x < split;
            const int gx = oneWay ? 30 : Uniform(rng, -40, 40);
            const int gy = Uniform(rng, -40, 40) / (oneWay ? 8 : 1);
            const cv::Point& striped = stripeGradients[x / std::max(stripe, 1)];
            gradX.at<short>(y, x) = static_cast<short>(stripe > 0 ? striped.x : gx);
            gradY.at<short>(y, x) = static_cast<short>(stripe > 0 ? striped.y : gy);
        }
    }
    std::vector<cv::Mat> dirMaps;
    BuildDirectionMaps(gradX, gradY, edges, dirMaps);
    return dirMaps;
}

struct RefineOutcome {
    cv::Mat edges;
    cv::Mat restored;
    bool threw = false;
};

template <typename Refine>
RefineOutcome RunRefine(const Refine& refine, const cv::Mat& edges,
                        const std::vector<cv::Mat>& dirMaps, const Description& d, int mode,
                        double nearScale, double ratio) {
    RefineOutcome outcome{edges.clone(), cv::Mat(), false};
    std::vector<cv::Mat> maps;
    for (const cv::Mat& map : dirMaps) {
        maps.push_back(map.clone());
    }
    try {
        refine(outcome.edges, outcome.restored, maps, d.bands, d.bandWidths, d.rowWidths, mode,
               nearScale, ratio);
    } catch (const cv::Exception&) {
        outcome.threw = true;
    }
    return outcome;
}

// ---- page enhancement ---------------------------------------------------------------

// Pages from RandomGray, and pages where little passes the ink test (weight 0 makes
// the dark ground around bright dots ink; a brightening ramp puts most pixels below
// their window mean; dark blobs wider than the window), so that larger windows and
// the fallback decide the paper level.
cv::Mat RandomEnhanceInput(std::mt19937& rng, int rows, int cols) {
    const int style = Uniform(rng, 0, 3);
    if (style == 0) {
        return RandomGray(rng, rows, cols);
    }
    const int denseStep = Uniform(rng, 2, 4);
    const int sparseStep = Uniform(rng, 4, 9);
    const int split = Uniform(rng, 0, cols);
    cv::Mat page = Filled(rows, cols, [&](int y, int x) {
        const int step = x < split ? denseStep : sparseStep;
        const bool dot = x % step == 0 && y % step == 0;
        return style == 1   ? (dot ? Uniform(rng, 150, 255) : Uniform(rng, 0, 9))
               : style == 2 ? (x * x + y * y) * 255 / std::max(1, cols * cols + rows * rows)
                            : Uniform(rng, 190, 230);
    });
    for (int blob = style == 3 ? Uniform(rng, 1, 4) : 0; blob > 0; --blob) {
        const cv::Point centre(Uniform(rng, 0, cols - 1), Uniform(rng, 0, rows - 1));
        cv::circle(page, centre, Uniform(rng, 1, std::max(rows, cols)),
                   cv::Scalar(Uniform(rng, 0, 40)), cv::FILLED);
    }
    return page;
}

// The fast and the straightforward enhancement give the same page and paper level.
::testing::AssertionResult EnhancementsMatch(const cv::Mat& page, int window, double weight) {
    cv::Mat expected;
    cv::Mat expectedPaper;
    cv::Mat actual;
    cv::Mat actualPaper;
    reference::EnhancePage(page, window, weight, expected, expectedPaper);
    EnhancePage(page, window, weight, actual, actualPaper, 1 + page.rows % 3);
    ::testing::AssertionResult same = SamePixels(expected, actual);
    if (same) {
        same = SamePixels(expectedPaper, actualPaper) << " in the paper level";
    }
    return same << cv::format(" (%dx%d, window %d, weight %g)", page.rows, page.cols, window,
                              weight);
}

}  // namespace

TEST(VoteLocalThresholdEquivalence, MatchesTheTwoPassVersionOnRandomPages) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 400; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const VotingInput in = RandomVotingInput(rng);
        ASSERT_TRUE(VotesMatch(in));
        cv::Mat expectedMeans, expectedDeviations, means, deviations;
        reference::MaskedWindowStats(in.voters, in.gray, in.widths, expectedMeans,
                                     expectedDeviations, in.alpha);
        MaskedWindowStats(in.voters, in.gray, in.widths, means, deviations, in.alpha);
        ASSERT_TRUE(SamePixels(expectedMeans, means));
        ASSERT_TRUE(SamePixels(expectedDeviations, deviations));
    }
}

TEST(VoteLocalThresholdEquivalence, MatchesWhereTheThresholdSitsOnAHalf) {
    // Random pages with k chosen so that one voter's two-pass threshold is exactly
    // a half, where any last-bit difference of a fast deviation would show.
    std::mt19937 rng(77);
    int onAHalf = 0;
    for (int trial = 0; trial < 600 && onAHalf < 300; ++trial) {
        VotingInput input = RandomVotingInput(rng);
        std::vector<cv::Point> voters;
        cv::findNonZero(input.voters, voters);
        if (voters.empty()) {
            continue;
        }
        const cv::Point voter =
            voters[static_cast<size_t>(Uniform(rng, 0, 1 << 20)) % voters.size()];
        input.k = KOnAHalf(input, voter.y, voter.x, Uniform(rng, -2, 2));
        if (input.k != 0.0) {
            ++onAHalf;
            ASSERT_TRUE(VotesMatch(input)) << "trial " << trial;
        }
    }
    EXPECT_GE(onAHalf, 100);
}

TEST(VoteLocalThresholdEquivalence, MatchesWhereWindowSumsOutgrowThirtyTwoBits) {
    // Eight voters in the middle row see the whole page of voters near white, whose
    // square sum needs 64 bits; with a large k they outvote every other voter, whose
    // window is its own pixel (and keeps the two-pass version quick).
    std::mt19937 rng(5);
    VotingInput input{Filled(260, 260, [&](int, int) { return Uniform(rng, 254, 255); }),
                      cv::Mat(260, 260, CV_8UC1, cv::Scalar(1)),
                      cv::Mat::zeros(260, 260, CV_8UC1),
                      std::vector<int>(260, 0),
                      2.0,
                      100.0};
    input.voters.row(130).setTo(0);
    input.voters(cv::Rect(126, 130, 8, 1)).setTo(1);
    input.widths[130] = 130;
    EXPECT_TRUE(VotesMatch(input));
    // A row of 300 voters whose wide windows span it: more segments reach a block
    // of columns than a byte counts.
    VotingInput wide{RandomGray(rng, 10, 300), cv::Mat(10, 300, CV_8UC1, cv::Scalar(255)),
                     cv::Mat(10, 300, CV_8UC1, cv::Scalar(255)), std::vector<int>(10, 9), 20.0};
    EXPECT_TRUE(VotesMatch(wide));
}

TEST(WindowFilterEquivalence, MatchTheBoxFilterVersions) {
    std::mt19937 rng(32);
    int changed = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int rows = RandomSide(rng);
        const int cols = RandomSide(rng);
        SCOPED_TRACE(cv::format("trial %d: %dx%d", trial, rows, cols));
        const Description d = RandomDescription(rng, rows, cols);
        cv::Mat map = RandomEdgeMap(rng, rows, cols);
        if (trial % 2 == 0) {
            // Edges on a few scattered rows only: every window range is then
            // needed by a single row.
            for (int y = 0; y < rows; ++y) {
                if (Uniform(rng, 0, 9) != 0) {
                    map.row(y).setTo(0);
                }
            }
        }
        const double windowFactor = Pick(rng, std::vector<double>{6.0, 10.0, 0.4, 2.5, 100.0});
        const double countFactor = Pick(rng, std::vector<double>{6.0, 10.0, 0.0, 1.5, 40.0});
        const int minVotes = Pick(rng, std::vector<int>{4, 4, 0, 1, 3, 5, 6});
        cv::Mat expected = map.clone();
        cv::Mat actual = map.clone();
        reference::DensityFilter(expected, d.rowWidths, d.bands, d.bandWidths, windowFactor,
                                 countFactor);
        // Bands of text split over up to three threads must change nothing.
        const int threads = 1 + trial % 3;
        DensityFilter(actual, d.rowWidths, d.bands, d.bandWidths, windowFactor, countFactor,
                      threads);
        ASSERT_TRUE(SamePixels(expected, actual)) << "density";
        changed += cv::countNonZero(expected) != cv::countNonZero(map) ? 1 : 0;
        expected = map.clone();
        actual = map.clone();
        reference::CornerVoteFilter(expected, d.rowWidths, d.bands, d.bandWidths, minVotes,
                                    windowFactor, countFactor);
        CornerVoteFilter(actual, d.rowWidths, d.bands, d.bandWidths, minVotes, windowFactor,
                         countFactor, threads);
        ASSERT_TRUE(SamePixels(expected, actual)) << "corner vote";
        changed += cv::countNonZero(expected) != cv::countNonZero(map) ? 1 : 0;
        expected = map.clone();
        actual = map.clone();
        reference::DensityFilter(expected, d.rowWidths, d.bands, d.bandWidths, windowFactor,
                                 countFactor);
        reference::CornerVoteFilter(expected, d.rowWidths, d.bands, d.bandWidths, minVotes,
                                    windowFactor, countFactor);
        DensityThenCornerVote(actual, d.rowWidths, d.bands, d.bandWidths,
                              {windowFactor, countFactor}, {minVotes, windowFactor, countFactor},
                              threads);
        ASSERT_TRUE(SamePixels(expected, actual)) << "density then corner vote";
    }
    EXPECT_GT(changed, 100);  // the filters must actually remove pixels in many trials
}

TEST(WindowFilterEquivalence, CornerVoteMatchesWithWindowsAsLargeAsThePage) {
    // A 2400-pixel window over a 2400 x 2400 map: too large to keep one prefix per
    // window start, so the three ranges are summed side by side.
    std::mt19937 rng(34);
    const int side = 2400;
    const cv::Mat map = RandomVoters(rng, side, side, 0.002);
    const Description d{{LineBand{0, 0, side - 1, side - 1}}, {30}, std::vector<int>(side, 30)};
    cv::Mat expected = map.clone();
    cv::Mat actual = map.clone();
    reference::CornerVoteFilter(expected, d.rowWidths, d.bands, d.bandWidths, 3, 100.0, 382.0);
    CornerVoteFilter(actual, d.rowWidths, d.bands, d.bandWidths, 3, 100.0, 382.0);
    EXPECT_TRUE(SamePixels(expected, actual));
    EXPECT_GT(cv::countNonZero(expected), 0);
    EXPECT_LT(cv::countNonZero(expected), cv::countNonZero(map));
}

TEST(MaskComponentsEquivalence, RecordsMatchTheContourTracingLabeller) {
    std::mt19937 rng(41);
    for (int trial = 0; trial < 400; ++trial) {
        const int rows = Pick(rng, std::vector<int>{1, 2, 3, 7, 63, 64, 65, Uniform(rng, 1, 150)});
        const int cols = Pick(rng, std::vector<int>{1, 2, 3, 15, 16, 17, 63, 64, 65, 127, 128, 129,
                                                    Uniform(rng, 1, 300)});
        SCOPED_TRACE(cv::format("trial %d: %dx%d", trial, rows, cols));
        // Now and then a view into a larger mask, which must read only its pixels.
        const int margin = Uniform(rng, 0, 3) == 0 ? 2 : 0;
        cv::Mat mask = Uniform(rng, 0, 1) == 0
                           ? RandomEdgeMap(rng, rows + margin, cols + margin)
                           : RandomVoters(rng, rows + margin, cols + margin,
                                          Pick(rng, std::vector<double>{0.3, 0.5, 0.7, 0.95}));
        mask = mask(cv::Rect(margin / 2, margin / 2, cols, rows));
        std::vector<ComponentRecord> expected;
        std::vector<ComponentRecord> actual(2);  // stale records are replaced
        ASSERT_EQ(reference::FindMaskComponents(mask, expected), FindMaskComponents(mask, actual));
        ASSERT_EQ(Fields(expected), Fields(actual));
        // In bands of rows, some of them one row high.
        FindMaskComponents(mask, actual, Uniform(rng, 2, 5));
        ASSERT_EQ(Fields(expected), Fields(actual)) << "in bands";
    }
    std::vector<ComponentRecord> records(3);
    EXPECT_EQ(FindMaskComponents(cv::Mat::zeros(5, 70, CV_8UC1), records), 0);
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(FindMaskComponents(cv::Mat(0, 0, CV_8UC1), records), 0);
}

TEST(RefineEdgeMaskEquivalence, MatchesTheCountMapVersion) {
    std::mt19937 rng(51);
    int suppressed = 0;
    int restored = 0;
    int countMapRoute = 0;
    for (int trial = 0; trial < 320; ++trial) {
        const int rows = RandomSide(rng);
        const int cols = RandomSide(rng);
        Description d = RandomDescription(rng, rows, cols);
        // Direction maps holding values above 1 take the count-map route: all of
        // them doubled (the same decisions in other numbers), or one tripled.
        const int route = Uniform(rng, 0, 5);
        if (route < 2 || Uniform(rng, 0, 1) == 0) {
            // Thin strokes: windows small against the page and the stripes.
            for (int& width : d.bandWidths) {
                width = Uniform(rng, 1, 2);
            }
        }
        cv::Mat edges = RandomEdgeMap(rng, rows, cols);
        if (route < 2) {
            edges |= RandomVoters(rng, rows, cols, 0.5);  // dense enough to outlive the cleaning
        }
        std::vector<cv::Mat> dirMaps = RandomDirectionMaps(rng, edges);
        if (route == 0) {
            for (cv::Mat& map : dirMaps) {
                map *= 2;
            }
        } else if (route == 1) {
            dirMaps[Uniform(rng, 0, 8)] *= 3;
        }
        const int mode = Pick(rng, std::vector<int>{2, 2, 2, 2, 1, 0, 3});
        const double nearScale = Pick(rng, std::vector<double>{6.0, 6.0, 3.0, 1.0, 0.3, 40.0});
        const double ratio = Pick(rng, std::vector<double>{0.75, 0.75, 0.5, 0.6, 1.0});
        SCOPED_TRACE(
            cv::format("trial %d: %dx%d mode %d scale %g", trial, rows, cols, mode, nearScale));
        const RefineOutcome expected =
            RunRefine(reference::RefineEdgeMask, edges, dirMaps, d, mode, nearScale, ratio);
        // Every other trial the driver's route: the maps as a list, on two or three threads.
        const int threads = 2 + trial % 4 / 2;
        const RefineOutcome actual = RunRefine(
            [trial, threads](cv::Mat& e, cv::Mat& r, std::vector<cv::Mat>& maps,
                             const std::vector<LineBand>& bands, const std::vector<int>& bandWidths,
                             const std::vector<int>& rowWidths, int m, double s, double q) {
                if (trial % 2 == 0) {
                    ::RefineEdgeMask(e, r, maps, bands, bandWidths, rowWidths, m, s, q);
                    return;
                }
                DirectionList directions;
                std::array<const cv::Mat*, 9> pointers;
                for (size_t j = 0; j < pointers.size(); ++j) {
                    pointers[j] = &maps[j];
                }
                directions.Collect(pointers);
                ::RefineEdgeMask(e, r, directions, bands, bandWidths, rowWidths, m, s, q, threads);
            },
            edges, dirMaps, d, mode, nearScale, ratio);
        ASSERT_EQ(expected.threw, actual.threw);
        ASSERT_TRUE(SamePixels(expected.edges, actual.edges));
        ASSERT_TRUE(SamePixels(expected.restored, actual.restored));
        if (!expected.threw && mode >= 2) {
            cv::Mat cleaned = edges.clone();
            CleanStrokeMap(cleaned, d.rowWidths, d.bands, d.bandWidths, 0.6);
            const bool removed = cv::countNonZero(expected.edges) < cv::countNonZero(cleaned);
            suppressed += removed ? 1 : 0;
            restored += cv::countNonZero(expected.restored) > 0 ? 1 : 0;
            countMapRoute += removed && route < 2 ? 1 : 0;
        }
    }
    // Both decisions must have had work to do for the comparison to mean much.
    EXPECT_GT(suppressed, 20);
    EXPECT_GT(restored, 10);
    EXPECT_GT(countMapRoute, 15);
}

TEST(DirectionMapsEquivalence, MatchTheFullScanOnEdgesAndAnyGradient) {
    std::mt19937 rng(61);
    const auto sign = [&rng] { return Uniform(rng, 0, 1) == 0 ? 1 : -1; };
    const std::vector<int> extremes = {-32768, 32767, 0, 1, -1};
    for (int trial = 0; trial < 120; ++trial) {
        const int rows = RandomSide(rng);
        const int cols = RandomSide(rng);
        SCOPED_TRACE(cv::format("trial %d: %dx%d", trial, rows, cols));
        const cv::Mat mask = RandomEdgeMap(rng, rows, cols);
        cv::Mat gradX(rows, cols, CV_16SC1);
        cv::Mat gradY(rows, cols, CV_16SC1);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < cols; ++x) {
                // Gradients on the sector edges (0.414 = 207/500, 2.414 = 1207/500),
                // at the extremes of the type, and anywhere.
                const int m = Uniform(rng, -135, 135);
                const int form = Uniform(rng, 0, 4);
                const int gx = form == 0   ? 500 * m / 4
                               : form == 1 ? 500 * (m / 5)
                               : form == 2 ? Pick(rng, extremes)
                                           : Uniform(rng, -32768, 32767);
                const int gy = form == 0   ? 207 * m / 4 * sign()
                               : form == 1 ? 1207 * (m / 5) * sign()
                               : form == 2 ? Pick(rng, extremes)
                                           : Uniform(rng, -32768, 32767);
                gradX.at<short>(y, x) = static_cast<short>(gx);
                gradY.at<short>(y, x) = static_cast<short>(gy);
            }
        }
        std::vector<cv::Mat> expected;
        std::vector<cv::Mat> actual(3);
        reference::BuildDirectionMaps(gradX, gradY, mask, expected);
        // Even trials the maps, odd ones the driver's list on 1 to 3 threads, as maps.
        if (trial % 2 == 0) {
            BuildDirectionMaps(gradX, gradY, mask, actual, 1 + trial % 3);
        } else {
            DirectionList directions;
            ListDirections(gradX, gradY, mask, directions, 1 + trial % 3);
            ExpandDirections(directions, actual);
        }
        ASSERT_EQ(expected.size(), actual.size());
        for (size_t j = 0; j < expected.size(); ++j) {
            ASSERT_TRUE(SamePixels(expected[j], actual[j])) << "map " << j;
        }
    }
}

TEST(EdgeGapsEquivalence, MatchesThePixelByPixelHistogram) {
    std::mt19937 rng(71);
    int measured = 0;
    int widened = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const int rows = RandomSide(rng);
        const int cols = RandomSide(rng);
        cv::Mat mask = RandomEdgeMap(rng, rows, cols);
        if (trial % 3 == 0) {
            // Vertical strokes of a few widths: many edge ends at regular gaps.
            const int period = Uniform(rng, 3, 12);
            const int width = Uniform(rng, 1, period - 1);
            for (int x = 0; x < cols; ++x) {
                if (x % period < width) {
                    mask.col(x).setTo(255);
                }
            }
        } else if (trial % 3 == 1) {
            // Hollow strokes, an edge on each side of each rim: two narrow gaps per wide one.
            const int rim = Uniform(rng, 2, 4);
            const int span = Uniform(rng, 5 * rim, 9 * rim);
            const int period = span + Uniform(rng, 2, 12);
            for (int x = 0; x < cols; ++x) {
                const int at = x % period;
                mask.col(x).setTo(at == 0 || at == rim || at == span - rim || at == span ? 255 : 0);
            }
        }
        const cv::Mat gray = RandomGray(rng, rows, cols);
        // The whole mask, or a band of it as the stroke width estimation views it.
        cv::Rect viewed(0, 0, cols, rows);
        if (Uniform(rng, 0, 1) == 0 && rows > 2 && cols > 2) {
            const int top = Uniform(rng, 0, rows - 2);
            const int left = Uniform(rng, 0, cols - 2);
            viewed = cv::Rect(left, top, Uniform(rng, 1, cols - left), Uniform(rng, 1, rows - top));
        }
        const cv::Mat view = mask(viewed);
        int expected[4] = {-1, -1, -1, -1};  // width, peak count, gap count, without the grey
        int actual[4] = {-2, -2, -2, -2};
        expected[0] =
            reference::StrokeWidthFromEdgeGaps(view, expected[1], expected[2], gray(viewed));
        actual[0] = StrokeWidthFromEdgeGaps(view, actual[1], actual[2], gray(viewed));
        expected[3] = reference::StrokeWidthFromEdgeGaps(view, expected[1], expected[2]);
        actual[3] = StrokeWidthFromEdgeGaps(view, actual[1], actual[2]);
        ASSERT_TRUE(std::equal(expected, expected + 4, actual)) << "trial " << trial;
        measured += expected[2] > 0 ? 1 : 0;
        widened += expected[0] > expected[3] ? 1 : 0;
    }
    EXPECT_GT(measured, 60);
    EXPECT_GT(widened, 5);  // the wide mode was taken in some trials
}

TEST(EnhancePageEquivalence, MatchesTheBoxFilterVersion) {
    std::mt19937 rng(81);
    for (int trial = 0; trial < 300; ++trial) {
        const int rows = Pick(rng, std::vector<int>{1, 2, 3, 7, 59, 60, 61, Uniform(rng, 1, 160)});
        const int cols = Pick(rng, std::vector<int>{1, 2, 3, 7, 59, 60, 61, Uniform(rng, 1, 160)});
        const int window =
            Pick(rng, std::vector<int>{1, 2, 3, 4, 5, 60, 61, 181, 182, Uniform(rng, 1, 130),
                                       Uniform(rng, 183, 400)});
        const double weight =
            Pick(rng, std::vector<double>{0.0, 0.2, 1.0, 0.2, 0.0, Uniform(rng, 0, 300) / 100.0});
        cv::Mat page = RandomEnhanceInput(rng, rows, cols);
        const int form = Uniform(rng, 0, 5);
        if (form == 0) {
            cv::cvtColor(page, page, cv::COLOR_GRAY2BGR);
        } else if (form == 1 && rows > 2 && cols > 2) {
            page = page(cv::Rect(1, 1, cols - 2, rows - 2));  // a view: its own border only
        }
        ASSERT_TRUE(EnhancementsMatch(page, window, weight)) << "trial " << trial;
    }
}

TEST(EnhancePageEquivalence, MatchesOnStripsThatNeedWindowsWiderThanThePage) {
    // Bright dots on ground that weight 0 makes ink: every second column at the
    // left end, every 25th (4 %, short of the 5 % asked) beyond. Pixels far from
    // the left end resolve only at a side of about 3000, past those whose sums fit
    // in 32 bits.
    std::mt19937 rng(82);
    // The largest window accepted, 2048, on a page far smaller.
    const std::vector<std::pair<cv::Size, int>> cases = {
        {cv::Size(1500, 1), 91}, {cv::Size(1650, 3), 100}, {cv::Size(40, 30), 2048}};
    for (const auto& [size, window] : cases) {
        const cv::Mat page = Filled(size.height, size.width, [&](int, int x) {
            return x % (x < 200 ? 2 : 25) == 0 ? Uniform(rng, 150, 255) : Uniform(rng, 0, 9);
        });
        EXPECT_TRUE(EnhancementsMatch(page, window, 0.0));
    }
}
