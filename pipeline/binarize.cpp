#include "pipeline/binarize.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "common/direction_maps.h"
#include "common/small_components.h"
#include "global/global_threshold.h"
#include "local/count_map_refinement.h"
#include "local/local_threshold.h"
#include "local/refine_edge_mask.h"
#include "pipeline/faint_ink.h"
#include "pipeline/self_check.h"
#include "stroke/stroke_width.h"

namespace edgebin::detail {

namespace {

// Fixed settings of the refinement and clean-up stages.
constexpr int kRefineMode = 2;
constexpr double kNearScale = 6.0;
constexpr double kDominanceRatio = 0.75;
constexpr double kSpeckFactor = 1.0;

// Keeps the log of an ink share finite on a blank result.
constexpr double kInkEpsilon = 1e-4;
// Where the lower peak was the right one, the ink it added stood 4.7 to 16.5 paper
// spreads below the paper around it on generated faded pages, 8.3 and 12.4 on real
// ones; where the higher was right (show-through, stains, texture), at most 5.67 and
// mostly under 3.1. The limit is the lowest, in quarter steps, that leaves all of the
// latter alone, as chosen with each set of pages held out in turn.
constexpr double kFaintWritingContrast = 5.75;
// Past a main peak in the noise, the peak above it left 2 to 27 times less ink on
// the pages seen; where the main peak was the text's, 1.02 times less.
constexpr double kNoiseInkFactor = 1.5;
// Where the lower of two peaks, or an only peak, took in paper, the peak above left
// 1.27 to 1.69 times less ink on the real pages seen, each a clear gain; on the runs
// where it left 1.00 to 1.13 times less, the two results scored alike.
constexpr double kPaperInkFactor = 1.2;
// A peak this few levels above a curve's only one lies on its flank (the curve's own
// flank length): on the pages seen it changed the ink by 0 to 13 %, never enough to
// be kept, where the peaks that were kept lay 40 levels above or more.
constexpr int kFlankLevels = 10;
// Where a curve's only peak took in paper and no peak lies past its flank, the level
// half as high again is tried. On the shared pages at three scales and five
// perturbations it raised F by 1.5 to 8.5 on the five runs it was kept, lowered none,
// and left the runs whose ink it changed by under a fifth alone; twice the level
// gained more but lost up to 5.7 on three, and each set held out in turn chose 1.5 as
// the largest factor that lowered no run of the others.
constexpr double kRaisedLevelFactor = 1.5;
// Raised past the text's own edges, a level leaves the strokes in pieces. On the shared
// pages the steps that lost F kept 0.45 to 0.57 of the ink of the level below (F 80.8 ->
// 53.2, 78.3 -> 57.3, and 90.5 -> 84.5 against the half step); the ones that gained kept
// 0.69 to 0.97. Each set held out in turn took the midpoint between the largest share
// that lost and the smallest that gained, 0.629 to 0.665, and no held-out run lost.
constexpr double kTextEdgesLeftInk = 0.63;
// A raised level that takes away less ink than this found the text's own edges already.
// The first steps that took away 1.11 to 1.19 times the ink gained 1.7 to 18.7 F when
// raised further; the one that took away 1.03 times lost 10.1. Each set held out in turn
// took the midpoint between the largest step that lost and the smallest that gained
// (1.0 without a loss): 1.056 to 1.077, and no held-out run lost.
constexpr double kPaperStepInkFactor = 1.07;
constexpr int kTopLevel = 254;
// A higher peak keeping under this share of Otsu's ink, and leaving over this share
// of the page's clear edges away from it, kept a few strokes of the text (LeftTextOut).
constexpr double kFewStrokesInkShare = 0.3;
constexpr double kTextLeftOutEdges = 0.2;

std::vector<TextBand> DescribeBands(const std::vector<LineBand>& lineBands,
                                    const std::vector<int>& bandStrokeWidths) {
    std::vector<TextBand> bands;
    for (size_t i = 0; i < lineBands.size() && i < bandStrokeWidths.size(); ++i) {
        bands.push_back(TextBand{lineBands[i].top, lineBands[i].bottom, bandStrokeWidths[i]});
    }
    return bands;
}

// Runs every stage from the peak choice on, at the level `choice` takes.
int RunStages(PreparedPage& page, PageUse use, cv::Mat& dst, double alpha, double k,
              const PeakChoice& choice, Trace& trace, StageImages* stages, int threads) {
    cv::Mat gradX;
    cv::Mat gradY;
    cv::Mat edgeMask;
    std::vector<LineBand> lineBands;
    std::vector<int> bandStrokeWidths;
    std::vector<int> rowStrokeWidths;
    // The global stage's last cleaning of the mask, when it used the description the
    // refinement gets: the refinement's own cleaning would give the same pixels.
    static_assert(kDescriptionCleaningFactor == kCleaningComponentFactor,
                  "the refinement takes the global stage's cleaned mask only when both "
                  "clean with one component factor");
    cv::Mat cleanedMask;
    const int status =
        EstimateGlobalThreshold(page, use, gradX, gradY, edgeMask, lineBands, bandStrokeWidths,
                                rowStrokeWidths, choice, trace, stages, threads, &cleanedMask);
    if (stages != nullptr) {
        stages->edgeMask = edgeMask;
    }
    if (status != kStatusOk) {
        return status;
    }
    trace.bands = DescribeBands(lineBands, bandStrokeWidths);

    // The later stages change the edge mask; a copy is taken only when the caller
    // keeps the global one. Each image is let go once consumed, so that a large page
    // never holds the direction maps, the derivatives and the votes at once; those
    // of a later stage's size and type lend it their memory, already faulted in,
    // rather than return it to the system: the gradient map to the restored
    // pixels (in the call's last run: the others share it), a derivative to the
    // vote counts.
    cv::Mat edgeMaskCopy = stages != nullptr ? edgeMask.clone() : edgeMask;
    edgeMask.release();
    // The direction maps as a list: nine bytes a pixel would make them the largest
    // images of the run.
    DirectionList directions;
    ListDirections(gradX, gradY, edgeMaskCopy, directions, threads);
    gradY.release();

    static_assert(kRefineMode >= 2, "below mode 2 the restored pixels are not written");
    cv::Mat restoredMap;
    if (use == PageUse::kTakeOver) {
        if (stages == nullptr) {
            restoredMap = std::move(page.gradMap);
        }
        page.gradMap.release();
    }
    RefineEdgeMask(edgeMaskCopy, restoredMap, directions, lineBands, bandStrokeWidths,
                   rowStrokeWidths, kRefineMode, kNearScale, kDominanceRatio, threads,
                   std::move(cleanedMask));
    directions = DirectionList();
    cv::Mat result;
    VoteLocalThreshold(edgeMaskCopy, page.gray, restoredMap, rowStrokeWidths, result, alpha, k,
                       stages != nullptr ? &stages->balance : nullptr, threads, &gradX);
    gradX.release();
    RemoveSmallComponents(edgeMaskCopy, rowStrokeWidths, kSpeckFactor, result, threads);
    if (stages != nullptr) {
        stages->voters = edgeMaskCopy;
        stages->restoredMap = restoredMap;
    }
    dst = result;
    return kStatusOk;
}

double InkDistance(double ink, double reference) {
    return std::fabs(std::log((ink + kInkEpsilon) / (reference + kInkEpsilon)));
}

// A higher level can keep a few strong strokes, a fifth of Otsu's ink, and leave the
// text around them out (`higher`, which left `ink` of the page, against Otsu's
// `reference`; `trace` is its run's). At a second peak above the main one, where the
// lower peak then won by 28 to 59
// F, the higher had left 22 to 46 % of the page's clear edges away from its ink and kept
// 22 to 29 % of Otsu's; where the higher was right, it left at most 14 % of the edges
// out, or kept 38 % of Otsu's ink or more (dark photographs, whose edges the text's
// level rightly leaves out, and generated pages).
bool LeftTextOut(const cv::Mat& grey, const cv::Mat& higher, double ink, double reference,
                 const Trace& trace) {
    return ink < kFewStrokesInkShare * reference &&
           MissedEdgeShare(grey, higher, MedianStrokeWidth(trace.bands)) > kTextLeftOutEdges;
}

// Whether `higher`, the run at a second peak above the main one, kept no text: it left
// the text out (LeftTextOut), or its level measured nothing stroke-like and the half
// it was retried at still leaves clear edges outside its ink (LeftClearEdgesOut, a
// lower share than LeftTextOut's, so it decides alone there). On the shared pages
// blurred by 1.5 pixels, halves of second peaks at 185 to 192 kept a fifth to a third
// of Otsu's ink (F 49 to 65) where the lower peak gave F 72 to 84. One generated
// photograph at half scale, whose lower peak lay in its noise, lost by it (F 37 -> 27;
// suspect either way).
bool SecondPeakKeptNoText(const cv::Mat& grey, const cv::Mat& higher, double ink, double reference,
                          const Trace& trace) {
    if (!TookSecondPeakAboveMain(trace)) {
        return false;
    }
    return trace.reassignedThreshold >= 0
               ? LeftClearEdgesOut(grey, higher, MedianStrokeWidth(trace.bands))
               : LeftTextOut(grey, higher, ink, reference, trace);
}

// `higher` is empty when the higher peak measured nothing stroke-like; `trace` is
// its run's, `lowerWidth` the lower run's median stroke width.
Mend ChooseMend(const cv::Mat& grey, const cv::Mat& higher, const cv::Mat& lower, int lowerWidth,
                const Trace& trace, int threads) {
    const double reference = OtsuInkShare(grey, threads);
    const double ink = higher.empty() ? 0.0 : InkShare(higher, threads);
    // The collapsed pages seen keep under 1 % of Otsu's ink; sound ones 29 % or more.
    const bool noText =
        HasLostItsInk(ink, reference) ||
        (!higher.empty() && SecondPeakKeptNoText(grey, higher, ink, reference, trace));
    if (noText && IsPlausibleInk(grey, lower, reference, lowerWidth, threads) &&
        InkDistance(InkShare(lower, threads), reference) < InkDistance(ink, reference)) {
        return Mend::kNoText;
    }
    // Faded writing fails the plausibility test: Otsu misses it, and its grey lies
    // near the paper's. It is told by its contrast instead.
    if (higher.empty()) {
        return Mend::kNone;
    }
    return AddedInkContrast(grey, higher, lower, MedianStrokeWidth(trace.bands)) >=
                   kFaintWritingContrast
               ? Mend::kFaintWriting
               : Mend::kNone;
}

// A second run of the stages at another level, which a mend may keep.
struct OtherRun {
    int status = kStatusOk;
    cv::Mat image;
    Trace trace;
    StageImages stages;
};

// Runs the stages at the level `choice` takes, keeping the stage images when the
// caller keeps them (`withStages`).
OtherRun RunOther(PreparedPage& page, PageUse use, double alpha, double k, const PeakChoice& choice,
                  bool withStages, int threads) {
    OtherRun run;
    run.status = RunStages(page, use, run.image, alpha, k, choice, run.trace,
                           withStages ? &run.stages : nullptr, threads);
    return run;
}

// Takes the other run's result, trace and images, mended for `mend`.
void KeepMended(Mend mend, int mendedFrom, OtherRun& other, cv::Mat& dst, Trace& trace,
                StageImages* stages) {
    other.trace.mendedFrom = mendedFrom;
    other.trace.mend = mend;
    trace = std::move(other.trace);
    dst = other.image;
    if (stages != nullptr) {
        *stages = std::move(other.stages);
    }
}

// The higher peak rejects weak edges away from strong ones: show-through, stains,
// texture, but also faded writing. So the lower peak is run too, and kept when the
// higher kept no text (nothing stroke-like, or a few strong strokes without the
// text around them) and the lower's ink is plausible and nearer to what a plain
// global threshold finds; or when the ink only the lower finds stands out from the
// paper as writing does.
int MendHigherPeak(PreparedPage& page, int status, cv::Mat& dst, double alpha, double k,
                   Trace& trace, StageImages* stages, int threads) {
    const PeakChoice alwaysLower{std::numeric_limits<double>::max()};
    OtherRun lower =
        RunOther(page, PageUse::kTakeOver, alpha, k, alwaysLower, stages != nullptr, threads);
    if (lower.status != kStatusOk) {
        return status;
    }
    const Mend mend = ChooseMend(page.gray, status == kStatusOk ? dst : cv::Mat(), lower.image,
                                 MedianStrokeWidth(lower.trace.bands), trace, threads);
    if (mend == Mend::kNone) {
        return status;
    }
    KeepMended(mend, trace.finalThreshold, lower, dst, trace, stages);
    return kStatusOk;
}

// Faded writing can make a peak of its own below both peaks the ratio weighs. The
// strongest peak below the level taken is run too when a deep valley parts them, and
// kept when the ink only it finds passes the faint-writing test.
bool MendFaintBelow(PreparedPage& page, cv::Mat& dst, double alpha, double k, double Rthre,
                    Trace& trace, StageImages* stages, int threads) {
    if (trace.lowerPeak < 0) {
        return false;
    }
    PeakChoice choice{Rthre};
    choice.belowChosen = true;
    OtherRun below =
        RunOther(page, PageUse::kTakeOver, alpha, k, choice, stages != nullptr, threads);
    if (below.status != kStatusOk || below.trace.finalThreshold >= trace.finalThreshold ||
        AddedInkContrast(page.gray, dst, below.image, MedianStrokeWidth(trace.bands)) <
            kFaintWritingContrast) {
        return false;
    }
    KeepMended(Mend::kFaintWriting, trace.finalThreshold, below, dst, trace, stages);
    return true;
}

// The level a run's edges were taken at: the halved one when the global stage fell
// back to it.
int UsedLevel(const Trace& trace) {
    return trace.reassignedThreshold >= 0 ? trace.reassignedThreshold : trace.finalThreshold;
}

// Paper taken in as ink: where its grey lies near the ink's, or where a dark margin's
// texture was read as strokes.
bool TookInPaper(const cv::Mat& grey, const cv::Mat& binary, int threads) {
    return HasTakenInPaper(grey, binary, threads) || HasTakenInSurround(grey, binary, threads);
}

// Whether a higher run, which left `higherInk` where the level taken left `ink`, keeps
// the mend for paper taken in: a clear share of the ink gone, and not the text with it.
// The text goes when the run keeps almost none of Otsu's ink, or only a few strong
// strokes: a far peak above an only one, at half scale, kept 28 % of Otsu's ink and
// left 43 % of the clear edges away from it (F 88.5 -> 38.0), as a second peak taken
// above the main one does (LeftTextOut).
bool TakesAwayPaper(double ink, const OtherRun& higher, double higherInk, const cv::Mat& grey,
                    int threads) {
    const double reference = OtsuInkShare(grey, threads);
    return ink >= kPaperInkFactor * higherInk && !HasLostItsInk(higherInk, reference) &&
           !LeftTextOut(grey, higher.image, higherInk, reference, higher.trace);
}

// Whether `next`, a run at a higher level than the one that left `runInk`, kept the
// text's own edges.
bool KeptTextEdges(const OtherRun& next, double nextInk, double runInk) {
    return next.status == kStatusOk && nextInk >= kTextEdgesLeftInk * runInk;
}

// Where the raised level `run` (the level `base` takes times `factor`, which left
// `firstStep` times less ink, `runInk` of the page) still took in paper, raises it by
// the factor again while each step goes on taking away a clear share of ink from a
// run that still took in paper, and stops at a step that passed the text's own edges.
// Returns true when a higher run replaced `run` and `runInk`.
bool RaiseWhilePaperTakenIn(PreparedPage& page, double alpha, double k, const PeakChoice& base,
                            double factor, double firstStep, OtherRun& run, double& runInk,
                            bool withStages, int threads) {
    bool raised = false;
    double step = firstStep;
    PeakChoice choice = base;
    choice.levelFactor = base.levelFactor * factor;
    while (step >= kPaperStepInkFactor && run.trace.finalThreshold < kTopLevel &&
           TookInPaper(page.gray, run.image, threads)) {
        const double from = choice.levelFactor;
        choice.levelFactor = from * factor;
        OtherRun next = RunOther(page, PageUse::kShare, alpha, k, choice, withStages, threads);
        const double nextInk = InkShare(next.image, threads);
        if (!KeptTextEdges(next, nextInk, runInk)) {
            // The text's edges can lie inside the step: the raise ends on the half step
            // (in ratio) when that one keeps them.
            choice.levelFactor = from * std::sqrt(factor);
            OtherRun half = RunOther(page, PageUse::kShare, alpha, k, choice, withStages, threads);
            const double halfInk = InkShare(half.image, threads);
            if (KeptTextEdges(half, halfInk, runInk) &&
                UsedLevel(half.trace) > UsedLevel(run.trace)) {
                run = std::move(half);
                runInk = halfInk;
                raised = true;
            }
            break;
        }
        step = runInk / std::max(nextInk, kInkEpsilon);
        run = std::move(next);
        runInk = nextInk;
        raised = true;
    }
    return raised;
}

// Two faults are mended from the level above the one taken, in one run there (in
// more where the raised level still took in paper):
// - A main peak in the gradient map's noise, with no second peak past it, marks
//   noise specks as edges all over the page: far more ink than a plain global
//   threshold finds. The level above is kept when it takes away at least a third of
//   that ink without losing it all. Where the main peak was the text's, a nearby
//   peak above it changes the ink by a few percent.
// - The ratio of two peaks near its limit can take the lower one where the pixels
//   between them are show-through or stains rather than faint text, and a curve's
//   only peak can lie at their edges: dense ink whose grey lies near the paper's, or
//   much of it in a dark, noisy margin read as strokes.
//   The higher peak, the strongest past the only one's flank or, without one, the
//   level half as high again, is kept when it takes away a clear share of that ink
//   without losing the text. Paper whose edges reach far above the only peak can
//   keep the level half as high again short of that share; it is then raised step
//   by step (RaiseWhilePaperTakenIn).
bool MendFromAbove(PreparedPage& page, cv::Mat& dst, double alpha, double k, double Rthre,
                   Trace& trace, StageImages* stages, int threads) {
    const bool onlyPeak = trace.secondPeak < 0;
    const bool farPeakAbove = onlyPeak && trace.peakAbove > trace.mainPeak + kFlankLevels;
    const bool lowerTaken = TookLowerPeak(trace);
    if (!trace.mainPeakInNoise && !onlyPeak && !lowerTaken) {
        return false;
    }
    const cv::Mat& grey = page.gray;
    const double ink = InkShare(dst, threads);
    const bool inNoise =
        trace.mainPeakInNoise && HasFarTooMuchInk(ink, OtsuInkShare(grey, threads));
    const bool nearPaper = (onlyPeak || lowerTaken) && HasTakenInPaper(grey, dst, threads);
    const bool inMargin =
        (onlyPeak || lowerTaken) && !nearPaper && HasTakenInSurround(grey, dst, threads);
    const bool paperTakenIn = nearPaper || inMargin;
    if (!inNoise && !paperTakenIn) {
        return false;
    }
    PeakChoice choice{Rthre};
    choice.higherChosen = true;
    // A noisy margin's texture makes peaks of its own above the text's, which say
    // nothing of where the text's edges end.
    if (!inNoise && onlyPeak && (!farPeakAbove || inMargin)) {
        choice.higherChosen = false;
        choice.levelFactor = kRaisedLevelFactor;
    }
    // MendFaintBelow may follow, so the run leaves the page as it found it.
    OtherRun above = RunOther(page, PageUse::kShare, alpha, k, choice, stages != nullptr, threads);
    if (above.status != kStatusOk) {
        return false;
    }
    double aboveInk = InkShare(above.image, threads);
    Mend mend = Mend::kNone;
    const double firstStep = ink / std::max(aboveInk, kInkEpsilon);
    if (inNoise && !HasAlmostNoInk(aboveInk) && ink >= kNoiseInkFactor * aboveInk) {
        mend = Mend::kNoiseFloor;
        // The peak above the noise can still lie in the paper's texture (at half
        // scale: twice the ink of the text, F 64.0); raised step by step from there,
        // 84.8. The raise itself tests whether the level took in paper.
        RaiseWhilePaperTakenIn(page, alpha, k, choice, kRaisedLevelFactor, firstStep, above,
                               aboveInk, stages != nullptr, threads);
    } else if (paperTakenIn && UsedLevel(above.trace) > trace.finalThreshold &&
               TakesAwayPaper(ink, above, aboveInk, grey, threads)) {
        mend = Mend::kPaperTakenIn;
    }
    if (mend == Mend::kNone && paperTakenIn && choice.levelFactor > 1.0 &&
        RaiseWhilePaperTakenIn(page, alpha, k, PeakChoice{Rthre}, choice.levelFactor, firstStep,
                               above, aboveInk, stages != nullptr, threads) &&
        TakesAwayPaper(ink, above, aboveInk, grey, threads)) {
        mend = Mend::kPaperTakenIn;
    }
    if (mend == Mend::kNone) {
        return false;
    }
    KeepMended(mend, trace.finalThreshold, above, dst, trace, stages);
    return true;
}

// The stages on `src` enhanced as `deepening` says, and the mends that follow them;
// `inkDeepened` receives the enhancement's choice.
int BinarizeOnce(const cv::Mat& src, InkDeepening deepening, cv::Mat& dst, double alpha, double k,
                 double Rthre, Trace& trace, StageImages* stages, int threads, bool& inkDeepened) {
    // Made once for every run of the call. The first run only shares it: whether a
    // mend runs again is known only from the first run's result.
    PreparedPage page;
    const int prepared = PreparePage(src, page, stages, threads, deepening);
    if (prepared != kStatusOk) {
        return prepared;
    }
    inkDeepened = page.inkDeepened;
    const int status =
        RunStages(page, PageUse::kShare, dst, alpha, k, PeakChoice{Rthre}, trace, stages, threads);
    if (status != kStatusOk && status != kStatusNoStrokes) {
        return status;
    }
    if (TookHigherPeak(trace)) {
        return MendHigherPeak(page, status, dst, alpha, k, trace, stages, threads);
    }
    if (status != kStatusOk) {
        return status;
    }
    if (!MendFromAbove(page, dst, alpha, k, Rthre, trace, stages, threads)) {
        MendFaintBelow(page, dst, alpha, k, Rthre, trace, stages, threads);
    }
    return kStatusOk;
}

}  // namespace

int BinarizeImage(const cv::Mat& src, cv::Mat& dst, double alpha, double k, double Rthre,
                  Trace& trace, StageImages* stages, int threads) {
    bool inkDeepened = false;
    const int status = BinarizeOnce(src, InkDeepening::kUnlessWideCores, dst, alpha, k, Rthre,
                                    trace, stages, threads, inkDeepened);
    const bool enhancementGiven = stages != nullptr && !stages->enhancedInstead.empty();
    if (status != kStatusOk || enhancementGiven || !HasAlmostNoInk(InkShare(dst, threads))) {
        return status;
    }
    // Either choice of the ink deepening can leave a page blank where the other finds
    // its text; the other is kept only when it has ink.
    cv::Mat other;
    Trace otherTrace;
    StageImages otherStages;
    StageImages* keptStages = stages != nullptr ? &otherStages : nullptr;
    const InkDeepening otherChoice = inkDeepened ? InkDeepening::kNever : InkDeepening::kAlways;
    if (BinarizeOnce(src, otherChoice, other, alpha, k, Rthre, otherTrace, keptStages, threads,
                     inkDeepened) != kStatusOk ||
        HasAlmostNoInk(InkShare(other, threads))) {
        return status;
    }
    otherTrace.otherInkDeepening = true;
    dst = other;
    trace = std::move(otherTrace);
    if (stages != nullptr) {
        *stages = std::move(otherStages);
    }
    return kStatusOk;
}

}  // namespace edgebin::detail
