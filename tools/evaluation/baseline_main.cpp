// edgebin-baseline: binarizes a page with a classical method, for comparison.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kUsageError = 2;
constexpr int kInputError = 1;
constexpr int kDefaultWindow = 31;

const char kHelp[] =
    "usage: edgebin-baseline METHOD INPUT OUTPUT [--window N] [--k K] [--time]\n"
    "\n"
    "Binarizes INPUT (read as colour, converted to grey) and writes OUTPUT with ink 0\n"
    "and paper 255. METHOD is one of\n"
    "  otsu     global Otsu threshold\n"
    "  niblack  T = mean + k*sd                       (default k -0.2)\n"
    "  sauvola  T = mean*(1 + k*(sd/128 - 1))         (default k 0.2)\n"
    "  wolf     Wolf-Jolion contrast-normalised form  (default k 0.5)\n"
    "  nick     T = mean + k*sqrt(sd^2 + mean^2)      (default k -0.2)\n"
    "The local methods are those of cv::ximgproc::niBlackThreshold over a square window\n"
    "of N pixels (odd, at least 3, default 31); a pixel is paper when it is above T.\n"
    "--time prints \"seconds S\", the time of the binarization call alone.\n";

struct Method {
    const char* name;
    int ximgprocMethod;  // -1 for Otsu
    double defaultK;
};

const Method kMethods[] = {
    {"otsu", -1, 0.0},
    {"niblack", cv::ximgproc::BINARIZATION_NIBLACK, -0.2},
    {"sauvola", cv::ximgproc::BINARIZATION_SAUVOLA, 0.2},
    {"wolf", cv::ximgproc::BINARIZATION_WOLF, 0.5},
    {"nick", cv::ximgproc::BINARIZATION_NICK, -0.2},
};

struct BaselineArguments {
    Method method = kMethods[0];
    std::string inputPath;
    std::string outputPath;
    int window = kDefaultWindow;
    double k = 0.0;
    bool kGiven = false;
    bool time = false;
    bool help = false;
};

Method FindMethod(const std::string& name) {
    for (const Method& method : kMethods) {
        if (name == method.name) {
            return method;
        }
    }
    throw std::invalid_argument("unknown method " + name);
}

// Whole of `value` as a number, or std::invalid_argument naming `option`.
double ParseNumber(const std::string& option, const std::string& value) {
    std::size_t used = 0;
    double number = 0.0;
    try {
        number = std::stod(value, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != value.size()) {
        throw std::invalid_argument("bad value for " + option + ": " + value);
    }
    return number;
}

// Throws std::invalid_argument on a malformed command line.
BaselineArguments ParseArguments(int argc, char** argv) {
    BaselineArguments arguments;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            arguments.help = true;
        } else if (arg == "--time") {
            arguments.time = true;
        } else if (arg == "--window" || arg == "--k") {
            if (i + 1 >= argc) {
                throw std::invalid_argument("missing value after " + arg);
            }
            const std::string value = argv[++i];
            const double number = ParseNumber(arg, value);
            if (arg == "--window") {
                if (number != std::floor(number) || number < 3 || number > 9999) {
                    throw std::invalid_argument("bad value for --window: " + value);
                }
                arguments.window = static_cast<int>(number);
            } else {
                arguments.k = number;
                arguments.kGiven = true;
            }
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            throw std::invalid_argument("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (arguments.help) {
        return arguments;
    }
    if (positional.size() != 3) {
        throw std::invalid_argument("expected METHOD INPUT OUTPUT (see --help)");
    }
    arguments.method = FindMethod(positional[0]);
    arguments.inputPath = positional[1];
    arguments.outputPath = positional[2];
    if (arguments.window < 3 || arguments.window % 2 == 0) {
        throw std::invalid_argument("--window must be odd and at least 3");
    }
    if (!arguments.kGiven) {
        arguments.k = arguments.method.defaultK;
    }
    return arguments;
}

void Binarize(const BaselineArguments& arguments, const cv::Mat& grey, cv::Mat& binary) {
    if (arguments.method.ximgprocMethod < 0) {
        cv::threshold(grey, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    } else {
        cv::ximgproc::niBlackThreshold(grey, binary, 255, cv::THRESH_BINARY, arguments.window,
                                       arguments.k, arguments.method.ximgprocMethod);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // An unreadable file gets our own one-line message instead of the library's warning.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    BaselineArguments arguments;
    try {
        arguments = ParseArguments(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "edgebin-baseline: " << error.what() << std::endl;
        return kUsageError;
    }
    if (arguments.help) {
        std::cout << kHelp;
        return 0;
    }
    const cv::Mat colour = cv::imread(arguments.inputPath, cv::IMREAD_COLOR);
    if (colour.empty()) {
        std::cerr << "edgebin-baseline: cannot read image " << arguments.inputPath << std::endl;
        return kInputError;
    }
    cv::Mat grey;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    cv::Mat binary;
    const auto start = std::chrono::steady_clock::now();
    Binarize(arguments, grey, binary);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (arguments.time) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.6f", elapsed.count());
        std::cout << "seconds " << seconds << std::endl;
    }
    bool written = false;
    try {
        written = cv::imwrite(arguments.outputPath, binary);
    } catch (const cv::Exception&) {
        written = false;
    }
    if (!written) {
        std::cerr << "edgebin-baseline: cannot write " << arguments.outputPath << std::endl;
        return kInputError;
    }
    return 0;
}
