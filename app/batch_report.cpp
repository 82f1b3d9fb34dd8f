#include "app/batch_report.h"

#include <cerrno>
#include <cstring>
#include <iostream>

namespace edgebin::cli {

namespace {

// The trace marks values it never reached with -1; JSON says null.
template <typename Number>
nlohmann::ordered_json LevelOrNull(Number value) {
    return value < 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(value);
}

nlohmann::ordered_json Measurements(const std::vector<StrokeMeasurement>& measurements) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const StrokeMeasurement& measurement : measurements) {
        list.push_back(measurement.emptyMask
                           ? nlohmann::ordered_json()
                           : nlohmann::ordered_json(measurement.bandStrokeWidths));
    }
    return list;
}

nlohmann::ordered_json Bands(const std::vector<TextBand>& bands) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const TextBand& band : bands) {
        list.push_back({{"top", band.top}, {"bottom", band.bottom}, {"width", band.strokeWidth}});
    }
    return list;
}

}  // namespace

nlohmann::ordered_json PageLine(const PageRecord& record) {
    nlohmann::ordered_json line = {
        {"input", record.input},
        {"page", record.page},
        {"pages", record.pageCount},
        {"output",
         record.output.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(record.output)},
        {"status", record.ok ? "ok" : "failed"},
        {"message", record.message},
        {"width", record.width},
        {"height", record.height},
        {"resolution", record.resolution.x > 0 || record.resolution.y > 0
                           ? nlohmann::ordered_json({record.resolution.x, record.resolution.y})
                           : nlohmann::ordered_json()},
        {"seconds", record.seconds},
        {"copied_input", nullptr},
        {"working_scale", nullptr},
        {"polarity", nullptr},
        {"thresholds", nullptr},
        {"stroke_widths", nullptr},
        {"verdict", nullptr},
        {"suspect_reasons", nullptr}};
    if (record.trace == nullptr) {
        return line;
    }
    const Trace& trace = *record.trace;
    line["copied_input"] = trace.copiedInput;
    line["working_scale"] = trace.workingScale;
    line["polarity"] = PolarityName(trace.polarity);
    line["thresholds"] = {
        {"main_peak", LevelOrNull(trace.mainPeak)},
        {"second_peak", LevelOrNull(trace.secondPeak)},
        {"ratio", LevelOrNull(trace.ratio)},
        {"final", LevelOrNull(trace.finalThreshold)},
        {"reassigned", LevelOrNull(trace.reassignedThreshold)},
        {"mended_from", LevelOrNull(trace.mendedFrom)},
        {"mend", trace.mend == Mend::kNone ? nlohmann::ordered_json()
                                           : nlohmann::ordered_json(MendName(trace.mend))}};
    line["stroke_widths"] = {{"measurements", Measurements(trace.measurements)},
                             {"refinement_passes", Measurements(trace.refinementPasses)},
                             {"bands", Bands(trace.bands)}};
    if (record.ok) {
        line["verdict"] = trace.suspect ? "suspect" : "ok";
        line["suspect_reasons"] = trace.suspectReasons;
    }
    return line;
}

bool BatchReport::Open(const std::string& path, bool append, std::string& error) {
    if (path.empty()) {
        return true;
    }
    if (path == "-") {
        out_ = &std::cout;
        return true;
    }
    file_.open(path, append ? std::ios::app : std::ios::trunc);
    if (!file_) {
        error = "cannot open the report " + path + ": " + std::strerror(errno);
        return false;
    }
    out_ = &file_;
    return true;
}

void BatchReport::Write(const PageRecord& record) {
    if (out_ == nullptr) {
        return;
    }
    // Formatted outside the lock: the workers only queue for the write itself.
    // File names are bytes, JSON is UTF-8: invalid sequences become U+FFFD
    // rather than stopping the run.
    const std::string text =
        PageLine(record).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
        "\n";
    const std::lock_guard<std::mutex> lock(mutex_);
    *out_ << text << std::flush;
}

bool BatchReport::Close() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (out_ == &file_) {
        file_.close();
        return !file_.fail();
    }
    return out_ == nullptr || out_->good();
}

}  // namespace edgebin::cli
