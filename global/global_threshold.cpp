// Preconditions: `src` is 8-bit. Zero rows (or columns) give 11, a channel count
// other than 1 or 3 gives 12, both before anything is computed or printed.
#include "global/global_threshold.h"

#include <numeric>
#include <opencv2/imgproc.hpp>

#include "common/parallel_bands.h"
#include "global/enhance.h"
#include "global/gradient_map.h"
#include "stroke/stroke_map.h"

namespace edgebin::detail {

namespace {

constexpr int kEnhanceWindow = 60;
constexpr double kEnhanceWeight = 0.2;
constexpr double kNothingMeasured = 1e-5;
constexpr int kLastPass = 11;

struct StrokeDescription {
    std::vector<LineBand> lineBands;
    std::vector<int> bandStrokeWidths;
    std::vector<int> rowStrokeWidths;
};

bool SameDescription(const StrokeDescription& a, const StrokeDescription& b) {
    return a.lineBands == b.lineBands && a.bandStrokeWidths == b.bandStrokeWidths &&
           a.rowStrokeWidths == b.rowStrokeWidths;
}

void Clear(StrokeDescription& description) {
    description.lineBands.clear();
    description.bandStrokeWidths.clear();
    description.rowStrokeWidths.clear();
}

long long SumOf(const std::vector<int>& widths) {
    return std::accumulate(widths.begin(), widths.end(), 0LL);
}

bool IsComplete(const cv::Mat& mask, const StrokeDescription& description) {
    return IsCompleteStrokeDescription(mask.rows, mask.cols, description.lineBands,
                                       description.bandStrokeWidths, description.rowStrokeWidths);
}

// A measurement counts only when its ratio says so and the description it left
// covers every row; the later stages index widths by row and by band.
bool MeasureMask(const cv::Mat& edgeMask, StrokeDescription& description,
                 const StrokeMeasure& measure, std::vector<StrokeMeasurement>& reports) {
    reports.emplace_back();
    const double modalRatio = measure(edgeMask, description.lineBands, description.bandStrokeWidths,
                                      description.rowStrokeWidths, &reports.back());
    return modalRatio > kNothingMeasured && IsComplete(edgeMask, description);
}

// Chooses between the two results of an alternation: fewer bands win, then the
// larger total width; at a tie the current description stays.
void SettleAlternation(StrokeDescription& current, const StrokeDescription& candidate) {
    if (current.bandStrokeWidths.size() > candidate.bandStrokeWidths.size()) {
        current = candidate;
    }
    if (current.bandStrokeWidths.size() == candidate.bandStrokeWidths.size() &&
        SumOf(current.bandStrokeWidths) < SumOf(candidate.bandStrokeWidths)) {
        current = candidate;
    }
}

}  // namespace

int MeasureStrokeDescription(const cv::Mat& gradMap, int threshold, cv::Mat& edgeMask,
                             std::vector<LineBand>& lineBands, std::vector<int>& bandStrokeWidths,
                             std::vector<int>& rowStrokeWidths, const StrokeMeasure& measure,
                             Trace& trace) {
    StrokeDescription description;
    bool measured = MeasureMask(edgeMask, description, measure, trace.measurements);
    if (!measured) {
        const int half = threshold / 2;
        cv::threshold(gradMap, edgeMask, half, 255, cv::THRESH_BINARY);
        Clear(description);
        measured = MeasureMask(edgeMask, description, measure, trace.measurements);
        if (measured) {
            trace.reassignedThreshold = half;
        }
    }
    lineBands = std::move(description.lineBands);
    bandStrokeWidths = std::move(description.bandStrokeWidths);
    rowStrokeWidths = std::move(description.rowStrokeWidths);
    return measured ? kStatusOk : kStatusNoStrokes;
}

void RefineStrokeDescription(const cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                             std::vector<int>& bandStrokeWidths, std::vector<int>& rowStrokeWidths,
                             const StrokeMeasure& measure,
                             std::vector<StrokeMeasurement>& passReports, int threads,
                             cv::Mat* cleanedMask) {
    StrokeDescription current{lineBands, bandStrokeWidths, rowStrokeWidths};
    StrokeDescription previous = current;
    StrokeDescription candidate;
    StrokeDescription cleanedWith;
    bool keepGoing = true;
    // One image for every pass: each cleans a fresh copy of the mask.
    cv::Mat work;
    for (int pass = 1; keepGoing; ++pass) {
        Clear(candidate);
        CopyInBands(edgeMask, work, threads);
        CleanStrokeMap(work, current.rowStrokeWidths, current.lineBands, current.bandStrokeWidths,
                       kDescriptionCleaningFactor, threads);
        cleanedWith = current;
        passReports.emplace_back();
        const double modalRatio = measure(work, candidate.lineBands, candidate.bandStrokeWidths,
                                          candidate.rowStrokeWidths, &passReports.back());
        if (modalRatio <= 0.0 || !IsComplete(edgeMask, candidate)) {
            break;  // nothing measured: keep the last complete description
        }
        if (candidate.bandStrokeWidths == current.bandStrokeWidths) {
            keepGoing = false;
        }
        if (pass >= 2 && candidate.bandStrokeWidths == previous.bandStrokeWidths) {
            keepGoing = false;
            SettleAlternation(current, candidate);
        } else if (keepGoing) {
            previous = current;
            current = candidate;
        }
        if (pass >= kLastPass) {
            keepGoing = false;
        }
    }
    if (cleanedMask != nullptr) {
        *cleanedMask = SameDescription(cleanedWith, current) ? work : cv::Mat();
    }
    lineBands = std::move(current.lineBands);
    bandStrokeWidths = std::move(current.bandStrokeWidths);
    rowStrokeWidths = std::move(current.rowStrokeWidths);
}

StrokeMeasure StrokeMeasureOnThreads(int threads, const cv::Mat& gray) {
    return [threads, gray](const cv::Mat& mask, std::vector<LineBand>& bands,
                           std::vector<int>& bandWidths, std::vector<int>& rowWidths,
                           StrokeMeasurement* report) {
        return EstimateStrokeWidth(mask, bands, bandWidths, rowWidths, report, threads, gray);
    };
}

int PreparePage(const cv::Mat& src, PreparedPage& page, GlobalStageImages* images, int threads,
                InkDeepening deepening) {
    if (src.rows == 0 || src.cols == 0) {
        return kStatusNoRowsOrColumns;
    }
    if (src.channels() == 1) {
        page.gray = src;
    } else if (src.channels() == 3) {
        cv::cvtColor(src, page.gray, cv::COLOR_BGR2GRAY);
    } else {
        return kStatusBadChannels;
    }
    CV_Assert(page.gray.depth() == CV_8U);

    cv::Mat background;
    if (images != nullptr && !images->enhancedInstead.empty()) {
        CV_Assert(images->enhancedInstead.size() == page.gray.size() &&
                  images->enhancedInstead.depth() == CV_8U);
        page.enhanced = images->enhancedInstead;
    } else {
        page.inkDeepened = EnhancePage(page.gray, kEnhanceWindow, kEnhanceWeight, page.enhanced,
                                       background, threads, deepening);
    }
    // The paper estimate, no longer needed, passes its memory, already faulted in,
    // to the gradient map rather than return it to the system.
    page.gradMap = std::move(background);
    ComputeGradientMap(page.enhanced, page.gradX, page.gradY, page.gradMap, threads);
    BuildContourCurve(page.gradMap, page.curve, threads);
    return kStatusOk;
}

int EstimateGlobalThreshold(PreparedPage& page, PageUse use, cv::Mat& gradX, cv::Mat& gradY,
                            cv::Mat& edgeMask, std::vector<LineBand>& lineBands,
                            std::vector<int>& bandStrokeWidths, std::vector<int>& rowStrokeWidths,
                            const PeakChoice& choice, Trace& trace, GlobalStageImages* images,
                            int threads, cv::Mat* cleanedMask) {
    if (cleanedMask != nullptr) {
        cleanedMask->release();
    }
    CV_Assert(!page.enhanced.empty() && page.gradMap.size() == page.enhanced.size());
    if (!page.gradX.empty()) {
        gradX = std::move(page.gradX);  // a moved-from cv::Mat is left empty
        gradY = std::move(page.gradY);
    } else {
        ComputeDerivatives(page.enhanced, gradX, gradY, threads);
    }
    if (images != nullptr) {
        images->enhanced = page.enhanced;
        images->gradMap = page.gradMap;
    } else if (use == PageUse::kTakeOver) {
        // The enhanced page is consumed; its memory, already faulted in, goes to
        // the edge mask. A large page needs the memory later.
        edgeMask = std::move(page.enhanced);
    }
    const int threshold =
        SelectPeakThreshold(page.gradMap, page.curve, edgeMask, choice, trace, threads);
    trace.finalThreshold = threshold;

    const StrokeMeasure measure = StrokeMeasureOnThreads(threads, page.gray);
    const int status = MeasureStrokeDescription(page.gradMap, threshold, edgeMask, lineBands,
                                                bandStrokeWidths, rowStrokeWidths, measure, trace);
    if (status != kStatusOk) {
        return status;
    }
    RefineStrokeDescription(edgeMask, lineBands, bandStrokeWidths, rowStrokeWidths, measure,
                            trace.refinementPasses, threads, cleanedMask);
    return kStatusOk;
}

}  // namespace edgebin::detail
