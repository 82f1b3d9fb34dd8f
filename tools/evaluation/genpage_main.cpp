// edgebin-genpage: writes a synthetic degraded page and its exact ground truth.
#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "tools/evaluation/page_generator.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kOutputError = 1;

const char kHelp[] =
    "usage: edgebin-genpage --out PAGE.png [--gt TRUTH.png] [--seed N] [--width W]\n"
    "                       [--height H] [--difficulty D] [--class NAME [--fonts DIR]]\n"
    "\n"
    "Draws lines of printed or handwritten-looking text on paper with an illumination\n"
    "gradient, stains, faded ink, bleed-through, blur, noise and JPEG artefacts, and\n"
    "writes the grey page to PAGE and the ink mask before degradation (ink 0, paper 255)\n"
    "to TRUTH, by default PAGE's name with _gt.png in place of its extension.\n"
    "The same options always give the same images.\n"
    "\n"
    "  --seed N        random seed (default 1)\n"
    "  --width W       page width in pixels, at least 64 (default 1200)\n"
    "  --height H      page height in pixels, at least 64 (default 900)\n"
    "  --difficulty D  0 clean .. 1 heavily degraded (default 0.5)\n"
    "  --class NAME    instead, a page of real words in a DejaVu font with one kind of\n"
    "                  degradation: noise, faint, verso, border, texture, thin or\n"
    "                  dark-beside-faint; or with large dark areas that a polarity\n"
    "                  guess must not take for the paper: photo, book-edge, stains or\n"
    "                  table-header; the words go to PAGE's name with .txt in\n"
    "                  place of its extension\n"
    "  --fonts DIR     folder of the DejaVu fonts (default\n"
    "                  /usr/share/fonts/truetype/dejavu, from fonts-dejavu-core)\n";

struct GenpageArguments {
    PageOptions page;
    std::string pagePath;
    std::string truthPath;
    std::string fontDir = "/usr/share/fonts/truetype/dejavu";
    bool classPage = false;
    PageClass pageClass = PageClass::kNoise;
    bool help = false;
};

// `pagePath` without its extension, followed by `suffix`.
std::string SiblingPath(const std::string& pagePath, const std::string& suffix) {
    const std::size_t slash = pagePath.find_last_of('/');
    const std::size_t dot = pagePath.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? pagePath.substr(0, dot) : pagePath) + suffix;
}

// Whole of `value` as a number, or std::invalid_argument naming `option`.
template <typename Number>
Number ParseNumber(const std::string& option, const std::string& value) {
    std::size_t used = 0;
    double number = 0.0;
    try {
        number = std::stod(value, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != value.size() ||
        (std::is_integral_v<Number> &&
         (number != std::floor(number) || number < std::numeric_limits<Number>::min() ||
          number > std::numeric_limits<Number>::max()))) {
        throw std::invalid_argument("bad value for " + option + ": " + value);
    }
    return static_cast<Number>(number);
}

// Throws std::invalid_argument on a malformed command line.
GenpageArguments ParseArguments(int argc, char** argv) {
    GenpageArguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            arguments.help = true;
            continue;
        }
        if (i + 1 >= argc) {
            throw std::invalid_argument("missing value after " + option);
        }
        const std::string value = argv[++i];
        if (option == "--seed") {
            arguments.page.seed = ParseNumber<std::uint32_t>(option, value);
        } else if (option == "--width") {
            arguments.page.width = ParseNumber<int>(option, value);
        } else if (option == "--height") {
            arguments.page.height = ParseNumber<int>(option, value);
        } else if (option == "--difficulty") {
            arguments.page.difficulty = ParseNumber<double>(option, value);
        } else if (option == "--out") {
            arguments.pagePath = value;
        } else if (option == "--gt") {
            arguments.truthPath = value;
        } else if (option == "--class") {
            if (!ParsePageClass(value, arguments.pageClass)) {
                throw std::invalid_argument("unknown class " + value);
            }
            arguments.classPage = true;
        } else if (option == "--fonts") {
            arguments.fontDir = value;
        } else {
            throw std::invalid_argument("unknown option " + option);
        }
    }
    if (arguments.help) {
        return arguments;
    }
    if (arguments.pagePath.empty()) {
        throw std::invalid_argument("--out is required (see --help)");
    }
    if (arguments.page.width < 64 || arguments.page.height < 64) {
        throw std::invalid_argument("width and height must be at least 64");
    }
    if (arguments.classPage && (arguments.page.width < 600 || arguments.page.height < 300)) {
        throw std::invalid_argument("class pages need a width of 600 and a height of 300");
    }
    if (arguments.truthPath.empty()) {
        arguments.truthPath = SiblingPath(arguments.pagePath, "_gt.png");
    }
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    GenpageArguments arguments;
    try {
        arguments = ParseArguments(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "edgebin-genpage: " << error.what() << std::endl;
        return kUsageError;
    }
    if (arguments.help) {
        std::cout << kHelp;
        return 0;
    }
    cv::Mat page;
    cv::Mat truth;
    if (arguments.classPage) {
        std::string text;
        try {
            GenerateClassPage(arguments.page, arguments.pageClass, arguments.fontDir, page, truth,
                              text);
        } catch (const cv::Exception& error) {
            std::cerr << "edgebin-genpage: " << error.what() << std::endl;
            return kOutputError;
        }
        const std::string textPath = SiblingPath(arguments.pagePath, ".txt");
        std::ofstream textFile(textPath);
        textFile << text;
        if (!textFile) {
            std::cerr << "edgebin-genpage: cannot write " << textPath << std::endl;
            return kOutputError;
        }
    } else {
        GeneratePage(arguments.page, page, truth);
    }
    for (const auto& [path, image] :
         {std::pair{arguments.pagePath, page}, std::pair{arguments.truthPath, truth}}) {
        bool written = false;
        try {
            written = cv::imwrite(path, image);
        } catch (const cv::Exception&) {
            written = false;
        }
        if (!written) {
            std::cerr << "edgebin-genpage: cannot write " << path << std::endl;
            return kOutputError;
        }
    }
    return 0;
}
