// The report of a batch run: one JSON object per page, one per line (JSON Lines).
#pragma once

#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "app/image_input.h"
#include "edgebin/edgebin.hpp"

namespace edgebin::cli {

// What the report says about one page.
struct PageRecord {
    std::string input;
    int page = 1;        // from 1
    int pageCount = 1;   // pages of the input
    std::string output;  // the result written, empty when there is none
    bool ok = false;
    std::string message;           // why the page failed; empty when ok
    const Trace* trace = nullptr;  // null when the page was never binarized
    int width = 0;                 // pixels; 0 when the page could not be read
    int height = 0;
    Resolution resolution;  // of the input, dots per inch; 0 when it declares none
    double seconds = 0.0;   // reading, binarizing and writing the page
};

// The JSON object of one page: input, page, pages, output (null when nothing was
// written), status ("ok" or "failed"), message, width, height, resolution ([x, y]
// or null), seconds, copied_input, working_scale (how many times the page was
// shrunk, 1 when not), thresholds {main_peak, second_peak, ratio,
// final, reassigned} and stroke_widths {measurements, refinement_passes, bands};
// values the run never reached are null.
nlohmann::ordered_json PageLine(const PageRecord& record);

// The report file, shared by the workers.
class BatchReport {
  public:
    // Opens `path` for writing, "-" for standard output, "" for no report. With
    // `append` the lines of earlier runs are kept (a resumed run adds its own).
    bool Open(const std::string& path, bool append, std::string& error);

    // Writes the line of `record` and flushes it, so that a run stopped at any
    // point leaves whole lines for the pages it finished. Safe from any thread.
    void Write(const PageRecord& record);

    // Closes the report file (a write error may show only there) and says whether
    // every line was written. Called once the workers are done.
    bool Close();

  private:
    std::mutex mutex_;
    std::ofstream file_;
    std::ostream* out_ = nullptr;
};

}  // namespace edgebin::cli
