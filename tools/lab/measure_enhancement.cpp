// measure-enhancement: how much the page enhancement in front of the gradient map
// helps. Runs the whole binarization on every benchmark page once per variant of
// the enhanced image and scores (a) the global edge mask against the edges of the
// ground-truth ink and (b) the final result against the ground truth.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "global/enhance.h"
#include "pipeline/binarize.h"
#include "tools/evaluation/metrics.h"

using namespace edgebin::detail;

namespace fs = std::filesystem;

namespace {

const char kHelp[] =
    "usage: measure-enhancement DATA_DIR [VARIANT...]\n"
    "\n"
    "DATA_DIR holds one folder per set with <id>.png and <id>_gt.png (ink 0). Each page\n"
    "runs through the binarization with the enhanced image replaced by VARIANT:\n"
    "  enhance   the project's page enhancement (window 60, weight 0.2)\n"
    "  identity  the grey page itself\n"
    "(default: both). Printed per page and per set, for each variant:\n"
    "  edgeP/edgeR/edgeF  precision, recall and F (%) of the global edge mask against\n"
    "                     the truth ink edges (3x3 morphological gradient of the ink),\n"
    "                     each side matched within a 5x5 window\n"
    "  F                  F-measure (%) of the final binary result\n"
    "  status             count of pages where the global stage failed (-1)\n";

using Enhancement = std::function<void(const cv::Mat& gray, cv::Mat& enhanced)>;

std::map<std::string, Enhancement> Variants() {
    return {
        {"enhance",
         [](const cv::Mat& gray, cv::Mat& enhanced) {
             cv::Mat background;
             EnhancePage(gray, 60, 0.2, enhanced, background);
         }},
        {"identity", [](const cv::Mat& gray, cv::Mat& enhanced) { enhanced = gray; }},
    };
}

struct PageScores {
    double edgePrecision = 0.0;
    double edgeRecall = 0.0;
    double edgeF = 0.0;
    double fMeasure = 0.0;
    bool failed = false;
};

// Share (%) of the non-zero pixels of `mask` that lie within the 5x5 window of a
// non-zero pixel of `reference`.
double MatchedShare(const cv::Mat& mask, const cv::Mat& reference) {
    const int total = cv::countNonZero(mask);
    if (total == 0) {
        return 0.0;
    }
    cv::Mat widened;
    cv::dilate(reference, widened, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5)));
    cv::Mat matched;
    cv::bitwise_and(mask, widened, matched);
    return 100.0 * cv::countNonZero(matched) / total;
}

cv::Mat TruthEdges(const cv::Mat& truth) {
    const cv::Mat ink = InkMask(truth);
    cv::Mat edges;
    cv::morphologyEx(ink, edges, cv::MORPH_GRADIENT,
                     cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    return edges;
}

// The whole binarization with the enhanced image supplied from outside.
PageScores RunPage(const cv::Mat& gray, const cv::Mat& truth, const Enhancement& enhance) {
    PageScores scores;
    StageImages stages;
    enhance(gray, stages.enhancedInstead);
    edgebin::Trace trace;
    cv::Mat result;
    const int status = BinarizeImage(gray, result, 2.0, 0.6, 0.05, trace, &stages);
    const cv::Mat truthEdges = TruthEdges(truth);
    scores.edgePrecision = MatchedShare(stages.edgeMask, truthEdges);
    scores.edgeRecall = MatchedShare(truthEdges, stages.edgeMask);
    scores.edgeF = HarmonicMean(scores.edgePrecision, scores.edgeRecall);
    if (status != edgebin::kStatusOk) {
        scores.failed = true;
        return scores;
    }
    scores.fMeasure = ScoreBinarization(result, truth).fMeasure;
    return scores;
}

struct Totals {
    double edgePrecision = 0.0;
    double edgeRecall = 0.0;
    double edgeF = 0.0;
    double fMeasure = 0.0;
    int failed = 0;
    int pages = 0;

    void Add(const PageScores& s) {
        edgePrecision += s.edgePrecision;
        edgeRecall += s.edgeRecall;
        edgeF += s.edgeF;
        fMeasure += s.fMeasure;
        failed += s.failed ? 1 : 0;
        ++pages;
    }
};

void PrintRow(const std::string& label, const std::string& variant, const Totals& t) {
    const double n = t.pages > 0 ? t.pages : 1;
    std::printf("%-22s %-9s pages %3d  edgeP %6.2f  edgeR %6.2f  edgeF %6.2f  F %6.2f  failed %d\n",
                label.c_str(), variant.c_str(), t.pages, t.edgePrecision / n, t.edgeRecall / n,
                t.edgeF / n, t.fMeasure / n, t.failed);
    std::fflush(stdout);
}

std::vector<fs::path> SortedEntries(const fs::path& dir) {
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(dir)) {
        entries.push_back(entry.path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "--help") {
        std::cout << kHelp;
        return argc < 2 ? 2 : 0;
    }
    const fs::path dataDir = argv[1];
    const std::map<std::string, Enhancement> known = Variants();
    std::vector<std::string> chosen;
    for (int i = 2; i < argc; ++i) {
        if (known.count(argv[i]) == 0) {
            std::cerr << "unknown variant " << argv[i] << "\n";
            return 2;
        }
        chosen.push_back(argv[i]);
    }
    if (chosen.empty()) {
        chosen = {"enhance", "identity"};
    }

    std::map<std::string, Totals> overall;
    std::ostringstream silenced;
    for (const fs::path& setDir : SortedEntries(dataDir)) {
        if (!fs::is_directory(setDir)) {
            continue;
        }
        std::map<std::string, Totals> perSet;
        for (const fs::path& page : SortedEntries(setDir)) {
            const std::string stem = page.stem().string();
            if (page.extension() != ".png" ||
                (stem.size() > 3 && stem.compare(stem.size() - 3, 3, "_gt") == 0)) {
                continue;
            }
            const cv::Mat colour = cv::imread(page.string(), cv::IMREAD_COLOR);
            const cv::Mat truth =
                cv::imread((setDir / (stem + "_gt.png")).string(), cv::IMREAD_GRAYSCALE);
            if (colour.empty() || truth.empty()) {
                continue;
            }
            cv::Mat gray;
            cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
            for (const std::string& variant : chosen) {
                std::streambuf* previous = std::cout.rdbuf(silenced.rdbuf());
                const auto start = std::chrono::steady_clock::now();
                const PageScores scores = RunPage(gray, truth, known.at(variant));
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                std::cout.rdbuf(previous);
                silenced.str("");
                perSet[variant].Add(scores);
                overall[variant].Add(scores);
                std::printf(
                    "  %-16s %-9s edgeP %6.2f  edgeR %6.2f  edgeF %6.2f  F %6.2f%s  %.1fs\n",
                    (setDir.filename().string() + "/" + stem).c_str(), variant.c_str(),
                    scores.edgePrecision, scores.edgeRecall, scores.edgeF, scores.fMeasure,
                    scores.failed ? "  FAILED" : "", seconds);
                std::fflush(stdout);
            }
        }
        for (const std::string& variant : chosen) {
            PrintRow(setDir.filename().string(), variant, perSet[variant]);
        }
    }
    for (const std::string& variant : chosen) {
        PrintRow("all pages", variant, overall[variant]);
    }
    return 0;
}
