// edgebin-bench-stages: every stage function on one generated page of about four
// megapixels, single thread, each fed exactly what the driver would feed it.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc.hpp>
#include <vector>

#include "app/huge_page_allocator.h"
#include "bench/staged_pipeline.h"
#include "common/direction_maps.h"
#include "common/labelling.h"
#include "common/small_components.h"
#include "global/contour_curve.h"
#include "global/contour_peaks.h"
#include "global/enhance.h"
#include "global/global_threshold.h"
#include "global/gradient_map.h"
#include "global/peak_threshold.h"
#include "local/band_window_sums.h"
#include "local/local_threshold.h"
#include "local/refine_edge_mask.h"
#include "pipeline/binarize.h"
#include "stroke/edge_gaps.h"
#include "stroke/stroke_map.h"
#include "stroke/window_filters.h"
#include "tools/evaluation/page_generator.h"

using namespace edgebin::detail;

namespace {

constexpr int kPageWidth = 2400;
constexpr int kPageHeight = 1700;

// The page and every intermediate result of one driver run over it, computed once.
const StagedRun& PreparedRun() {
    static const StagedRun prepared = [] {
        PageOptions options;
        options.seed = 12;
        options.width = kPageWidth;
        options.height = kPageHeight;
        cv::Mat page;
        cv::Mat truth;
        GeneratePage(options, page, truth);
        StagedRun run;
        BeginRun(page, run);
        const TuningParameters parameters;
        // Stop before the refinement so that its inputs stay as the driver hands them.
        for (Stage stage : {Stage::kEnhance, Stage::kGradient, Stage::kCurve, Stage::kPeaks,
                            Stage::kStroke, Stage::kDirections}) {
            RunStage(stage, parameters, run);
        }
        return run;
    }();
    return prepared;
}

// The refined voters and restored pixels that the voting stage receives.
const StagedRun& RefinedRun() {
    static const StagedRun refined = [] {
        StagedRun run = PreparedRun();
        run.edgeMaskCopy = run.edgeMaskCopy.clone();
        const TuningParameters parameters;
        RunStage(Stage::kRefine, parameters, run);
        RunStage(Stage::kVote, parameters, run);
        return run;
    }();
    return refined;
}

void SetPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(PreparedRun().gray.total()));
}

void BM_EnhancePage(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        cv::Mat enhanced;
        cv::Mat background;
        EnhancePage(run.gray, 60, 0.2, enhanced, background);
        benchmark::DoNotOptimize(enhanced.data);
    }
    SetPixels(state);
}

void BM_ComputeGradientMap(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        cv::Mat gradX;
        cv::Mat gradY;
        cv::Mat gradMap;
        ComputeGradientMap(run.enhanced, gradX, gradY, gradMap);
        benchmark::DoNotOptimize(gradMap.data);
    }
    SetPixels(state);
}

void BM_BuildContourCurve(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        ContourCurve curve;
        BuildContourCurve(run.gradMap, curve);
        benchmark::DoNotOptimize(curve.data());
    }
    SetPixels(state);
}

// The choice between the curve's peaks, with the measure of the band between two.
void BM_ChoosePeakLevel(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    bool hasSecond = false;
    int mainPeak = 0;
    int secondPeak = 0;
    FindCurvePeaks(run.contourCurve, hasSecond, mainPeak, secondPeak);
    for (auto _ : state) {
        edgebin::Trace trace;
        benchmark::DoNotOptimize(
            ChoosePeakLevel(run.gradMap, hasSecond, mainPeak, secondPeak, 0.05, trace));
    }
    SetPixels(state);
}

void BM_EstimateStrokeWidth(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        std::vector<LineBand> lineBands;
        std::vector<int> bandStrokeWidths;
        std::vector<int> rowStrokeWidths;
        benchmark::DoNotOptimize(
            EstimateStrokeWidth(run.edgeMask, lineBands, bandStrokeWidths, rowStrokeWidths));
    }
    SetPixels(state);
}

void BM_StrokeWidthFromEdgeGaps(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        int peakCount = 0;
        int gapCount = 0;
        benchmark::DoNotOptimize(StrokeWidthFromEdgeGaps(run.edgeMask, peakCount, gapCount));
    }
    SetPixels(state);
}

// The measurement and the whole refinement loop of the global stage.
void BM_StrokeDescription(benchmark::State& state) {
    const StagedRun& prepared = PreparedRun();
    const TuningParameters parameters;
    for (auto _ : state) {
        state.PauseTiming();
        StagedRun run;
        BeginRun(prepared.gray, run);
        run.gradMap = prepared.gradMap;
        run.threshold = prepared.threshold;
        run.edgeMask = prepared.edgeMask.clone();
        state.ResumeTiming();
        RunStage(Stage::kStroke, parameters, run);
    }
    SetPixels(state);
}

void BM_FindMaskComponents(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        std::vector<ComponentRecord> records;
        benchmark::DoNotOptimize(FindMaskComponents(run.edgeMask, records));
    }
    SetPixels(state);
}

// Runs `clean` on a fresh copy of the global edge mask at every iteration.
template <typename Clean>
void TimeOnMaskCopy(benchmark::State& state, const Clean& clean) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        state.PauseTiming();
        cv::Mat map = run.edgeMask.clone();
        state.ResumeTiming();
        clean(run, map);
        benchmark::DoNotOptimize(map.data);
    }
    SetPixels(state);
}

void BM_CleanStrokeMap(benchmark::State& state) {
    TimeOnMaskCopy(state, [](const StagedRun& run, cv::Mat& map) {
        CleanStrokeMap(map, run.rowStrokeWidths, run.lineBands, run.bandStrokeWidths, 0.6);
    });
}

