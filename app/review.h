// The review page of batch runs: one self-contained HTML file made from one or
// more --report files, with thumbnails of each scan and result built into a
// folder beside it, for people who look at pages rather than read figures.
#pragma once

#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace edgebin::cli {

struct ReviewOptions {
    std::vector<std::string> reports;  // JSON Lines files, "-" for standard input
    std::string page;                  // the HTML file to write
    std::string base = ".";            // folder the reports' paths are relative to
    bool skipExisting = false;         // keep images of the folder that are up to date
    bool images = true;                // build thumbnails and browser copies
    int jobs = 0;                      // threads for the images, 0 for one per core
};

// The last line of each (input, page) in the order the files are given, as a
// resumed run's report says ("the last one counts"). A line that is not a JSON
// object with a string "input" is left out with a warning on `err` (the partial
// last line of a run still in progress, say). False with `error` when a report
// cannot be read at all.
bool ReadReports(const std::vector<std::string>& paths,
                 std::vector<nlohmann::ordered_json>& records, std::ostream& err,
                 std::string& error);

// The folder beside the page that holds its images: review.html gives review-files.
std::string ImageFolder(const std::string& page);

// The file that redoes the page of `record` with the single-page command line:
// its output, or for a page of a multi-page input written as numbered files the
// name they were numbered from (bin/scan-002.png gives bin/scan.png).
std::string RedoOutput(const nlohmann::ordered_json& record);

// Builds the page `options` describe and returns the exit status: 0, kExitUsage
// for a report that cannot be read, kExitWriteFailed when the page or its folder
// cannot be written. Images that cannot be made are named on `err` (pages that
// failed in the batch excepted) and leave a gap in the list, nothing more.
int BuildReview(const ReviewOptions& options, std::ostream& err);

// The edgebin-review command line (args[0] is the program name).
int RunReview(const std::vector<std::string>& args);

}  // namespace edgebin::cli
