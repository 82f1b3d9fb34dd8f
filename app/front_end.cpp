#include "app/front_end.h"

#include <algorithm>
#include <cassert>
#include <iostream>
#include <opencv2/core/utility.hpp>

#include "app/arguments.h"
#include "app/batch.h"
#include "app/image_input.h"
#include "app/image_output.h"
#include "app/stage_images.h"
#include "app/trace_report.h"
#include "edgebin/edgebin.hpp"

namespace edgebin::cli {

namespace {

void PrintLoadFailure(const std::string& imgPath, const std::string& refusal, std::ostream& out) {
    if (!refusal.empty()) {
        out << refusal << std::endl;
    }
    out << "load image failed." << std::endl;
    out << "imgPath:  " << imgPath << std::endl;
}

// Refuses, before any work, an output whose format cannot hold the result or
// that is write-protected.
bool CheckOutput(const std::string& outPath, const OutputOptions& options, std::ostream& out) {
    if (!CanEncode(outPath)) {
        out << "cannot write " << outPath
            << ": unknown image format (use an extension such as .png, .tif or .bmp)." << std::endl;
        return false;
    }
    std::string reason;
    if (!CanEncode(outPath, options)) {
        reason = "1-bit output is written only as .png, .tif, .tiff or .pbm";
    } else if (CheckWritable(outPath, reason)) {
        return true;
    }
    out << "cannot write " << outPath << ": " << reason << "." << std::endl;
    return false;
}

// Binarizes `grey`, reporting on `report` (nothing when null) and keeping the
// working images in `stages` when given. Returns the status.
int BinarizeAndReport(const cv::Mat& grey, const Parameters& parameters, Result& result,
                      std::ostream* report, detail::StageImages* stages = nullptr) {
    // The parameter line goes out before the work, as a sign of life on long runs.
    if (report != nullptr && !IsAlreadyBinary(grey)) {
        PrintParameterLine(parameters, *report);
    }
    result = detail::BinarizeWithStages(grey, parameters, stages);
    if (report != nullptr) {
        PrintWorkingResolution(parameters, result.trace, *report);
        PrintTrace(result, *report);
    }
    if (result.status != kStatusOk && report != nullptr) {
        *report << "There is something wrong in the binarization process." << std::endl;
    }
    return result.status;
}

bool WriteResult(const cv::Mat& image, const std::string& outPath, const OutputOptions& options,
                 std::ostream& out) {
    std::string reason;
    if (WriteImageAtomically(image, outPath, options, reason)) {
        return true;
    }
    out << "cannot write " << outPath << ": " << reason << "." << std::endl;
    return false;
}

// A page to look at is named on standard error, whatever --quiet says: the report
// lines on standard output keep their form.
void NoteSelfCheck(const std::string& where, const Trace& trace) {
    const std::string note = SelfCheckNote(trace);
    if (!note.empty()) {
        std::cerr << "edgebin: " << where << ": " << note << "." << std::endl;
    }
}

// The plain form reads only the first page of a multi-page file; says so, on
// standard error so that the report stays as it always was. False for a file
// whose chain of pages breaks, which is told as damaged.
bool NoteLeftOutPages(const std::string& imgPath) {
    std::string chainBreak;
    const int pages = CountPages(imgPath, &chainBreak);
    if (!chainBreak.empty()) {
        std::cerr << "edgebin: " << imgPath << ": page " << pages << ": " << chainBreak
                  << "; only the first page was read." << std::endl;
        return false;
    }
    if (pages > 1) {
        std::cerr << "edgebin: " << imgPath << " has " << pages
                  << " pages; only the first was read, " << pages - 1
                  << " left out (with any --option every page is binarized)." << std::endl;
    }
    return true;
}

// imgPath [outPath] [alpha] [k] [Rthre], everything on standard output.
int RunPlain(const std::vector<std::string>& args) {
    const std::string& imgPath = args[1];
    cv::Mat grey;
    OutputOptions options;
    std::string refusal;
    if (!LoadGreyPage(imgPath, 0, grey, options.resolution, refusal)) {
        PrintLoadFailure(imgPath, refusal, std::cout);
        // Standard output keeps its lines; a script that reads only standard error
        // still learns which file failed, as in every other form.
        std::cerr << "edgebin: " << imgPath << ": "
                  << (refusal.empty() ? "load image failed." : refusal) << std::endl;
        return kExitLoadFailed;
    }
    const bool sound = NoteLeftOutPages(imgPath);

    const std::string outPath = args.size() >= 3 ? args[2] : std::string();
    Parameters parameters;
    if (!ReadTuningArguments(args, parameters, std::cout)) {
        return kExitUsage;
    }
    parameters.resolution = DeclaredResolution(options.resolution);
    if (outPath.empty()) {
        std::cout << "no output path given." << std::endl;
        PrintUsage(std::cout);
        return kExitUsage;
    }
    if (!CheckOutput(outPath, options, std::cout)) {
        return kExitWriteFailed;
    }
    Result result;
    const int status = BinarizeAndReport(grey, parameters, result, &std::cout);
    if (status != kStatusOk) {
        return status;
    }
    NoteSelfCheck(imgPath, result.trace);
    if (!WriteResult(result.image, outPath, options, std::cout)) {
        return kExitWriteFailed;
    }
    return sound ? 0 : kExitSomePagesFailed;
}

// One page of a long-form run, binarized with its report lines.
struct PageRun {
    int status = kStatusOk;
    cv::Mat image;
    Resolution resolution;
};

// Loads and binarizes page `index` of `pages`; failures are told on standard
// error, naming the page when the file has several.
PageRun BinarizePage(const CommandLine& line, int index, int pages, const std::string& chainBreak) {
    assert(index >= 0 && index < pages && !line.positionals.empty());
    const std::string& imgPath = line.positionals[0];
    const std::string where =
        pages > 1 ? imgPath + ": page " + std::to_string(index + 1) + " of " + std::to_string(pages)
                  : imgPath;
    PageRun run;
    if (!chainBreak.empty() && index == pages - 1) {
        std::cerr << "edgebin: " << where << ": " << chainBreak << "." << std::endl;
        run.status = kExitLoadFailed;
        return run;
    }
    cv::Mat grey;
    std::string refusal;
    if (!LoadGreyPage(imgPath, index, grey, run.resolution, refusal)) {
        if (pages > 1) {
            std::cerr << "edgebin: " << where << ": "
                      << (refusal.empty() ? "load image failed." : refusal) << std::endl;
        } else {
            PrintLoadFailure(imgPath, refusal, std::cerr);
        }
        run.status = kExitLoadFailed;
        return run;
    }
    // The page is binarized for the resolution it was scanned at, whatever it is
    // written with.
    Parameters parameters = line.parameters;
    parameters.resolution = DeclaredResolution(run.resolution);
    if (line.dpi > 0.0) {
        run.resolution = Resolution{line.dpi, line.dpi};
    }
    std::ostream* report = line.quiet ? nullptr : &std::cout;
    if (report != nullptr && pages > 1) {
        *report << "page " << index + 1 << " of " << pages << ":" << std::endl;
    }
    Result result;
    detail::StageImages stages;
    const bool debug = !line.debugDir.empty();
    run.status = BinarizeAndReport(grey, parameters, result, report, debug ? &stages : nullptr);
    if (run.status != kStatusOk && (line.quiet || pages > 1)) {
        std::cerr << "edgebin: " << where << ": " << result.message << "." << std::endl;
    }
    if (run.status == kStatusOk) {
        NoteSelfCheck(where, result.trace);
    }
    std::string reason;
    const std::string debugDir =
        pages > 1 ? NumberedPagePath(line.debugDir + "/page", index + 1) : line.debugDir;
    if (debug && !WriteStageImages(debugDir, grey, stages, result, reason)) {
        std::cerr << "edgebin: " << reason << "." << std::endl;
        run.status = kExitWriteFailed;
        return run;
    }
    run.image = result.image;
    return run;
}

// The plain form with options: report lines on standard output (none with
// --quiet), messages on standard error. Every page of a multi-page TIFF is
// binarized: into one multi-page TIFF with --bilevel and a TIFF output, else into
// numbered files. A page that fails is told and the others still come out, with
// status kExitSomePagesFailed.
int RunSinglePage(const CommandLine& line) {
    if (line.positionals.size() < 2) {
        std::cerr << "edgebin: " << (line.positionals.empty() ? "no input" : "no output path")
                  << " given." << std::endl;
        PrintUsage(std::cerr);
        return kExitUsage;
    }
    // --threads names the cores a page may take, OpenCV's functions included (no
    // more than the machine has: OpenCV's pool warns on standard error beyond that).
    if (line.threadsGiven) {
        cv::setNumThreads(std::min(line.parameters.threads, cv::getNumberOfCPUs()));
    }
    const std::string& outPath = line.positionals[1];
    std::string chainBreak;
    const int pages = std::max(1, CountPages(line.positionals[0], &chainBreak));
    OutputOptions options;
    options.bilevel = line.bilevel;
    const bool oneFile = pages == 1 || HoldsSeveralPages(outPath, options);
    if (!CheckOutput(oneFile ? outPath : NumberedPagePath(outPath, 1), options, std::cerr)) {
        return kExitWriteFailed;
    }
    std::vector<cv::Mat> images;
    std::vector<Resolution> resolutions;
    int failed = 0;
    for (int index = 0; index < pages; ++index) {
        const PageRun run = BinarizePage(line, index, pages, chainBreak);
        if (run.status != kStatusOk) {
            if (pages == 1) {
                return run.status;
            }
            ++failed;
            continue;
        }
        if (oneFile) {
            images.push_back(run.image);
            resolutions.push_back(run.resolution);
            continue;
        }
        options.resolution = run.resolution;
        if (!WriteResult(run.image, NumberedPagePath(outPath, index + 1), options, std::cerr)) {
            ++failed;
        }
    }
    if (!images.empty()) {
        std::string reason;
        if (!WritePagesAtomically(images, resolutions, outPath, options, reason)) {
            std::cerr << "cannot write " << outPath << ": " << reason << "." << std::endl;
            return kExitWriteFailed;
        }
    }
    return failed == 0 ? 0 : kExitSomePagesFailed;
}

}  // namespace

int RunEdgebin(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        PrintUsage(std::cout);
        return kExitUsage;
    }
    if (args.size() == 2 && args[1] == "-h") {
        PrintHelp(std::cout);
        return 0;
    }
    if (!IsLongForm(args)) {
        return RunPlain(args);
    }
    CommandLine line;
    if (const std::optional<int> status = ReadLongForm(args, line, std::cout, std::cerr)) {
        return *status;
    }
    return line.mode == Mode::kBatch ? RunBatch(line) : RunSinglePage(line);
}

}  // namespace edgebin::cli
