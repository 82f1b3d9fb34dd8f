#include "app/progress.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace edgebin::cli {

namespace {

// Seconds between two plain progress lines.
constexpr double kLineInterval = 5.0;
// The bar's share of the line: never wider than this, and left out below the minimum.
constexpr int kMaxBarWidth = 30;
constexpr int kMinBarWidth = 10;
constexpr int kDefaultColumns = 80;

int TerminalColumns(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return kDefaultColumns;
}

}  // namespace

ProgressSnapshot TakeSnapshot(const BatchCounts& counts, double seconds) {
    ProgressSnapshot snapshot;
    snapshot.total = counts.total.load();
    snapshot.written = counts.written.load();
    snapshot.skipped = counts.skipped.load();
    snapshot.failed = counts.failed.load();
    snapshot.seconds = seconds;
    return snapshot;
}

std::string FormatDuration(double seconds) {
    const long whole = static_cast<long>(std::max(0.0, seconds) + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

std::string FormatProgress(const ProgressSnapshot& snapshot, const std::string& separator) {
    const long worked = snapshot.written + snapshot.failed;
    const long done = worked + snapshot.skipped;
    const double rate = snapshot.seconds > 0 ? worked / snapshot.seconds : 0.0;
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(rate < 10 ? 2 : 1);
    text << done << "/" << snapshot.total << " pages" << separator << rate << " pages/s"
         << separator << "elapsed " << FormatDuration(snapshot.seconds) << separator << "ETA "
         << (worked > 0 ? FormatDuration((snapshot.total - done) / rate) : std::string("--"));
    if (snapshot.failed > 0) {
        text << separator << snapshot.failed << " failed";
    }
    return text.str();
}

ProgressDisplay::ProgressDisplay(std::ostream& out, Style style, int terminalFd)
    : out_(out), style_(style), terminalFd_(terminalFd) {}

std::string ProgressDisplay::Bar(const ProgressSnapshot& snapshot) const {
    const std::string counts = FormatProgress(snapshot, "  ");
    const int width = std::min(
        kMaxBarWidth, TerminalColumns(terminalFd_) - 1 - static_cast<int>(counts.size()) - 3);
    if (width < kMinBarWidth) {
        return counts;
    }
    const long done = snapshot.written + snapshot.skipped + snapshot.failed;
    const int filled = snapshot.total > 0
                           ? static_cast<int>(width * std::min(1.0, 1.0 * done / snapshot.total))
                           : 0;
    return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "] " + counts;
}

void ProgressDisplay::Show(const ProgressSnapshot& snapshot) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (style_ == Style::kBar) {
        // Carriage return and erase to the end of the line: the bar stays one line.
        out_ << "\r" << Bar(snapshot) << "\033[K" << std::flush;
        barShown_ = true;
    } else if (style_ == Style::kLines && snapshot.seconds - lastLine_ >= kLineInterval) {
        out_ << "edgebin: " << FormatProgress(snapshot, ", ") << std::endl;
        lastLine_ = snapshot.seconds;
    }
}

void ProgressDisplay::Message(const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    EraseBar();
    out_ << text << std::endl;
}

void ProgressDisplay::Clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    EraseBar();
    out_ << std::flush;
}

void ProgressDisplay::EraseBar() {
    if (barShown_) {
        out_ << "\r\033[K";
        barShown_ = false;  // drawn again at the next Show
    }
}

}  // namespace edgebin::cli
