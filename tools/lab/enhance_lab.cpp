// enhance-lab: tries variants of the page enhancement on a list of pages and prints
// one line of scores per page and variant, for choosing a design by leave-one-set-out
// (tools/lab/loso.py). The variants are prototypes in floating point; the chosen one is
// then written exactly in global/enhance.cpp.
#include <chrono>
#include <cstdio>
#include <fstream>
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

namespace {

const char kHelp[] =
    "usage: enhance-lab PAGES.tsv [--dump DIR] VARIANT...\n"
    "\n"
    "PAGES.tsv: set, id, input, truth per line (tab-separated). A VARIANT is 'product'\n"
    "(EnhancePage as built), 'exact,KEY=VALUE,...' (EnhancePageWith with noisy, borders or\n"
    "deepen changed), 'truth,...' (the page's ground truth as the enhanced page: the ceiling\n"
    "of any enhancement; share=S moves its edges S pixel into the ink, blur=B blurs it),\n"
    "or 'base=1,...' (steps tried after the product's enhancement) or a "
    "comma-separated list of key=value\n"
    "settings of the floating-point prototype (see Prototype). Prints per page: variant set id P R "
    "F DRD threshold noise seconds failed main-peak second-peak ratio.\n"
    "--dump DIR writes the enhanced page, gradient map, edge mask and result of every\n"
    "page to DIR/<variant index>_<id>_*.png.\n";

using Settings = std::map<std::string, double>;

double Get(const Settings& settings, const std::string& key, double fallback) {
    const auto found = settings.find(key);
    return found == settings.end() ? fallback : found->second;
}

Settings ParseSettings(const std::string& text) {
    Settings settings;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        settings[item.substr(0, eq)] = std::stod(item.substr(eq + 1));
    }
    return settings;
}

// Robust noise level: median absolute second difference over the page, scaled to the
// deviation of white Gaussian noise.
double NoiseSigma(const cv::Mat& grey) {
    cv::Mat f;
    grey.convertTo(f, CV_32F);
    const cv::Mat kernel = (cv::Mat_<float>(3, 3) << 1, -2, 1, -2, 4, -2, 1, -2, 1);
    cv::Mat response;
    cv::filter2D(f, response, CV_32F, kernel, cv::Point(-1, -1), 0, cv::BORDER_REFLECT);
    response = cv::abs(response);
    std::vector<float> values(response.begin<float>(), response.end<float>());
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    // For white noise the response has deviation 6 sigma; its median absolute value
    // is 0.6745 of that.
    return values[values.size() / 2] / (6.0 * 0.6745);
}

// deepen=0 never, 1 as the product chooses, 2 always.
InkDeepening DeepeningOf(double deepen) {
    if (deepen == 0.0) {
        return InkDeepening::kNever;
    }
    return deepen == 2.0 ? InkDeepening::kAlways : InkDeepening::kUnlessWideCores;
}

