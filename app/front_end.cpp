#include "app/front_end.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "pipeline/binarize.h"

namespace {

// Exit statuses of the front end besides 0 and the driver's codes.
constexpr int kExitLoadFailed = -1;
constexpr int kExitUsage = 2;
constexpr int kExitWriteFailed = 3;

// Tuning values beyond these bounds would overflow the integer window sides and
// thresholds derived from them; no sensible setting comes near them.
constexpr double kMaxAbsAlpha = 1.0e4;
constexpr double kMaxAbsK = 1.0e6;
constexpr double kMaxAbsRthre = 1.0e6;

const char* const kUsage = "usage: edgebin imgPath [outPath] [alpha] [k] [Rthre]";

void PrintUsage() {
    std::cout << kUsage << std::endl;
}

void PrintHelp() {
    std::cout << kUsage << "\n"
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
              << "may be followed by other text (0.3x reads as 0.3).\n"
              << "\n"
              << "Exit status: 0 success; 255 (-1) image not loadable or no stroke structure\n"
              << "found; 11 image without rows or columns; 12 unsupported channel count;\n"
              << "2 bad command line; 3 output could not be written.\n"
              << "The output is written to a temporary file beside outPath and renamed over it\n"
              << "only once complete, so a failed run leaves no partial file." << std::endl;
}

// Reads the longest leading decimal number of `text`, ignoring what follows.
bool ReadNumber(const std::string& text, double& value) {
    std::stringstream stream;
    stream << text << "\n";
    double parsed = 0.0;
    stream >> parsed;
    if (stream.fail()) {
        return false;
    }
    value = parsed;
    return true;
}

bool ReadTuning(const std::string& name, const std::string& text, double bound, double& value) {
    double parsed = 0.0;
    if (!ReadNumber(text, parsed)) {
        std::cout << "invalid " << name << ": '" << text << "' is not a number." << std::endl;
        return false;
    }
    if (!std::isfinite(parsed) || std::fabs(parsed) > bound) {
        std::cout << "invalid " << name << ": " << text << " is outside [-" << bound << ", "
                  << bound << "]." << std::endl;
        return false;
    }
    value = parsed;
    return true;
}

std::string Extension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "";
    }
    return path.substr(dot);
}

std::string Directory(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

bool CanEncode(const std::string& outPath) {
    try {
        return !Extension(outPath).empty() && cv::haveImageWriter(outPath);
    } catch (const cv::Exception&) {
        return false;
    }
}

// The temporary file is created private; give the result the mode of the file it
// replaces, or the usual mode of a new file.
mode_t OutputMode(const std::string& outPath) {
    struct stat existing {};
    if (stat(outPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        return existing.st_mode & 07777;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Writes `image` to a temporary file in outPath's folder and renames it over
// outPath only when the encoder succeeded, so that outPath is never half-written
// and an existing file survives a failed run.
bool WriteImageAtomically(const cv::Mat& image, const std::string& outPath, std::string& reason) {
    const std::string extension = Extension(outPath);
    std::string pattern = Directory(outPath) + ".edgebin-XXXXXX" + extension;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemps(name.data(), static_cast<int>(extension.size()));
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    fchmod(fd, OutputMode(outPath));
    close(fd);
    const std::string tempPath(name.data());
    bool written = false;
    try {
        written = cv::imwrite(tempPath, image, std::vector<int>());
        if (!written) {
            reason = "the encoder failed";
        }
    } catch (const cv::Exception& error) {
        reason = error.err;
    }
    if (written && std::rename(tempPath.c_str(), outPath.c_str()) != 0) {
        reason = std::strerror(errno);
        written = false;
    }
    if (!written) {
        std::remove(tempPath.c_str());
    }
    return written;
}

bool LoadGrey(const std::string& imgPath, cv::Mat& grey) {
    cv::Mat image;
    try {
        image = cv::imread(imgPath, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        image.release();
    }
    if (image.empty() || image.total() == 0) {
        return false;
    }
    if (image.channels() > 1) {
        cv::cvtColor(image, image, cv::COLOR_BGR2GRAY, 0);
    }
    grey = image;
    return true;
}

}  // namespace

bool IsAlreadyBinary(const cv::Mat& grey) {
    CV_Assert(grey.type() == CV_8UC1);
    unsigned char seen[2] = {0, 0};
    int distinct = 0;
    for (int y = 0; y < grey.rows; ++y) {
        const unsigned char* row = grey.ptr<unsigned char>(y);
        for (int x = 0; x < grey.cols; ++x) {
            const unsigned char value = row[x];
            if ((distinct > 0 && seen[0] == value) || (distinct > 1 && seen[1] == value)) {
                continue;
            }
            if (distinct == 2) {
                return false;
            }
            seen[distinct++] = value;
        }
    }
    return true;
}

int RunEdgebin(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        PrintUsage();
        return kExitUsage;
    }
    if (args[1] == "-h" || args[1] == "--help") {
        PrintHelp();
        return 0;
    }

    const std::string& imgPath = args[1];
    cv::Mat grey;
    if (!LoadGrey(imgPath, grey)) {
        std::cout << "load image failed." << std::endl;
        std::cout << "imgPath:  " << imgPath << std::endl;
        return kExitLoadFailed;
    }

    const size_t given = args.size() - 1;
    const std::string outPath = given >= 2 ? args[2] : std::string();
    double alpha = 2.0;
    double k = 0.6;
    double Rthre = 0.05;
    if (given >= 3 && given <= 5) {
        if (!ReadTuning("alpha", args[3], kMaxAbsAlpha, alpha) ||
            (given >= 4 && !ReadTuning("k", args[4], kMaxAbsK, k)) ||
            (given >= 5 && !ReadTuning("Rthre", args[5], kMaxAbsRthre, Rthre))) {
            return kExitUsage;
        }
    }
    if (outPath.empty()) {
        std::cout << "no output path given." << std::endl;
        PrintUsage();
        return kExitUsage;
    }
    if (!CanEncode(outPath)) {
        std::cout << "cannot write " << outPath
                  << ": unknown image format (use an extension such as .png, .tif or .bmp)."
                  << std::endl;
        return kExitWriteFailed;
    }

    cv::Mat result;
    if (IsAlreadyBinary(grey)) {
        std::cout << "The input image is a binarized image. The output image is a copy of the "
                     "input image."
                  << std::endl;
        result = grey.clone();
    } else {
        const int status = BinarizeImage(grey, result, alpha, k, Rthre);
        if (status != 0) {
            std::cout << "There is something wrong in the binarization process." << std::endl;
            return status;
        }
    }

    std::string reason;
    if (!WriteImageAtomically(result, outPath, reason)) {
        std::cout << "cannot write " << outPath << ": " << reason << "." << std::endl;
        return kExitWriteFailed;
    }
    return 0;
}
