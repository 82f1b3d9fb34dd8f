// Progress of a batch run on standard error: a one-line bar on a terminal, a plain
// line every few seconds otherwise.
//
// Hand-written because Debian offers no C++ progress-bar library (apt-cache search
// finds them for Python, Go, Perl, R, Haskell and Node only, and dbar is a separate
// program); the display is one formatted line.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <ostream>
#include <string>

namespace edgebin::cli {

// Page counts of a run, updated by the workers.
struct BatchCounts {
    std::atomic<long> total{0};    // pages known so far: multi-page inputs add theirs when opened
    std::atomic<long> written{0};  // pages binarized and written
    std::atomic<long> skipped{0};  // pages whose result already existed
    std::atomic<long> failed{0};
    std::atomic<long long> pixels{0};  // of the pages written
};

// A copy of the counts at one moment.
struct ProgressSnapshot {
    long total = 0;
    long written = 0;
    long skipped = 0;
    long failed = 0;
    double seconds = 0.0;  // since the run started
};

ProgressSnapshot TakeSnapshot(const BatchCounts& counts, double seconds);

// "40/82 pages  1.9 pages/s  elapsed 0:21  ETA 0:22  1 failed", with the rate over
// the pages worked on (skipped ones cost nothing) and "ETA --" before the first.
std::string FormatProgress(const ProgressSnapshot& snapshot, const std::string& separator);

// "0:21", or "1:02:03" from an hour on.
std::string FormatDuration(double seconds);

class ProgressDisplay {
  public:
    enum class Style { kNone, kBar, kLines };

    // `terminalFd`: descriptor whose window width sizes the bar.
    ProgressDisplay(std::ostream& out, Style style, int terminalFd);

    // Draws the bar again, or writes a line when the last is a few seconds old.
    void Show(const ProgressSnapshot& snapshot);

    // Writes `text` as a line of its own, above the bar. Safe from any thread.
    void Message(const std::string& text);

    // Clears the bar, so that the summary starts on a clean line.
    void Clear();

  private:
    std::string Bar(const ProgressSnapshot& snapshot) const;
    void EraseBar();  // with mutex_ held

    std::mutex mutex_;
    std::ostream& out_;
    Style style_;
    int terminalFd_;
    bool barShown_ = false;
    double lastLine_ = 0.0;
};

}  // namespace edgebin::cli
