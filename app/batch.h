// Batch runs: many inputs, one process.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/batch_report.h"

namespace edgebin::cli {

// Binarizes every input of `line` (mode kBatch) into line.outDir and returns the
// exit status.
int RunBatch(const CommandLine& line);

// Gathers the inputs of the batch `line` describes (its positionals, folders
// searched, and line.fromList) and checks, before any work, that the run can go
// ahead: some input is given, every folder can be searched, no two results
// collide, no input lies above the working folder, and line.outDir exists or can
// be made. Returns nothing when it can; otherwise the exit status (kExitUsage, or
// kExitWriteFailed for the output folder) with the reason in `message`.
std::optional<int> PlanBatch(const CommandLine& line, std::vector<std::string>& inputs,
                             std::string& message);

// Where the batch `line` writes an input that PlanBatch accepted: the file of its
// first page (numbered pages of a multi-page input are named from it).
std::string PlannedOutput(const CommandLine& line, const std::string& input);

// What BinarizeFile tells while it works; any of them may be empty.
struct FileEvents {
    // Asked before each page: true stops the file there. A multi-page file
    // written as one then gets no output at all.
    std::function<bool()> stopRequested;
    // The number of pages, once known (not called when the whole file is kept).
    std::function<void(int)> pagesCounted;
    // A result that already existed and was kept (line.skipExisting).
    std::function<void()> resultKept;
    // Each page worked on, written or failed. The record's trace lives only
    // during the call.
    std::function<void(PageRecord&)> pageDone;
};

// Binarizes every page of `input` with the tuning, output options and
// skipExisting of `line`, into `output` as the batch does: one file for one page,
// and for a multi-page TIFF one multi-page file (bilevel TIFF output, written
// when every page is done) or numbered files (NumberedPagePath). Folders are
// made as needed and every file is written atomically. A failed page costs only
// itself. Returns the pages left by a stop.
long BinarizeFile(const CommandLine& line, const std::string& input, const std::string& output,
                  const FileEvents& events);

}  // namespace edgebin::cli
