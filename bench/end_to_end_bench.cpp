// edgebin-bench: where the time of one binarization goes, stage by stage, on
// generated pages of about 1, 4 and 16 megapixels and on the benchmark pages, next
// to OpenCV's Sauvola on the same page and (when built) the reference pipeline.
// Everything runs on one thread, except the optional wall-clock comparison of
// BinarizeImage at 1 and --threads N threads.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <limits>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/huge_page_allocator.h"
#include "bench/staged_pipeline.h"
#include "pipeline/binarize.h"
#include "tools/evaluation/page_generator.h"

using namespace edgebin::detail;

namespace {

namespace fs = std::filesystem;

constexpr int kSauvolaWindow = 31;
constexpr double kSauvolaK = 0.2;
// The reference pipeline is slow; it is only run on pages up to this size.
constexpr double kReferenceMaxMegapixels = 5.0;

struct BenchOptions {
    std::string dataDir = EDGEBIN_DATA_DIR;
    std::string binary = EDGEBIN_BINARY;
    std::string referenceBinary = EDGEBIN_REFERENCE_BINARY;
    std::string baselineBinary = EDGEBIN_BASELINE_BINARY;
    bool quick = false;
    // Generated pages to time, in megapixels (1, 4, 16 or 64); --quick means 1 and 4.
    std::vector<int> sizes = {1, 4, 16};
    int repeat = 3;
    // With more than 1: BinarizeImage is also timed on the wall clock at 1 and at
    // this many threads.
    int threads = 1;
    bool help = false;
};

struct BenchPage {
    std::string name;
    cv::Mat gray;
    bool generated = false;
};

struct ChildRun {
    bool ran = false;
    double seconds = 0.0;
    long maxRssKb = 0;
    int exitStatus = 0;
};

struct PageResult {
    std::string name;
    double megapixels = 0.0;
    std::array<double, kStageCount> stageSeconds{};
    double binarizeSeconds = 0.0;
    double sauvolaSeconds = 0.0;
    bool stagedMatches = false;
    double wallSeconds = 0.0;          // BinarizeImage, one thread, wall clock
    double threadedWallSeconds = 0.0;  // the same at BenchOptions::threads
    bool threadedMatches = false;
    ChildRun tool;
    ChildRun reference;
    ChildRun sauvolaTool;  // OpenCV's Sauvola as a whole process: load, binarize, write
};

const char kHelp[] =
    "usage: edgebin-bench [--quick] [--sizes LIST] [--data DIR] [--repeat N]\n"
    "                     [--threads N] [--binary PATH] [--reference PATH]\n"
    "                     [--baseline PATH]\n"
    "\n"
    "Times every stage of the binarization (single thread) on generated pages of about\n"
    "1, 4 and 16 megapixels and on every page of the benchmark data, with OpenCV's\n"
    "Sauvola (window 31, k 0.2) on the same page, the edgebin executable (processor\n"
    "time and peak memory), edgebin-baseline's Sauvola as a whole process (loading,\n"
    "binarizing and writing the same page) and, up to 5 MP, the reference executable.\n"
    "\n"
    "  --quick         no data pages, and only the 1 and 4 MP generated ones unless\n"
    "                  --sizes says otherwise\n"
    "  --sizes LIST    generated pages to time, megapixels from 1,4,16,64 (default\n"
    "                  1,4,16); the data pages are still timed unless --quick\n"
    "  --data DIR      benchmark pages (<set>/<id>.png), default ../shared/data\n"
    "  --repeat N      runs per generated page, the fastest counts (default 3)\n"
    "  --threads N     also time BinarizeImage on the wall clock at 1 and N threads\n"
    "                  and compare their results\n"
    "  --binary PATH   the edgebin executable to run\n"
    "  --reference PATH  the reference executable (skipped when missing)\n"
    "  --baseline PATH   the edgebin-baseline executable (skipped when missing)\n";

// Processor time of this process: everything runs on one thread, and unlike the
// wall clock it does not count the time other programs of a busy machine take.
double ProcessSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double TimeOnce(const std::function<void()>& body) {
    const double start = ProcessSeconds();
    body();
    return ProcessSeconds() - start;
}

// Threads share the work: only the wall clock shows what they gain.
double WallTimeOnce(const std::function<void()>& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + 1e-6 * static_cast<double>(time.tv_usec);
}

// "1,4,64" into {1, 4, 64}; only the generated sizes are accepted.
bool ParseSizes(const std::string& list, std::vector<int>& sizes) {
    sizes.clear();
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ',')) {
        if (item != "1" && item != "4" && item != "16" && item != "64") {
            return false;
        }
        sizes.push_back(std::stoi(item));
    }
    return !sizes.empty();
}