void BM_ClearUndersizedComponents(benchmark::State& state) {
    TimeOnMaskCopy(state, [](const StagedRun& run, cv::Mat& map) {
        ClearUndersizedComponents(map, run.rowStrokeWidths, 0.6);
    });
}

void BM_DensityFilter(benchmark::State& state) {
    TimeOnMaskCopy(state, [](const StagedRun& run, cv::Mat& map) {
        DensityFilter(map, run.rowStrokeWidths, run.lineBands, run.bandStrokeWidths, 6.0, 6.0);
    });
}

void BM_CornerVoteFilter(benchmark::State& state) {
    TimeOnMaskCopy(state, [](const StagedRun& run, cv::Mat& map) {
        CornerVoteFilter(map, run.rowStrokeWidths, run.lineBands, run.bandStrokeWidths, 4, 10.0,
                         10.0);
    });
}

void BM_BuildDirectionMaps(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        std::vector<cv::Mat> dirMaps(9);
        BuildDirectionMaps(run.gradX, run.gradY, run.edgeMask, dirMaps);
        benchmark::DoNotOptimize(dirMaps[0].data);
    }
    SetPixels(state);
}

void BM_ListDirections(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        DirectionList directions;
        ListDirections(run.gradX, run.gradY, run.edgeMask, directions);
        benchmark::DoNotOptimize(directions.columns.data());
    }
    SetPixels(state);
}

// A 0/1 map (the candidates, direction map 0) counted at scale state.range(0).
void BM_BandWindowSums(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    const double scale = static_cast<double>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        cv::Mat map = run.edgeMask / 255;
        state.ResumeTiming();
        BandWindowSums(map, run.lineBands, run.bandStrokeWidths, scale);
        benchmark::DoNotOptimize(map.data);
    }
    SetPixels(state);
}

void BM_RefineEdgeMask(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        state.PauseTiming();
        cv::Mat edgeMaskCopy = run.edgeMask.clone();
        cv::Mat restoredMap;
        state.ResumeTiming();
        RefineEdgeMask(edgeMaskCopy, restoredMap, run.directions, run.lineBands,
                       run.bandStrokeWidths, run.rowStrokeWidths, 2, 6.0, 0.75);
        benchmark::DoNotOptimize(restoredMap.data);
    }
    SetPixels(state);
}

void BM_MaskedWindowStats(benchmark::State& state) {
    const StagedRun& run = RefinedRun();
    for (auto _ : state) {
        cv::Mat meanMap;
        cv::Mat deviationMap;
        MaskedWindowStats(run.edgeMaskCopy, run.gray, run.rowStrokeWidths, meanMap, deviationMap,
                          2.0);
        benchmark::DoNotOptimize(meanMap.data);
    }
    SetPixels(state);
}

void BM_VoteLocalThreshold(benchmark::State& state) {
    const StagedRun& run = RefinedRun();
    for (auto _ : state) {
        cv::Mat dst;
        VoteLocalThreshold(run.edgeMaskCopy, run.gray, run.restoredMap, run.rowStrokeWidths, dst,
                           2.0, 0.6);
        benchmark::DoNotOptimize(dst.data);
    }
    SetPixels(state);
}

void BM_RemoveSmallComponents(benchmark::State& state) {
    const StagedRun& run = RefinedRun();
    for (auto _ : state) {
        state.PauseTiming();
        cv::Mat dst = run.dst.clone();
        state.ResumeTiming();
        RemoveSmallComponents(run.edgeMaskCopy, run.rowStrokeWidths, 1.0, dst);
        benchmark::DoNotOptimize(dst.data);
    }
    SetPixels(state);
}

void BM_BinarizeImage(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        cv::Mat dst;
        edgebin::Trace trace;
        benchmark::DoNotOptimize(BinarizeImage(run.gray, dst, 2.0, 0.6, 0.05, trace));
    }
    SetPixels(state);
}

// Yardsticks: one plain unnormalised box filter over the page, and Sauvola.
void BM_PlainBoxFilter(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    const cv::Mat candidates = run.edgeMask / 255;
    for (auto _ : state) {
        cv::Mat sums;
        cv::boxFilter(candidates, sums, CV_16U, cv::Size(31, 31), cv::Point(-1, -1), false,
                      cv::BORDER_REFLECT_101);
        benchmark::DoNotOptimize(sums.data);
    }
    SetPixels(state);
}

void BM_Sauvola(benchmark::State& state) {
    const StagedRun& run = PreparedRun();
    for (auto _ : state) {
        cv::Mat result;
        cv::ximgproc::niBlackThreshold(run.gray, result, 255, cv::THRESH_BINARY, 31, 0.2,
                                       cv::ximgproc::BINARIZATION_SAUVOLA);
        benchmark::DoNotOptimize(result.data);
    }
    SetPixels(state);
}

}  // namespace

BENCHMARK(BM_EnhancePage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComputeGradientMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildContourCurve)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChoosePeakLevel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EstimateStrokeWidth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrokeWidthFromEdgeGaps)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StrokeDescription)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindMaskComponents)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanStrokeMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClearUndersizedComponents)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DensityFilter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CornerVoteFilter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildDirectionMaps)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListDirections)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BandWindowSums)->Arg(6)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefineEdgeMask)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskedWindowStats)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VoteLocalThreshold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSmallComponents)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinarizeImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainBoxFilter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sauvola)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    // Static: images that outlive main, such as cached ones, are freed through it.
    static edgebin::cli::HugePageAllocator allocator;
    const edgebin::cli::ScopedMatAllocator useAllocator(&allocator);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
