#include "app/front_end.h"

#include <iostream>

#include "app/arguments.h"
#include "app/image_input.h"
#include "app/image_output.h"
#include "app/trace_report.h"
#include "edgebin/edgebin.hpp"

namespace edgebin::cli {

int RunEdgebin(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        PrintUsage(std::cout);
        return kExitUsage;
    }
    if (args[1] == "-h" || args[1] == "--help") {
        PrintHelp(std::cout);
        return 0;
    }

    const std::string& imgPath = args[1];
    cv::Mat grey;
    std::string refusal;
    if (!LoadGrey(imgPath, grey, refusal)) {
        if (!refusal.empty()) {
            std::cout << refusal << std::endl;
        }
        std::cout << "load image failed." << std::endl;
        std::cout << "imgPath:  " << imgPath << std::endl;
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
    if (!CanEncode(outPath)) {
        std::cout << "cannot write " << outPath
                  << ": unknown image format (use an extension such as .png, .tif or .bmp)."
                  << std::endl;
        return kExitWriteFailed;
    }

    // The parameter line goes out before the work, as a sign of life on long runs.
    if (!IsAlreadyBinary(grey)) {
        PrintParameterLine(parameters, std::cout);
    }
    const Result result = Binarize(grey, parameters);
    PrintTrace(result, std::cout);
    if (result.status != kStatusOk) {
        std::cout << "There is something wrong in the binarization process." << std::endl;
        return result.status;
    }

    std::string reason;
    if (!WriteImageAtomically(result.image, outPath, reason)) {
        std::cout << "cannot write " << outPath << ": " << reason << "." << std::endl;
        return kExitWriteFailed;
    }
    return 0;
}

}  // namespace edgebin::cli
