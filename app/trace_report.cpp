#include "app/trace_report.h"

namespace edgebin::cli {

namespace {

void PrintMeasurement(const StrokeMeasurement& measurement, std::ostream& out) {
    if (measurement.emptyMask) {
        out << "empty block" << std::endl;
    }
    for (size_t j = 0; j < measurement.bandStrokeWidths.size(); ++j) {
        out << "After Integration****************The " << j
            << "th SW is: " << measurement.bandStrokeWidths[j] << std::endl;
    }
}

}  // namespace

void PrintParameterLine(const Parameters& parameters, std::ostream& out) {
    out << "//******* alpha = " << parameters.alpha << " ******* k = " << parameters.k
        << " ******* Rthre = " << parameters.rthre << " *******//" << std::endl;
}

void PrintWorkingResolution(const Parameters& parameters, const Trace& trace, std::ostream& out) {
    if (trace.shrunkForStrokes) {
        out << "Working scale: " << trace.workingScale
            << ", no stroke structure at the page's own size." << std::endl;
    } else if (trace.workingScale > 1.0) {
        out << "Working resolution: " << parameters.workingResolution
            << " dpi, the page was read at " << parameters.resolution << " dpi." << std::endl;
    }
}

void PrintTrace(const Result& result, std::ostream& out) {
    const Trace& trace = result.trace;
    // Only an inverted page says so: the lines of every other page stay as they were.
    if (trace.polarity == Polarity::kLightInk) {
        out << "Polarity: light-ink, the page was inverted." << std::endl;
    }
    if (trace.copiedInput) {
        out << "The input image is a binarized image. The output image is a copy of the "
               "input image."
            << std::endl;
        return;
    }
    if (trace.mainPeak >= 0) {
        out << "----------------- The main Peak Threshold is : " << trace.mainPeak << std::endl;
    }
    if (trace.secondPeak >= 0) {
        out << "----------------- The second Peak Threshold is : " << trace.secondPeak << std::endl;
        out << "ratio = " << trace.ratio << std::endl;
    }
    if (trace.finalThreshold < 0) {
        return;
    }
    out << "----------------- The Final Global Threshold is : " << trace.finalThreshold
        << std::endl;
    out << std::endl;
    for (const StrokeMeasurement& measurement : trace.measurements) {
        PrintMeasurement(measurement, out);
    }
    if (trace.reassignedThreshold >= 0) {
        out << "----------------- The Reassigned Final Global Threshold is : "
            << trace.reassignedThreshold << std::endl;
    }
    if (result.status != kStatusOk) {
        return;
    }
    out << std::endl;
    for (const StrokeMeasurement& measurement : trace.refinementPasses) {
        PrintMeasurement(measurement, out);
    }
}

std::string SelfCheckNote(const Trace& trace) {
    std::string note;
    if (trace.mend == Mend::kNoiseFloor) {
        note = "the main peak " + std::to_string(trace.mendedFrom) +
               " lay in the noise, the peak " + std::to_string(trace.finalThreshold) +
               " above it was used";
    } else if (trace.mend == Mend::kPaperTakenIn) {
        // Without a peak above, the level used is the one half as high again, or
        // raised further.
        const char* used = trace.secondPeak == trace.finalThreshold ? " the peak " : " the level ";
        note = "the peak " + std::to_string(trace.mendedFrom) + " took in paper," + used +
               std::to_string(trace.finalThreshold) + " above it was used";
    } else if (trace.mendedFrom >= 0) {
        const char* why =
            trace.mend == Mend::kFaintWriting ? " left out faint writing" : " kept no text";
        note = "the higher peak " + std::to_string(trace.mendedFrom) + why + ", the lower peak " +
               std::to_string(trace.finalThreshold) + " was used";
    }
    if (!note.empty() && trace.reassignedThreshold >= 0) {
        note += ", halved to " + std::to_string(trace.reassignedThreshold);
    }
    if (trace.otherInkDeepening) {
        note += note.empty() ? "" : "; ";
        note += "the first result was almost empty, the other choice of ink deepening was used";
    }
    if (!trace.suspect) {
        return note;
    }
    note += note.empty() ? "suspect: " : "; suspect: ";
    for (size_t i = 0; i < trace.suspectReasons.size(); ++i) {
        note += (i > 0 ? ", " : "") + trace.suspectReasons[i];
    }
    return note;
}

}  // namespace edgebin::cli
