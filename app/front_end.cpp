#include "app/front_end.h"

#include <iostream>

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

bool CheckEncoder(const std::string& outPath, std::ostream& out) {
    if (CanEncode(outPath)) {
        return true;
    }
    out << "cannot write " << outPath
        << ": unknown image format (use an extension such as .png, .tif or .bmp)." << std::endl;
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
        PrintTrace(result, *report);
    }
    if (result.status != kStatusOk && report != nullptr) {
        *report << "There is something wrong in the binarization process." << std::endl;
    }
    return result.status;
}

bool WriteResult(const cv::Mat& image, const std::string& outPath, std::ostream& out) {
    std::string reason;
    if (WriteImageAtomically(image, outPath, reason)) {
        return true;
    }
    out << "cannot write " << outPath << ": " << reason << "." << std::endl;
    return false;
}

// imgPath [outPath] [alpha] [k] [Rthre], everything on standard output.
int RunPlain(const std::vector<std::string>& args) {
    const std::string& imgPath = args[1];
    cv::Mat grey;
    std::string refusal;
    if (!LoadGrey(imgPath, grey, refusal)) {
        PrintLoadFailure(imgPath, refusal, std::cout);
        return kExitLoadFailed;
    }

    const std::string outPath = args.size() >= 3 ? args[2] : std::string();
    Parameters parameters;
    if (!ReadTuningArguments(args, parameters, std::cout)) {
        return kExitUsage;
    }
    if (outPath.empty()) {
        std::cout << "no output path given." << std::endl;
        PrintUsage(std::cout);
        return kExitUsage;
    }
    if (!CheckEncoder(outPath, std::cout)) {
        return kExitWriteFailed;
    }
    Result result;
    const int status = BinarizeAndReport(grey, parameters, result, &std::cout);
    if (status != kStatusOk) {
        return status;
    }
    return WriteResult(result.image, outPath, std::cout) ? 0 : kExitWriteFailed;
}

// The plain form with options: report lines on standard output (none with
// --quiet), messages on standard error.
int RunSinglePage(const CommandLine& line) {
    if (line.positionals.size() < 2) {
        std::cerr << "edgebin: " << (line.positionals.empty() ? "no input" : "no output path")
                  << " given." << std::endl;
        PrintUsage(std::cerr);
        return kExitUsage;
    }
    const std::string& imgPath = line.positionals[0];
    const std::string& outPath = line.positionals[1];
    cv::Mat grey;
    std::string refusal;
    if (!LoadGrey(imgPath, grey, refusal)) {
        PrintLoadFailure(imgPath, refusal, std::cerr);
        return kExitLoadFailed;
    }
    if (!CheckEncoder(outPath, std::cerr)) {
        return kExitWriteFailed;
    }
    Result result;
    detail::StageImages stages;
    const bool debug = !line.debugDir.empty();
    const int status =
        BinarizeAndReport(grey, line.parameters, result, line.quiet ? nullptr : &std::cout,
                          debug ? &stages : nullptr);
    std::string reason;
    if (debug && !WriteStageImages(line.debugDir, grey, stages, result, reason)) {
        std::cerr << "edgebin: " << reason << "." << std::endl;
        return kExitWriteFailed;
    }
    if (status != kStatusOk) {
        if (line.quiet) {
            std::cerr << "edgebin: " << imgPath << ": " << result.message << "." << std::endl;
        }
        return status;
    }
    return WriteResult(result.image, outPath, std::cerr) ? 0 : kExitWriteFailed;
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
