// The public entry points: checks what the caller hands in, takes the grey page
// and runs the driver.
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "edgebin/edgebin.hpp"
#include "pipeline/binarize.h"
#include "pipeline/self_check.h"

namespace edgebin {

namespace {

bool CheckParameter(const char* name, double value, double bound, std::string& message) {
    if (std::isfinite(value) && std::fabs(value) <= bound) {
        return true;
    }
    std::ostringstream text;
    text << name << " = " << value << " is outside [-" << bound << ", " << bound << "]";
    message = text.str();
    return false;
}

bool CheckThreads(int threads, std::string& message) {
    if (threads >= 1 && threads <= kMaxThreads) {
        return true;
    }
    message = "threads = " + std::to_string(threads) + " is outside [1, " +
              std::to_string(kMaxThreads) + "]";
    return false;
}

Result Failure(int status, const std::string& message) {
    Result result;
    result.status = status;
    result.message = message;
    return result;
}

}  // namespace

bool CheckParameters(const Parameters& parameters, std::string& message) {
    return CheckParameter("alpha", parameters.alpha, kMaxAbsAlpha, message) &&
           CheckParameter("k", parameters.k, kMaxAbsK, message) &&
           CheckParameter("rthre", parameters.rthre, kMaxAbsRthre, message) &&
           CheckThreads(parameters.threads, message);
}

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

namespace detail {

Result BinarizeWithStages(const cv::Mat& image, const Parameters& parameters, StageImages* stages) {
    std::string message;
    if (!CheckParameters(parameters, message)) {
        return Failure(kStatusInvalidParameter, message);
    }
    if (image.dims <= 2 && (image.rows == 0 || image.cols == 0)) {
        return Failure(kStatusEmptyImage, "the image has no rows or no columns");
    }
    if (image.dims != 2 || image.depth() != CV_8U ||
        (image.channels() != 1 && image.channels() != 3)) {
        return Failure(kStatusUnsupportedImage,
                       "the image must be two-dimensional, 8-bit, with 1 or 3 channels");
    }
    cv::Mat grey = image;
    if (image.channels() == 3) {
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    }

    Result result;
    if (IsAlreadyBinary(grey)) {
        result.trace.copiedInput = true;
        result.image = grey.clone();
        return result;
    }
    result.status = BinarizeImage(grey, result.image, parameters.alpha, parameters.k,
                                  parameters.rthre, result.trace, stages, parameters.threads);
    if (result.status == kStatusOk) {
        CheckResult(grey, result.image, result.trace);
    } else if (result.status == kStatusNoStrokes) {
        result.message = "no stroke structure found at the global threshold nor at its half";
    } else {
        result.message = "the binarization failed";
        result.image.release();
    }
    return result;
}

}  // namespace detail

Result Binarize(const cv::Mat& image, const Parameters& parameters) {
    return detail::BinarizeWithStages(image, parameters, nullptr);
}

}  // namespace edgebin