// Steps tried on top of the product's enhanced page (base=1).
cv::Mat AfterProduct(const cv::Mat& grey, const Settings& s) {
    cv::Mat enhanced, background;
    // The product before the ink deepening unless deepen=1 or 2.
    EnhanceSettings before;
    before.deepening = DeepeningOf(Get(s, "deepen", 0));
    EnhancePageWith(grey, 60, 0.2, before, enhanced, background);
    cv::Mat f;
    enhanced.convertTo(f, CV_32F);
    // Unsharp mask: edges steeper, so the gradient's ridge is narrower.
    const double sharpen = Get(s, "sharpen", 0.0);
    if (sharpen > 0.0) {
        cv::Mat blurred;
        const int box = static_cast<int>(Get(s, "sbox", 0));
        if (Get(s, "skern", 0) != 0) {
            // The integer 13-tap kernel of the product (deviation 2, sum 256).
            const cv::Mat taps =
                (cv::Mat_<float>(13, 1) << 1, 2, 7, 17, 31, 45, 50, 45, 31, 17, 7, 2, 1) / 256.0;
            cv::sepFilter2D(f, blurred, CV_32F, taps, taps, cv::Point(-1, -1), 0.0,
                            cv::BORDER_REFLECT);
        } else if (box > 0) {
            // Two passes of a box of side `box` (side 5: a 9x9 kernel of deviation 2).
            cv::blur(f, blurred, cv::Size(box, box), cv::Point(-1, -1), cv::BORDER_REFLECT);
            if (Get(s, "spass", 2) > 1) {
                cv::blur(blurred, blurred, cv::Size(box, box), cv::Point(-1, -1),
                         cv::BORDER_REFLECT);
            }
        } else {
            cv::GaussianBlur(f, blurred, cv::Size(), Get(s, "ssig", 1.0));
        }
        cv::Mat detail = f - blurred;
        // Only the lightening half (paper side of an edge), or only the darkening half.
        const double side = Get(s, "sside", 0);
        if (side > 0) {
            detail = cv::max(detail, 0.0);
        } else if (side < 0) {
            // Differences within the paper's grain are left alone.
            detail = cv::min(detail + Get(s, "sthr", 0.0), 0.0);
        }
        f = f + sharpen * detail;
    }
    // Grey opening/closing by a 3x3 square: ink thinner (1) or thicker (-1).
    const int erode = static_cast<int>(Get(s, "thin", 0));
    if (erode != 0) {
        const cv::Mat square = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
        if (erode > 0) {
            // A share of the 3x3 (or plus-shaped) maximum: ink edges move inwards
            // by a fraction of a pixel, and hairlines keep part of their depth.
            const cv::Mat shape = Get(s, "cross", 0) != 0
                                      ? cv::getStructuringElement(cv::MORPH_CROSS, cv::Size(3, 3))
                                      : square;
            cv::Mat grown;
            cv::dilate(f, grown, shape);
            const double share = Get(s, "share", 1.0);
            f = (1.0 - share) * f + share * grown;
        } else {
            cv::erode(f, f, square);
        }
    }
    cv::min(cv::max(f, 0.0), 255.0, f);
    // Global clip: depth clipped at a quantile of the ink-like depths (above 20)
    // and stretched back to the full range.
    const double clipQuantile = Get(s, "gclip", 0.0);
    if (clipQuantile > 0.0) {
        std::vector<float> inky;
        for (int y = 0; y < f.rows; ++y) {
            const float* row = f.ptr<float>(y);
            for (int x = 0; x < f.cols; ++x) {
                if (255.0f - row[x] > 20.0f) {
                    inky.push_back(255.0f - row[x]);
                }
            }
        }
        if (!inky.empty()) {
            const size_t k = static_cast<size_t>(clipQuantile * (inky.size() - 1));
            std::nth_element(inky.begin(), inky.begin() + k, inky.end());
            const double level = std::max(40.0, static_cast<double>(inky[k]));
            cv::Mat depth = cv::min(255.0 - f, level) * (255.0 / level);
            f = 255.0 - depth;
        }
    }
    // Noise coring: depth below `ncore` times the enhanced page's own grain is
    // taken off, so that the paper's grain forms no contours at the lowest levels.
    const double noiseCore = Get(s, "ncore", 0.0);
    const double fixedCore = Get(s, "nfix", 0.0);
    if (fixedCore > 0.0) {
        f = 255.0 - cv::max((255.0 - f) - fixedCore, 0.0);
    }
    if (noiseCore > 0.0) {
        cv::Mat page8;
        f.convertTo(page8, CV_8U);
        const double grain = std::max(Get(s, "nmin", 0.0), NoiseSigma(page8));
        cv::Mat depth = 255.0 - f;
        depth = cv::max(depth - noiseCore * grain, 0.0);
        f = 255.0 - depth;
    }
    // Relative coring: depth below `core` times the local ink depth (the deepest
    // pixel around, averaged over a window) is taken off, so that show-through
    // beside dark ink falls below the ink's edges.
    const double core = Get(s, "core", 0.0);
    if (core > 0.0) {
        cv::Mat depth = 255.0 - f;
        const int w = static_cast<int>(Get(s, "cw", 61)) | 1;
        cv::Mat local;
        cv::dilate(depth, local, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(w, w)));
        cv::blur(local, local, cv::Size(w, w), cv::Point(-1, -1), cv::BORDER_REFLECT);
        cv::Mat cut = core * local;
        cv::Mat kept = cv::max(depth - cut, 0.0);
        // Rescaled so that the deepest ink keeps its depth.
        if (Get(s, "crescale", 1) != 0) {
            cv::Mat room = cv::max(local - cut, 1.0);
            kept = kept.mul(local / room);
            kept = cv::min(kept, 255.0);
        }
        f = 255.0 - kept;
    }
    const double gamma = Get(s, "gamma", 1.0);
    if (gamma != 1.0) {
        cv::pow(f / 255.0, gamma, f);
        f *= 255.0;
    }
    f.convertTo(enhanced, CV_8U);
    return enhanced;
}

