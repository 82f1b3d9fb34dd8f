#include "app/arguments.h"

#include <cmath>
#include <limits>
#include <sstream>

namespace edgebin::cli {

namespace {

const char* const kUsage = "usage: edgebin imgPath [outPath] [alpha] [k] [Rthre]";

// Reads the longest leading decimal number of `text`, ignoring what follows.
// `overflow` tells a number too large for a double from text that is none.
bool ReadNumber(const std::string& text, double& value, bool& overflow) {
    std::stringstream stream;
    stream << text << "\n";
    double parsed = 0.0;
    stream >> parsed;
    overflow = stream.fail() && std::fabs(parsed) == std::numeric_limits<double>::max();
    if (stream.fail()) {
        return false;
    }
    value = parsed;
    return true;
}

bool ReadTuning(const std::string& name, const std::string& text, double bound, double& value,
                std::ostream& out) {
    double parsed = 0.0;
    bool overflow = false;
    if (!ReadNumber(text, parsed, overflow) && !overflow) {
        out << "invalid " << name << ": '" << text << "' is not a number." << std::endl;
        return false;
    }
    if (overflow || !std::isfinite(parsed) || std::fabs(parsed) > bound) {
        out << "invalid " << name << ": " << text << " is outside [-" << bound << ", " << bound
            << "]." << std::endl;
        return false;
    }
    value = parsed;
    return true;
}

}  // namespace

void PrintUsage(std::ostream& out) {
    out << kUsage << std::endl;
}

void PrintHelp(std::ostream& out) {
    out << kUsage << "\n"
        << "\n"
        << "Binarizes a document image: ink becomes 0, paper 255.\n"
        << "\n"
        << "  imgPath  image to read (any format OpenCV reads; converted to grey)\n"
        << "  outPath  image to write, format from its extension (.png, .tif, .bmp, ...)\n"
        << "  alpha    window scale of the local vote (default 2)\n"
        << "  k        weight of the deviation in the local threshold (default 0.6)\n"
        << "  Rthre    ratio threshold of the global stage (default 0.05)\n"
        << "\n"
        << "The numbers are read only when three to five arguments are given; a number\n"
        << "may be followed by other text (0.3x reads as 0.3). Refused: text that is no\n"
        << "number, nan, inf, |alpha| > 1e4, |k| > 1e6, |Rthre| > 1e6.\n"
        << "Images above 400 megapixels are refused, from the file header where the\n"
        << "format allows (PNG, JPEG, TIFF, BMP, PNM), before anything is decoded.\n"
        << "\n"
        << "Exit status: 0 success; 255 (-1) image not loadable or no stroke structure\n"
        << "found; 11 image without rows or columns; 12 unsupported channel count;\n"
        << "1 internal error; 2 bad command line; 3 output could not be written.\n"
        << "The output is written to a temporary file beside outPath and renamed over it\n"
        << "only once complete, so a failed run leaves no partial file." << std::endl;
}

bool ReadTuningArguments(const std::vector<std::string>& args, Parameters& parameters,
                         std::ostream& out) {
    const size_t given = args.size() - 1;
    if (given < 3 || given > 5) {
        return true;
    }
    return ReadTuning("alpha", args[3], kMaxAbsAlpha, parameters.alpha, out) &&
           (given < 4 || ReadTuning("k", args[4], kMaxAbsK, parameters.k, out)) &&
           (given < 5 || ReadTuning("Rthre", args[5], kMaxAbsRthre, parameters.rthre, out));
}

}  // namespace edgebin::cli
