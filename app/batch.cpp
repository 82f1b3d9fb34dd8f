// A batch run: the inputs are gathered and their results named before any work,
// then worker threads take one input at a time, each page on one thread, while
// the calling thread shows the progress and watches for a stop signal.
#include "app/batch.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <opencv2/core.hpp>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "app/batch_report.h"
#include "app/image_input.h"
#include "app/image_output.h"
#include "app/input_list.h"
#include "app/output_naming.h"
#include "app/progress.h"
#include "app/stop_signal.h"
#include "app/trace_report.h"

namespace fs = std::filesystem;

namespace edgebin::cli {

namespace {

using Clock = std::chrono::steady_clock;

// How often the calling thread wakes to draw the progress and look for a signal.
constexpr std::chrono::milliseconds kMonitorInterval{200};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What the workers share. The counters are atomic; the report and the display
// lock for themselves.
struct BatchRun {
    BatchRun(const CommandLine& lineIn, const std::vector<std::string>& inputsIn,
             ProgressDisplay& displayIn, const StopSignals& stopIn)
        : line(lineIn), inputs(inputsIn), display(displayIn), stop(stopIn) {}

    const CommandLine& line;
    const std::vector<std::string>& inputs;
    BatchReport report;
    ProgressDisplay& display;
    const StopSignals& stop;
    Clock::time_point start = Clock::now();
    BatchCounts counts;
    std::atomic<size_t> nextInput{0};
    std::atomic<long> abandonedPages{0};  // pages of started inputs left by a stop
    std::mutex workersMutex;
    std::condition_variable workersDone;
    int activeWorkers = 0;
};

// The pages of one file on their way through: the batch's settings, and where
// each page is handed when done.
struct FileRun {
    const CommandLine& line;
    const FileEvents& events;
};

bool StopRequested(const FileRun& run) {
    return run.events.stopRequested && run.events.stopRequested();
}

// One page on its way through: what the report will say, and the result itself.
struct PageWork {
    PageRecord record;
    Result result;
    Clock::time_point start = Clock::now();
};

void Fail(PageWork& work, const std::string& message) {
    work.record.ok = false;
    work.record.message = message;
}

// Reads and binarizes page `page` of `input` into `work`.
void BinarizePage(const FileRun& run, const std::string& input, int page, PageWork& work) {
    cv::Mat grey;
    std::string refusal;
    if (!LoadGreyPage(input, page, grey, work.record.resolution, refusal)) {
        std::error_code error;
        const fs::file_status status = fs::status(input, error);
        Fail(work, !refusal.empty()               ? refusal
                   : !fs::exists(status)          ? "no such file"
                   : !fs::is_regular_file(status) ? "not a regular file"
                                                  : "cannot be read as an image");
        return;
    }
    work.record.width = grey.cols;
    work.record.height = grey.rows;
    Parameters parameters = run.line.parameters;
    parameters.resolution = DeclaredResolution(work.record.resolution);
    work.result = Binarize(grey, parameters);
    work.record.ok = work.result.status == kStatusOk;
    work.record.message = work.result.message;
    work.record.trace = &work.result.trace;
}

OutputOptions OptionsFor(const FileRun& run, const PageRecord& record) {
    OutputOptions options;
    options.bilevel = run.line.bilevel;
    options.resolution =
        run.line.dpi > 0 ? Resolution{run.line.dpi, run.line.dpi} : record.resolution;
    return options;
}

bool PrepareFolder(const std::string& outPath, std::string& reason) {
    std::error_code error;
    fs::create_directories(fs::path(outPath).parent_path(), error);
    reason = error ? "cannot create its folder: " + error.message() : "";
    return !error;
}

// Completes the record of a page and hands it on.
void Finish(const FileRun& run, PageWork& work) {
    work.record.seconds = SecondsSince(work.start);
    if (!work.record.ok) {
        work.record.output.clear();
    }
    if (run.events.pageDone) {
        run.events.pageDone(work.record);
    }
}

void WritePage(const FileRun& run, PageWork& work) {
    std::string reason;
    if (work.record.ok && (!PrepareFolder(work.record.output, reason) ||
                           !WriteImageAtomically(work.result.image, work.record.output,
                                                 OptionsFor(run, work.record), reason))) {
        Fail(work, "cannot write " + work.record.output + ": " + reason);
    }
    Finish(run, work);
}

// All pages of a multi-page input into one file: written only when every page has
// been worked on, so that a stop leaves no partial file.
void WritePagesTogether(const FileRun& run, std::vector<PageWork>& works) {
    std::vector<cv::Mat> pages;
    for (const PageWork& work : works) {
        if (work.record.ok) {
            pages.push_back(work.result.image);
        }
    }
    std::string reason;
    if (!pages.empty() && (!PrepareFolder(works[0].record.output, reason) ||
                           !WritePagesAtomically(pages, works[0].record.output,
                                                 OptionsFor(run, works[0].record), reason))) {
        for (PageWork& work : works) {
            if (work.record.ok) {
                Fail(work, "cannot write " + work.record.output + ": " + reason);
            }
        }
    }
    for (PageWork& work : works) {
        Finish(run, work);
    }
}

// Binarizes page `page` into `work` and, unless it waits for the other pages of
// its file, writes and reports it.
void ProcessPage(const FileRun& run, const std::string& input, int page, bool together,
                 PageWork& work) {
    try {
        BinarizePage(run, input, page, work);
        if (!together) {
            WritePage(run, work);
        }
    } catch (const std::exception& exception) {
        // An exhausted memory or a codec fault costs this page, not the run.
        Fail(work, std::string("internal error: ") + exception.what());
        if (!together) {
            Finish(run, work);
        }
    }
}

}  // namespace

long BinarizeFile(const CommandLine& line, const std::string& input, const std::string& output,
                  const FileEvents& events) {
    const FileRun run{line, events};
    std::error_code error;
    if (run.line.skipExisting && fs::exists(output, error)) {
        if (events.resultKept) {
            events.resultKept();
        }
        return 0;
    }
    // Only TIFF files can hold several pages; other inputs are not opened twice.
    std::string chainBreak;
    const int pageCount = IsTiffPath(input) ? std::max(1, CountPages(input, &chainBreak)) : 1;
    if (events.pagesCounted) {
        events.pagesCounted(pageCount);
    }
    const bool together = pageCount > 1 && HoldsSeveralPages(output, OptionsFor(run, PageRecord()));
    std::vector<PageWork> works(together ? pageCount : 1);
    for (int page = 0; page < pageCount; ++page) {
        if (StopRequested(run)) {
            return together ? pageCount : pageCount - page;
        }
        PageWork& work = works[together ? page : 0];
        work = PageWork();
        work.record.input = input;
        work.record.page = page + 1;
        work.record.pageCount = pageCount;
        work.record.output =
            pageCount > 1 && !together ? NumberedPagePath(output, page + 1) : output;
        if (!chainBreak.empty() && page == pageCount - 1) {
            Fail(work, chainBreak);
            if (!together) {
                Finish(run, work);
            }
        } else if (!together && run.line.skipExisting && fs::exists(work.record.output, error)) {
            if (events.resultKept) {
                events.resultKept();
            }
        } else {
            ProcessPage(run, input, page, together, work);
        }
    }
    if (together) {
        WritePagesTogether(run, works);
    }
    return 0;
}

namespace {

// Counts, reports and names a failed, mended or suspect page on standard error.
void Count(BatchRun& run, const PageRecord& record) {
    std::ostringstream where;
    where << "edgebin: " << record.input;
    if (record.pageCount > 1) {
        where << " (page " << record.page << ")";
    }
    if (record.ok) {
        ++run.counts.written;
        run.counts.pixels += static_cast<long long>(record.width) * record.height;
        const std::string note = record.trace != nullptr ? SelfCheckNote(*record.trace) : "";
        if (!note.empty()) {
            run.display.Message(where.str() + ": " + note);
        }
    } else {
        ++run.counts.failed;
        run.display.Message(where.str() + ": " + record.message);
    }
    run.report.Write(record);
}

void ProcessInput(BatchRun& run, const std::string& input) {
    FileEvents events;
    events.stopRequested = [&run] { return run.stop.Received() != 0; };
    events.pagesCounted = [&run](int pageCount) { run.counts.total += pageCount - 1; };
    events.resultKept = [&run] { ++run.counts.skipped; };
    events.pageDone = [&run](PageRecord& record) { Count(run, record); };
    run.abandonedPages += BinarizeFile(run.line, input, PlannedOutput(run.line, input), events);
}

void Work(BatchRun& run) {
    while (run.stop.Received() == 0) {
        const size_t index = run.nextInput++;
        if (index >= run.inputs.size()) {
            break;
        }
        ProcessInput(run, run.inputs[index]);
    }
    const std::lock_guard<std::mutex> lock(run.workersMutex);
    --run.activeWorkers;
    run.workersDone.notify_all();
}

void ShowProgressUntilDone(BatchRun& run) {
    bool stopAnnounced = false;
    std::unique_lock<std::mutex> lock(run.workersMutex);
    while (run.activeWorkers > 0) {
        run.workersDone.wait_for(lock, kMonitorInterval);
        if (run.stop.Received() != 0 && !stopAnnounced) {
            stopAnnounced = true;
            run.display.Message(std::string("edgebin: ") + SignalName(run.stop.Received()) +
                                ": finishing the pages in progress (send it again to stop at "
                                "once)");
        }
        run.display.Show(TakeSnapshot(run.counts, SecondsSince(run.start)));
    }
}

// Starts the workers and shows the progress until they are done.
void RunWorkers(BatchRun& run, int jobs) {
    run.activeWorkers = jobs;
    std::vector<std::thread> workers;
    for (int i = 0; i < jobs; ++i) {
        workers.emplace_back(Work, std::ref(run));
    }
    ShowProgressUntilDone(run);
    for (std::thread& worker : workers) {
        worker.join();
    }
    run.display.Clear();
}

bool GatherInputs(const CommandLine& line, std::vector<std::string>& inputs, std::string& error) {
    for (const std::string& argument : line.positionals) {
        if (!AddInputs(argument, line.outDir, inputs, error)) {
            return false;
        }
    }
    if (line.fromList.empty()) {
        return true;
    }
    std::ifstream file;
    if (line.fromList != "-") {
        file.open(line.fromList);
    }
    std::istream& list = line.fromList == "-" ? std::cin : file;
    if (!list) {
        error = "cannot read the list " + line.fromList;
        return false;
    }
    if (!ReadInputList(list, inputs, error)) {
        error = (line.fromList == "-" ? "standard input" : line.fromList) + ": " + error;
        return false;
    }
    if (list.bad()) {
        error = "cannot read the list " + line.fromList + " to its end";
        return false;
    }
    return true;
}

std::string Summary(const BatchRun& run, double seconds) {
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(2);
    const long written = run.counts.written;
    const int signal = run.stop.Received();
    text << "edgebin: ";
    if (signal != 0) {
        text << "stopped by " << SignalName(signal) << " after ";
    } else {
        text << run.counts.total << " pages in ";
    }
    text << FormatDuration(seconds) << ": " << written << " written, " << run.counts.skipped
         << " skipped, " << run.counts.failed << " failed";
    if (written > 0 && seconds > 0) {
        text << "; " << written / seconds << " pages/s, "
             << seconds / (static_cast<double>(run.counts.pixels) / 1e6) << " s/MP";
    }
    if (signal != 0) {
        const size_t started = std::min(run.nextInput.load(), run.inputs.size());
        text << "\nedgebin: left: " << run.inputs.size() - started << " inputs not started, "
             << run.abandonedPages << " pages of started inputs; run again with "
             << "--skip-existing to finish";
    }
    return text.str();
}

// The cores this process may run on: a scheduler's job or taskset may allow fewer
// than the machine has, which is all std::thread::hardware_concurrency counts.
size_t AvailableCores() {
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 0) {
        return static_cast<size_t>(CPU_COUNT(&cores));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

ProgressDisplay::Style ProgressStyle(const CommandLine& line) {
    if (line.quiet) {
        return ProgressDisplay::Style::kNone;
    }
    return isatty(STDERR_FILENO) ? ProgressDisplay::Style::kBar : ProgressDisplay::Style::kLines;
}

OutputNaming NamingFor(const CommandLine& line) {
    OutputNaming naming;
    naming.outDir = line.outDir;
    naming.format = line.format;
    naming.multiPageFile = line.bilevel && line.format == "tif";
    return naming;
}

}  // namespace

std::optional<int> PlanBatch(const CommandLine& line, std::vector<std::string>& inputs,
                             std::string& message) {
    if (line.positionals.empty() && line.fromList.empty()) {
        message = "no input given.";
        return kExitUsage;
    }
    if (!GatherInputs(line, inputs, message)) {
        return kExitUsage;
    }
    if (!CheckOutputsDistinct(inputs, NamingFor(line), message)) {
        message += "; nothing was done.";
        return kExitUsage;
    }
    // An output folder that cannot be made would fail every page, one by one.
    std::error_code error;
    fs::create_directories(line.outDir, error);
    if (error) {
        message = "cannot create " + line.outDir + ": " + error.message();
        return kExitWriteFailed;
    }
    return std::nullopt;
}

std::string PlannedOutput(const CommandLine& line, const std::string& input) {
    fs::path relative;
    std::string refusal;
    MirrorPath(input, relative, refusal);  // PlanBatch accepted every input
    return OutputPath(NamingFor(line), relative, 0, 1);
}

namespace {

// Writes the summary and returns the exit status of a finished run.
int Conclude(BatchRun& run) {
    const bool reportGood = run.report.Close();
    if (!reportGood) {
        std::cerr << "edgebin: the report " << run.line.report << " could not be written in full"
                  << std::endl;
    }
    const bool stopped = run.stop.Received() != 0;
    if (!run.line.quiet || stopped || run.counts.failed > 0 || !reportGood) {
        std::cerr << Summary(run, SecondsSince(run.start)) << std::endl;
    }
    if (stopped) {
        return kExitInterrupted;
    }
    if (run.counts.failed > 0) {
        return kExitSomePagesFailed;
    }
    return reportGood ? 0 : kExitWriteFailed;
}

}  // namespace

int RunBatch(const CommandLine& line) {
    std::vector<std::string> inputs;
    std::string message;
    if (const std::optional<int> status = PlanBatch(line, inputs, message)) {
        std::cerr << "edgebin: " << message << std::endl;
        if (line.positionals.empty() && line.fromList.empty()) {
            PrintUsage(std::cerr);
        }
        return *status;
    }
    ProgressDisplay display(std::cerr, ProgressStyle(line), STDERR_FILENO);
    const StopSignals stop;
    BatchRun run(line, inputs, display, stop);
    // With --skip-existing the run continues an earlier one, and so does its report.
    if (!run.report.Open(line.report, line.skipExisting, message)) {
        std::cerr << "edgebin: " << message << std::endl;
        return kExitWriteFailed;
    }
    run.counts.total = static_cast<long>(inputs.size());
    // Each page runs on one worker; OpenCV's own thread pool inside every worker
    // would only compete with the other workers for the same cores.
    cv::setNumThreads(1);
    const size_t jobs =
        std::min<size_t>(line.jobs > 0 ? line.jobs : AvailableCores(), inputs.size());
    RunWorkers(run, static_cast<int>(std::max<size_t>(jobs, 1)));
    return Conclude(run);
}

}  // namespace edgebin::cli