cv::Mat Prototype(const cv::Mat& grey, const Settings& s, double& sigmaOut) {
    if (Get(s, "base", 0) == 1) {
        return AfterProduct(grey, s);
    }
    cv::Mat work = grey.clone();
    const double sigma = NoiseSigma(grey);
    sigmaOut = sigma;
    // Denoising before the division.
    const int denoise = static_cast<int>(Get(s, "denoise", 0));
    const double from = Get(s, "nfrom", 0.0);
    if (denoise == 1 && sigma > from) {
        cv::medianBlur(work, work, 3);
    } else if (denoise == 2 && sigma > from) {
        const double blur = std::min(Get(s, "bmax", 2.0), Get(s, "bk", 0.1) * sigma);
        if (blur > 0.3) {
            cv::GaussianBlur(work, work, cv::Size(), blur);
        }
    } else if (denoise == 3) {
        cv::Mat b;
        cv::GaussianBlur(work, b, cv::Size(3, 3), 0);
        work = b;
    } else if (denoise == 4 && sigma > from) {
        cv::medianBlur(work, work, sigma > Get(s, "m5", 100.0) ? 5 : 3);
    }
    // The plain division by the paper, as before the enhancement had more steps.
    EnhanceSettings divisionOnly;
    divisionOnly.noisySigma = 1e9;
    divisionOnly.fillBorders = false;
    cv::Mat enhanced, background;
    EnhancePageWith(work, static_cast<int>(Get(s, "window", 60)), Get(s, "weight", 0.2),
                    divisionOnly, enhanced, background);
    // Depth clipping: ink deeper than `clip` below the paper is as dark as ink gets.
    const double clip = Get(s, "clip", 0.0);
    const double noiseClip = Get(s, "nclip", 0.0);
    if (clip > 0.0) {
        const double limit = std::max(clip, noiseClip * sigma);
        cv::Mat f;
        enhanced.convertTo(f, CV_32F);
        cv::Mat depth = 255.0 - f;
        cv::min(depth, limit, depth);
        f = 255.0 - depth * (255.0 / limit);
        f.convertTo(enhanced, CV_8U);
    }
    // Local stretch: depth below the paper over a local scale of the ink's depth, so
    // that faint and dark ink reach comparable gradients.
    const double stretchWindow = Get(s, "lw", 0.0);
    if (stretchWindow > 0.0) {
        cv::Mat f;
        enhanced.convertTo(f, CV_32F);
        cv::Mat depth = 255.0 - f;
        // Paper texture: a low quantile of the deepest pixel of 16-pixel blocks
        // (most blocks of a page hold no ink), taken off every depth.
        const double quantile = Get(s, "tq", 0.0);
        if (quantile > 0.0) {
            std::vector<float> maxima;
            for (int y = 0; y + 16 <= depth.rows; y += 16) {
                for (int x = 0; x + 16 <= depth.cols; x += 16) {
                    double lo = 0.0, hi = 0.0;
                    cv::minMaxLoc(depth(cv::Rect(x, y, 16, 16)), &lo, &hi);
                    maxima.push_back(static_cast<float>(hi));
                }
            }
            if (!maxima.empty()) {
                const size_t k = static_cast<size_t>(quantile * (maxima.size() - 1));
                std::nth_element(maxima.begin(), maxima.begin() + k, maxima.end());
                const double coring = Get(s, "tk", 1.0) * maxima[k];
                depth = cv::max(depth - coring, 0.0);
            }
        }
        cv::Mat scale;
        const int w = static_cast<int>(stretchWindow) | 1;
        cv::dilate(depth, scale, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(w, w)));
        cv::blur(scale, scale, cv::Size(w, w), cv::Point(-1, -1), cv::BORDER_REFLECT);
        const double floor = std::max(Get(s, "lfloor", 40.0), Get(s, "lnoise", 0.0) * sigma);
        cv::max(scale, floor, scale);
        cv::divide(depth, scale, depth);
        cv::min(depth, 1.0, depth);
        f = 255.0 - depth * 255.0;
        f.convertTo(enhanced, CV_8U);
    }
    const double gamma = Get(s, "gamma", 1.0);
    if (gamma != 1.0) {
        cv::Mat f;
        enhanced.convertTo(f, CV_32F, 1.0 / 255.0);
        cv::pow(f, gamma, f);
        f.convertTo(enhanced, CV_8U, 255.0);
    }
    if (Get(s, "border", 0) == 2) {
        std::vector<unsigned char> values(grey.begin<unsigned char>(), grey.end<unsigned char>());
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        const double level = Get(s, "bfrac", 0.45) * values[values.size() / 2];
        cv::Mat dark = grey < level;
        const int se = static_cast<int>(Get(s, "bse", 31));
        cv::morphologyEx(dark, dark, cv::MORPH_OPEN,
                         cv::getStructuringElement(cv::MORPH_RECT, cv::Size(se, se)));
        cv::Mat labels, stats, centroids;
        const int n = cv::connectedComponentsWithStats(dark, labels, stats, centroids, 8);
        cv::Mat fill = cv::Mat::zeros(grey.size(), CV_8UC1);
        for (int i = 1; i < n; ++i) {
            const int x = stats.at<int>(i, cv::CC_STAT_LEFT);
            const int y = stats.at<int>(i, cv::CC_STAT_TOP);
            const int w = stats.at<int>(i, cv::CC_STAT_WIDTH);
            const int h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
            if (x == 0 || y == 0 || x + w == grey.cols || y + h == grey.rows) {
                fill.setTo(255, labels == i);
            }
        }
        const int grow = static_cast<int>(Get(s, "bgrow", 7));
        cv::dilate(fill, fill, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(grow, grow)));
        enhanced.setTo(255, fill);
    }
    // Dark borders: large dark regions touching the page edge take the paper's value.
    if (Get(s, "border", 0) == 1) {
        cv::Mat dark = enhanced < Get(s, "bdark", 100);
        cv::Mat labels, stats, centroids;
        const int n = cv::connectedComponentsWithStats(dark, labels, stats, centroids, 8);
        const double minArea = Get(s, "barea", 0.002) * grey.total();
        for (int i = 1; i < n; ++i) {
            const int x = stats.at<int>(i, cv::CC_STAT_LEFT);
            const int y = stats.at<int>(i, cv::CC_STAT_TOP);
            const int w = stats.at<int>(i, cv::CC_STAT_WIDTH);
            const int h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
            const bool touches = x == 0 || y == 0 || x + w == grey.cols || y + h == grey.rows;
            if (touches && stats.at<int>(i, cv::CC_STAT_AREA) > minArea) {
                enhanced.setTo(255, labels == i);
            }
        }
    }
    return enhanced;
}

