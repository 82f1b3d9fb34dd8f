// edgebin-eval: scores a binarized page against its ground truth.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "tools/evaluation/metrics.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kInputError = 1;

const char kHelp[] =
    "usage: edgebin-eval [--json] RESULT TRUTH\n"
    "\n"
    "Compares the binarized page RESULT with the ground truth TRUTH. Both are read as\n"
    "grey; a pixel is ink when it is 0 and paper otherwise. Prints one line of text, or\n"
    "one JSON object with --json.\n"
    "\n"
    "  precision  % of result ink pixels that are truth ink\n"
    "  recall     % of truth ink pixels that are result ink\n"
    "  F          F-measure, 2PR/(P+R), %\n"
    "  pF         pseudo F-measure, %: the harmonic mean of the precision above and the\n"
    "             pseudo-recall, the % of the truth ink skeleton (Zhang-Suen thinning,\n"
    "             cv::ximgproc::THINNING_ZHANGSUEN, of the truth ink padded with paper)\n"
    "             covered by result ink\n"
    "  PSNR       10 log10(1/MSE) in dB, MSE the share of differing pixels; inf when the\n"
    "             images agree everywhere (\"inf\" in JSON too)\n"
    "  DRD        distance-reciprocal distortion: each differing pixel adds the sum of\n"
    "             W(i,j)|truth(neighbour) - result(pixel)| over its 5x5 neighbourhood in\n"
    "             0/1 units, W(i,j) = 1/sqrt((i-2)^2+(j-2)^2) with centre 0, normalised to\n"
    "             sum 1; neighbours outside the image add nothing. The total is divided\n"
    "             by NUBN, the number of 8x8 truth blocks (tiled from the top-left, partial\n"
    "             edge blocks included) holding both ink and paper, or by 1 if NUBN = 0.\n"
    "\n"
    "When a ratio has a zero denominator it is 100 if neither image has any ink and 0\n"
    "otherwise. Exit status: 0 on success, 1 for unreadable images or a size mismatch,\n"
    "2 for a bad command line.\n";

struct EvalArguments {
    bool json = false;
    bool help = false;
    std::vector<std::string> paths;
};

bool ParseArguments(int argc, char** argv, EvalArguments& arguments, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            arguments.help = true;
        } else if (arg == "--json") {
            arguments.json = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            arguments.paths.push_back(arg);
        }
    }
    if (!arguments.help && arguments.paths.size() != 2) {
        error = "expected RESULT and TRUTH paths (see --help)";
        return false;
    }
    return true;
}

std::string FormatNumber(double value) {
    if (std::isinf(value)) {
        return "inf";
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.4f", value);
    return buffer;
}

std::string FormatJsonNumber(double value) {
    return std::isinf(value) ? "\"inf\"" : FormatNumber(value);
}

void PrintText(const BinarizationScores& s) {
    std::cout << "precision " << FormatNumber(s.precision) << " recall " << FormatNumber(s.recall)
              << " F " << FormatNumber(s.fMeasure) << " pF " << FormatNumber(s.pseudoFMeasure)
              << " PSNR " << FormatNumber(s.psnr) << " DRD " << FormatNumber(s.drd) << std::endl;
}

void PrintJson(const BinarizationScores& s) {
    std::cout << "{\"precision\": " << FormatJsonNumber(s.precision)
              << ", \"recall\": " << FormatJsonNumber(s.recall)
              << ", \"f_measure\": " << FormatJsonNumber(s.fMeasure)
              << ", \"pseudo_recall\": " << FormatJsonNumber(s.pseudoRecall)
              << ", \"pseudo_f_measure\": " << FormatJsonNumber(s.pseudoFMeasure)
              << ", \"psnr\": " << FormatJsonNumber(s.psnr)
              << ", \"drd\": " << FormatJsonNumber(s.drd) << "}" << std::endl;
}

bool ReadGrey(const std::string& path, cv::Mat& grey) {
    grey = cv::imread(path, cv::IMREAD_GRAYSCALE);
    if (grey.empty()) {
        std::cerr << "edgebin-eval: cannot read image " << path << std::endl;
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // An unreadable file gets our own one-line message instead of the library's warning.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    EvalArguments arguments;
    std::string error;
    if (!ParseArguments(argc, argv, arguments, error)) {
        std::cerr << "edgebin-eval: " << error << std::endl;
        return kUsageError;
    }
    if (arguments.help) {
        std::cout << kHelp;
        return 0;
    }
    cv::Mat result;
    cv::Mat truth;
    if (!ReadGrey(arguments.paths[0], result) || !ReadGrey(arguments.paths[1], truth)) {
        return kInputError;
    }
    if (result.size() != truth.size()) {
        std::cerr << "edgebin-eval: size mismatch: result " << result.cols << "x" << result.rows
                  << ", truth " << truth.cols << "x" << truth.rows << std::endl;
        return kInputError;
    }
    const BinarizationScores scores = ScoreBinarization(result, truth);
    if (arguments.json) {
        PrintJson(scores);
    } else {
        PrintText(scores);
    }
    return 0;
}
