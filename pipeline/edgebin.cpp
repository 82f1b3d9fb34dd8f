// The public entry points: checks what the caller hands in, takes the grey page
// and runs the driver.
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>
#include <utility>

#include "edgebin/edgebin.hpp"
#include "pipeline/binarize.h"
#include "pipeline/polarity.h"
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

// A Polarity made from an integer can be none of the named ones.
bool CheckPolarity(Polarity polarity, std::string& message) {
    if (polarity == Polarity::kAuto || polarity == Polarity::kDarkInk ||
        polarity == Polarity::kLightInk) {
        return true;
    }
    message = "polarity = " + std::to_string(static_cast<int>(polarity)) +
              " is none of auto, dark-ink and light-ink";
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

bool CheckResolution(const char* name, double value, std::string& message) {
    if (std::isfinite(value) && value >= 0.0 && value <= kMaxResolution) {
        return true;
    }
    std::ostringstream text;
    text << name << " = " << value << " is outside [0, " << kMaxResolution << "]";
    message = text.str();
    return false;
}

// How many times the page is shrunk before the binarization; 1 keeps it as it is.
double WorkingScale(const Parameters& parameters) {
    if (parameters.resolution <= 0.0 || parameters.workingResolution <= 0.0) {
        return 1.0;
    }
    const double scale = parameters.resolution / parameters.workingResolution;
    return scale >= kMinRescaleFactor ? scale : 1.0;
}

cv::Size WorkingSize(const cv::Size& size, double scale) {
    const auto shrink = [scale](int length) {
        return std::max(1, static_cast<int>(std::lround(length / scale)));
    };
    return cv::Size(shrink(size.width), shrink(size.height));
}

Result Failure(int status, const std::string& message) {
    Result result;
    result.status = status;
    result.message = message;
    return result;
}

const std::pair<Polarity, const char*> kPolarityNames[] = {{Polarity::kAuto, "auto"},
                                                           {Polarity::kDarkInk, "dark-ink"},
                                                           {Polarity::kLightInk, "light-ink"}};

}  // namespace

const char* PolarityName(Polarity polarity) {
    for (const auto& [value, name] : kPolarityNames) {
        if (value == polarity) {
            return name;
        }
    }
    return "unknown";
}

const char* MendName(Mend mend) {
    switch (mend) {
        case Mend::kNoText:
            return "no text";
        case Mend::kFaintWriting:
            return "faint writing";
        case Mend::kNoiseFloor:
            return "noise floor";
        case Mend::kPaperTakenIn:
            return "paper taken in";
        case Mend::kNone:
            break;
    }
    return "none";
}

bool ParsePolarity(const std::string& name, Polarity& polarity) {
    for (const auto& [value, known] : kPolarityNames) {
        if (name == known) {
            polarity = value;
            return true;
        }
    }
    return false;
}

bool CheckParameters(const Parameters& parameters, std::string& message) {
    return CheckParameter("alpha", parameters.alpha, kMaxAbsAlpha, message) &&
           CheckParameter("k", parameters.k, kMaxAbsK, message) &&
           CheckParameter("rthre", parameters.rthre, kMaxAbsRthre, message) &&
           CheckPolarity(parameters.polarity, message) &&
           CheckThreads(parameters.threads, message) &&
           CheckResolution("resolution", parameters.resolution, message) &&
           CheckResolution("workingResolution", parameters.workingResolution, message);
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

namespace {

// Binarizes a grey page that is not two-level, as it is: polarity, the stages and
// the self-check; fills `result`.
void BinarizeGrey(const cv::Mat& grey, const Parameters& parameters, StageImages* stages,
                  Result& result) {
    Trace& trace = result.trace;
    trace.polarity =
        ChoosePolarity(grey, parameters.polarity, trace.polarityEvidence, parameters.threads);
    // A new image: `grey` may be the caller's.
    cv::Mat page;
    if (trace.polarity == Polarity::kLightInk) {
        cv::bitwise_not(grey, page);
    } else {
        page = grey;
    }
    // The run fills the trace afresh; what was decided before it is kept.
    const Polarity polarity = trace.polarity;
    const std::optional<double> evidence = trace.polarityEvidence;
    result.status = BinarizeImage(page, result.image, parameters.alpha, parameters.k,
                                  parameters.rthre, trace, stages, parameters.threads);
    trace.polarity = polarity;
    trace.polarityEvidence = evidence;
    if (result.status == kStatusOk) {
        CheckResult(page, result.image, trace, parameters.threads);
    } else if (result.status == kStatusNoStrokes) {
        result.message = "no stroke structure found at the global threshold nor at its half";
    } else {
        result.message = "the binarization failed";
        result.image.release();
    }
}

// Binarizes `grey` shrunk `scale` times and brings the result back to its size.
void BinarizeShrunk(const cv::Mat& grey, double scale, const Parameters& parameters,
                    StageImages* stages, Result& result) {
    // Area interpolation averages whole blocks, as a scanner at the lower
    // resolution would have; nearest brings the two levels back unchanged.
    cv::Mat working;
    cv::resize(grey, working, WorkingSize(grey.size(), scale), 0.0, 0.0, cv::INTER_AREA);
    BinarizeGrey(working, parameters, stages, result);
    result.trace.workingScale = scale;
    if (stages != nullptr) {
        stages->workingPage = working;
    }
    if (!result.image.empty()) {
        cv::Mat full;
        cv::resize(result.image, full, grey.size(), 0.0, 0.0, cv::INTER_NEAREST);
        result.image = full;
    }
}

// A page with no stroke structure at its own size can be one scanned far above the
// working resolution: hdibco2014/H03 enlarged three times (cubic), a 900 dpi scan,
// finds none, and F 96.7 at half that size. Pages whose half would be under this many
// pixels a side are not such scans and keep their status.
constexpr int kMinShrunkSide = 300;

void BinarizeAtHalfWithoutStrokes(const cv::Mat& grey, const Parameters& parameters,
                                  StageImages* stages, Result& result) {
    if (result.status != kStatusNoStrokes || std::min(grey.rows, grey.cols) < 2 * kMinShrunkSide) {
        return;
    }
    Result shrunk;
    BinarizeShrunk(grey, 2.0, parameters, stages, shrunk);
    if (shrunk.status != kStatusOk) {
        return;
    }
    shrunk.trace.shrunkForStrokes = true;
    shrunk.trace.suspect = true;
    shrunk.trace.suspectReasons.insert(shrunk.trace.suspectReasons.begin(),
                                       "no stroke structure at the page's own size, binarized "
                                       "at half of it");
    result = std::move(shrunk);
}

}  // namespace

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
    Trace& trace = result.trace;
    if (IsAlreadyBinary(grey)) {
        // A copy is the input given back; a guess would risk turning it inside out.
        trace.copiedInput = true;
        if (parameters.polarity == Polarity::kLightInk) {
            trace.polarity = Polarity::kLightInk;
            cv::bitwise_not(grey, result.image);
        } else {
            result.image = grey.clone();
        }
        return result;
    }
    const double scale = WorkingScale(parameters);
    if (scale == 1.0) {
        BinarizeGrey(grey, parameters, stages, result);
        BinarizeAtHalfWithoutStrokes(grey, parameters, stages, result);
        return result;
    }
    BinarizeShrunk(grey, scale, parameters, stages, result);
    return result;
}

}  // namespace detail

Result Binarize(const cv::Mat& image, const Parameters& parameters) {
    return detail::BinarizeWithStages(image, parameters, nullptr);
}

}  // namespace edgebin