// The ground truth as the enhanced page: its gradients sit exactly where the ink
// ends, so the later stages see the best edges an enhancement could give them.
// share > 0 blends in the truth's plus-shaped grey maximum, which moves the edges
// that share of a pixel into the ink.
cv::Mat TruthAsEnhanced(const cv::Mat& truth, const Settings& s) {
    cv::Mat enhanced = truth.clone();
    const double share = Get(s, "share", 0.0);
    if (share > 0.0) {
        cv::Mat grown;
        cv::dilate(truth, grown, cv::getStructuringElement(cv::MORPH_CROSS, cv::Size(3, 3)));
        cv::addWeighted(grown, share, truth, 1.0 - share, 0.0, enhanced);
    }
    const double blur = Get(s, "blur", 0.0);
    if (blur > 0.0) {
        cv::GaussianBlur(enhanced, enhanced, cv::Size(), blur);
    }
    return enhanced;
}

struct PageRun {
    BinarizationScores scores;
    int threshold = 0;
    int mainPeak = -1;
    int secondPeak = -1;
    double ratio = -1.0;
    bool failed = false;
};

PageRun RunPage(const cv::Mat& gray, const cv::Mat& truth, const cv::Mat& enhanced,
                const std::string& dump) {
    PageRun run;
    StageImages stages;
    stages.enhancedInstead = enhanced;
    edgebin::Trace trace;
    cv::Mat result;
    run.failed = BinarizeImage(gray, result, 2.0, 0.6, 0.05, trace, &stages) != edgebin::kStatusOk;
    run.threshold = trace.finalThreshold;
    run.mainPeak = trace.mainPeak;
    run.secondPeak = trace.secondPeak;
    run.ratio = trace.ratio;
    if (run.failed) {
        result = cv::Mat(gray.size(), CV_8UC1, cv::Scalar(255));
    }
    const cv::Mat& gradMap = stages.gradMap;
    const cv::Mat& edgeMask = stages.edgeMask;
    run.scores = ScoreBinarization(result, truth);
    if (!dump.empty()) {
        cv::imwrite(dump + "_enhanced.png", enhanced);
        cv::imwrite(dump + "_gradient.png", gradMap);
        cv::imwrite(dump + "_edges.png", edgeMask);
        cv::imwrite(dump + "_result.png", result);
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cout << kHelp;
        return 2;
    }
    std::vector<std::string> variants;
    std::string dumpDir;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dump" && i + 1 < argc) {
            dumpDir = argv[++i];
        } else {
            variants.push_back(arg);
        }
    }
    std::ifstream list(argv[1]);
    std::string line;
    std::ostringstream silenced;
    while (std::getline(list, line)) {
        std::stringstream fields(line);
        std::string set, id, input, truthPath;
        std::getline(fields, set, '\t');
        std::getline(fields, id, '\t');
        std::getline(fields, input, '\t');
        std::getline(fields, truthPath, '\t');
        // Read and converted as the command-line tool does.
        const cv::Mat colour = cv::imread(input, cv::IMREAD_COLOR);
        cv::Mat gray;
        if (!colour.empty()) {
            cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
        }
        const cv::Mat truth = cv::imread(truthPath, cv::IMREAD_GRAYSCALE);
        if (gray.empty() || truth.empty()) {
            std::cerr << "skipped " << input << "\n";
            continue;
        }
        for (size_t v = 0; v < variants.size(); ++v) {
            std::streambuf* previous = std::cout.rdbuf(silenced.rdbuf());
            const auto start = std::chrono::steady_clock::now();
            cv::Mat enhanced;
            double sigma = 0.0;
            if (variants[v].rfind("truth", 0) == 0) {
                enhanced = TruthAsEnhanced(truth, ParseSettings(variants[v]));
            } else if (variants[v] == "product") {
                cv::Mat background;
                EnhancePage(gray, 60, 0.2, enhanced, background);
            } else if (variants[v].rfind("exact", 0) == 0) {
                const Settings settings = ParseSettings(variants[v]);
                EnhanceSettings chosen;
                chosen.noisySigma = Get(settings, "noisy", chosen.noisySigma);
                chosen.fillBorders = Get(settings, "borders", 1.0) != 0.0;
                chosen.deepening = DeepeningOf(Get(settings, "deepen", 1.0));
                cv::Mat background;
                EnhancePageWith(gray, 60, 0.2, chosen, enhanced, background);
            } else {
                enhanced = Prototype(gray, ParseSettings(variants[v]), sigma);
            }
            const double enhanceSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const std::string dump =
                dumpDir.empty() ? "" : dumpDir + "/" + std::to_string(v) + "_" + set + "_" + id;
            const PageRun run = RunPage(gray, truth, enhanced, dump);
            std::cout.rdbuf(previous);
            silenced.str("");
            std::printf("%s\t%s\t%s\t%.3f\t%.3f\t%.3f\t%.3f\t%d\t%.1f\t%.3f\t%d\t%d\t%d\t%.4f\n",
                        variants[v].c_str(), set.c_str(), id.c_str(), run.scores.precision,
                        run.scores.recall, run.scores.fMeasure, run.scores.drd, run.threshold,
                        sigma, enhanceSeconds, run.failed ? 1 : 0, run.mainPeak, run.secondPeak,
                        run.ratio);
            std::fflush(stdout);
        }
    }
    return 0;
}