bool ParseOptions(int argc, char** argv, BenchOptions& options) {
    bool sizesGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--quick") {
            options.quick = true;
        } else if (argument == "--sizes" && hasValue) {
            if (!ParseSizes(argv[++i], options.sizes)) {
                return false;
            }
            sizesGiven = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--data" && hasValue) {
            options.dataDir = argv[++i];
        } else if (argument == "--binary" && hasValue) {
            options.binary = argv[++i];
        } else if (argument == "--reference" && hasValue) {
            options.referenceBinary = argv[++i];
        } else if (argument == "--baseline" && hasValue) {
            options.baselineBinary = argv[++i];
        } else if (argument == "--threads" && hasValue) {
            options.threads = std::atoi(argv[++i]);
            if (options.threads < 1 || options.threads > edgebin::kMaxThreads) {
                return false;
            }
        } else if (argument == "--repeat" && hasValue) {
            options.repeat = std::atoi(argv[++i]);
            if (options.repeat < 1) {
                return false;
            }
        } else {
            return false;
        }
    }
    if (options.quick && !sizesGiven) {
        options.sizes = {1, 4};
    }
    return true;
}

// Runs `program arguments...` with OpenCV held to one thread and the output thrown
// away; reports processor time, peak resident memory and exit status.
ChildRun RunChild(const std::string& program, const std::vector<std::string>& arguments) {
    ChildRun run;
    if (access(program.c_str(), X_OK) != 0) {
        return run;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        return run;
    }
    if (pid == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
        }
        setenv("OPENCV_FOR_THREADS_NUM", "1", 1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return run;
    }
    run.seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.ran = true;
    run.maxRssKb = usage.ru_maxrss;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

ChildRun FastestChildRun(const std::string& program, const std::vector<std::string>& arguments,
                         int repeat) {
    ChildRun best;
    for (int r = 0; r < repeat; ++r) {
        const ChildRun run = RunChild(program, arguments);
        if (!run.ran) {
            return best;
        }
        if (!best.ran || run.seconds < best.seconds) {
            const long peak = std::max(best.maxRssKb, run.maxRssKb);
            best = run;
            best.maxRssKb = peak;
        }
    }
    return best;
}

void TimeStages(const cv::Mat& gray, const TuningParameters& parameters, int repeat,
                PageResult& result, cv::Mat& stagedDst) {
    result.stageSeconds.fill(std::numeric_limits<double>::infinity());
    for (int r = 0; r < repeat; ++r) {
        StagedRun run;
        BeginRun(gray, run);
        for (int s = 0; s < kStageCount; ++s) {
            const double seconds =
                TimeOnce([&] { RunStage(static_cast<Stage>(s), parameters, run); });
            result.stageSeconds[s] = std::min(result.stageSeconds[s], seconds);
        }
        stagedDst = run.dst;
    }
}

// The fastest wall-clock BinarizeImage at `threads` threads, and its result.
double FastestWallRun(const cv::Mat& gray, int threads, int repeat, cv::Mat& dst) {
    const TuningParameters parameters;
    double best = std::numeric_limits<double>::infinity();
    for (int r = 0; r < repeat; ++r) {
        best = std::min(best, WallTimeOnce([&] {
                            edgebin::Trace trace;
                            BinarizeImage(gray, dst, parameters.alpha, parameters.k,
                                          parameters.rthre, trace, nullptr, threads);
                        }));
    }
    return best;
}

void TimeThreads(const cv::Mat& gray, int threads, int repeat, PageResult& result) {
    cv::Mat single;
    cv::Mat threaded;
    result.wallSeconds = FastestWallRun(gray, 1, repeat, single);
    result.threadedWallSeconds = FastestWallRun(gray, threads, repeat, threaded);
    result.threadedMatches = single.size() == threaded.size() &&
                             (single.empty() || cv::countNonZero(single != threaded) == 0);
}

PageResult MeasurePage(const BenchPage& page, const BenchOptions& options, int repeat,
                       const fs::path& scratch) {
    const TuningParameters parameters;
    PageResult result;
    result.name = page.name;
    result.megapixels = static_cast<double>(page.gray.total()) / 1e6;

    cv::Mat stagedDst;
    cv::Mat dst;
    {
        TimeStages(page.gray, parameters, repeat, result, stagedDst);
        result.binarizeSeconds = std::numeric_limits<double>::infinity();
        for (int r = 0; r < repeat; ++r) {
            dst = cv::Mat();
            result.binarizeSeconds =
                std::min(result.binarizeSeconds, TimeOnce([&] {
                             edgebin::Trace trace;
                             BinarizeImage(page.gray, dst, parameters.alpha, parameters.k,
                                           parameters.rthre, trace);
                         }));
        }
    }
    result.stagedMatches =
        stagedDst.size() == dst.size() && (dst.empty() || cv::countNonZero(stagedDst != dst) == 0);
    if (options.threads > 1) {
        TimeThreads(page.gray, options.threads, repeat, result);
    }

    result.sauvolaSeconds = std::numeric_limits<double>::infinity();
    for (int r = 0; r < repeat; ++r) {
        cv::Mat sauvola;
        result.sauvolaSeconds =
            std::min(result.sauvolaSeconds, TimeOnce([&] {
                         cv::ximgproc::niBlackThreshold(page.gray, sauvola, 255, cv::THRESH_BINARY,
                                                        kSauvolaWindow, kSauvolaK,
                                                        cv::ximgproc::BINARIZATION_SAUVOLA);
                     }));
    }

    const std::string pagePath = (scratch / "page.png").string();
    const std::string outPath = (scratch / "out.png").string();
    cv::imwrite(pagePath, page.gray);
    result.tool = FastestChildRun(options.binary, {pagePath, outPath}, repeat);
    result.sauvolaTool =
        FastestChildRun(options.baselineBinary, {"sauvola", pagePath, outPath}, repeat);
    if (result.megapixels <= kReferenceMaxMegapixels && page.generated) {
        result.reference = FastestChildRun(options.referenceBinary, {pagePath, outPath}, 1);
    }
    return result;
}

std::vector<BenchPage> GeneratedPages(const std::vector<int>& megapixels) {
    struct Size {
        int megapixels;
        const char* name;
        int width;
        int height;
        std::uint32_t seed;
    };
    const std::vector<Size> sizes = {{1, "gen-1MP", 1200, 850, 11},
                                     {4, "gen-4MP", 2400, 1700, 12},
                                     {16, "gen-16MP", 4800, 3400, 13},
                                     {64, "gen-64MP", 9600, 6800, 14}};
    std::vector<BenchPage> pages;
    for (const Size& size : sizes) {
        if (std::find(megapixels.begin(), megapixels.end(), size.megapixels) == megapixels.end()) {
            continue;
        }
        PageOptions pageOptions;
        pageOptions.seed = size.seed;
        pageOptions.width = size.width;
        pageOptions.height = size.height;
        pageOptions.difficulty = 0.5;
        BenchPage page;
        page.name = size.name;
        page.generated = true;
        cv::Mat truth;
        GeneratePage(pageOptions, page.gray, truth);
        pages.push_back(page);
    }
    return pages;
}

// Benchmark pages as the front end sees them: loaded as colour, converted to grey.
std::vector<fs::path> DataPagePaths(const std::string& dataDir) {
    std::vector<fs::path> paths;
    std::error_code error;
    if (!fs::is_directory(dataDir, error)) {
        return paths;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dataDir, error)) {
        const fs::path& path = entry.path();
        const std::string stem = path.stem().string();
        if (entry.is_regular_file() && path.extension() == ".png" &&
            (stem.size() < 3 || stem.compare(stem.size() - 3, 3, "_gt") != 0)) {
            paths.push_back(path);
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool LoadDataPage(const fs::path& path, BenchPage& page) {
    const cv::Mat colour = cv::imread(path.string(), cv::IMREAD_COLOR);
    if (colour.empty()) {
        return false;
    }
    cv::cvtColor(colour, page.gray, cv::COLOR_BGR2GRAY);
    page.name = path.parent_path().filename().string() + "/" + path.stem().string();
    return true;
}

std::string Milliseconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", seconds * 1e3);
    return text;
}

void PrintHeader() {
    std::printf("%-16s %6s", "page", "MP");
    for (int s = 0; s < kStageCount; ++s) {
        std::printf(" %8s", StageName(static_cast<Stage>(s)));
    }
    std::printf(" %9s %8s %7s %8s %9s %8s %7s %8s %7s\n", "Binarize", "Sauvola", "xSauv", "exe",
                "ref-exe", "speed-up", "B/px", "sauv-exe", "xSauvEx");
    std::printf("%-16s %6s", "", "");
    for (int s = 0; s < kStageCount; ++s) {
        std::printf(" %8s", "ms");
    }
    std::printf(" %9s %8s %7s %8s %9s %8s %7s %8s %7s\n", "ms", "ms", "", "ms", "ms", "", "", "ms",
                "");
}

void PrintRow(const PageResult& result, int threads) {
    std::printf("%-16s %6.2f", result.name.c_str(), result.megapixels);
    for (double seconds : result.stageSeconds) {
        std::printf(" %8s", Milliseconds(seconds).c_str());
    }
    const double pixels = result.megapixels * 1e6;
    std::printf(" %9s %8s %7.1f %8s %9s", Milliseconds(result.binarizeSeconds).c_str(),
                Milliseconds(result.sauvolaSeconds).c_str(),
                result.binarizeSeconds / result.sauvolaSeconds,
                result.tool.ran ? Milliseconds(result.tool.seconds).c_str() : "n/a",
                result.reference.ran ? Milliseconds(result.reference.seconds).c_str() : "n/a");
    if (result.reference.ran && result.tool.ran) {
        std::printf(" %8.1f", result.reference.seconds / result.tool.seconds);
    } else {
        std::printf(" %8s", "n/a");
    }
    if (result.tool.ran) {
        std::printf(" %7.1f", static_cast<double>(result.tool.maxRssKb) * 1024.0 / pixels);
    } else {
        std::printf(" %7s", "n/a");
    }
    if (result.sauvolaTool.ran && result.tool.ran) {
        std::printf(" %8s %7.2f", Milliseconds(result.sauvolaTool.seconds).c_str(),
                    result.tool.seconds / result.sauvolaTool.seconds);
    } else {
        std::printf(" %8s %7s", "n/a", "n/a");
    }
    if (!result.stagedMatches) {
        std::printf("  (staged result differs from BinarizeImage)");
    }
    if (result.tool.ran && result.tool.exitStatus != 0) {
        std::printf("  (exe status %d)", result.tool.exitStatus);
    }
    if (result.reference.ran && result.reference.exitStatus != result.tool.exitStatus) {
        std::printf("  (ref status %d)", result.reference.exitStatus);
    }
    std::printf("\n");
    if (result.threadedWallSeconds > 0.0) {
        std::printf("%-16s wall clock: 1 thread %s ms, %d threads %s ms, speed-up %.2f, %s\n", "",
                    Milliseconds(result.wallSeconds).c_str(), threads,
                    Milliseconds(result.threadedWallSeconds).c_str(),
                    result.wallSeconds / result.threadedWallSeconds,
                    result.threadedMatches ? "same result" : "RESULT DIFFERS");
    }
    std::fflush(stdout);
}

void PrintDataSummary(const std::vector<PageResult>& results) {
    if (results.empty()) {
        return;
    }
    double megapixels = 0.0;
    double binarize = 0.0;
    double sauvola = 0.0;
    long peakKb = 0;
    double worstBytesPerPixel = 0.0;
    for (const PageResult& result : results) {
        megapixels += result.megapixels;
        binarize += result.binarizeSeconds;
        sauvola += result.sauvolaSeconds;
        peakKb = std::max(peakKb, result.tool.maxRssKb);
        worstBytesPerPixel =
            std::max(worstBytesPerPixel, static_cast<double>(result.tool.maxRssKb) * 1024.0 /
                                             (result.megapixels * 1e6));
    }
    std::printf(
        "data pages: %zu, %.1f MP, BinarizeImage %.2f s (%.3f s/MP), Sauvola %.3f s, ratio %.1f, "
        "largest peak memory %.0f MB, worst %.1f B/px\n",
        results.size(), megapixels, binarize, binarize / megapixels, sauvola, binarize / sauvola,
        static_cast<double>(peakKb) / 1024.0, worstBytesPerPixel);
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions options;
    if (!ParseOptions(argc, argv, options) || options.help) {
        std::fputs(kHelp, options.help ? stdout : stderr);
        return options.help ? 0 : 2;
    }
    cv::setNumThreads(1);
    // The same image memory as the command-line tool, for the stages and Sauvola alike.
    // Static: images that outlive main, such as cached ones, are freed through it.
    static edgebin::cli::HugePageAllocator allocator;
    const edgebin::cli::ScopedMatAllocator useAllocator(&allocator);

    std::error_code error;
    const fs::path scratch =
        fs::temp_directory_path() / ("edgebin-bench-" + std::to_string(getpid()));
    fs::create_directories(scratch, error);

    std::printf(
        "single thread; processor times in ms, the fastest of %d runs on generated pages, one run "
        "on data pages;\nxSauv = Binarize / Sauvola; exe and ref-exe = whole runs of edgebin and "
        "edgebin-reference (load, binarize, write); B/px = peak memory of the edgebin run;\n"
        "sauv-exe = a whole run of edgebin-baseline sauvola, xSauvEx = exe / sauv-exe\n",
        options.repeat);
    PrintHeader();
    for (const BenchPage& page : GeneratedPages(options.sizes)) {
        PrintRow(MeasurePage(page, options, options.repeat, scratch), options.threads);
    }
    std::vector<PageResult> dataResults;
    if (!options.quick) {
        for (const fs::path& path : DataPagePaths(options.dataDir)) {
            BenchPage page;
            if (LoadDataPage(path, page)) {
                dataResults.push_back(MeasurePage(page, options, 1, scratch));
                PrintRow(dataResults.back(), options.threads);
            }
        }
        PrintDataSummary(dataResults);
    }
    fs::remove_all(scratch, error);
    return 0;
}
