#include "app/stop_signal.h"

#include <atomic>
#include <csignal>
#include <cstring>

namespace edgebin::cli {

namespace {

// Written by the handler, read by the workers and the monitoring thread; a
// lock-free atomic is safe in a signal handler.
std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

void RecordSignal(int signal) {
    int none = 0;
    receivedSignal.compare_exchange_strong(none, signal);
}

void SetAction(int signal, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

}  // namespace

StopSignals::StopSignals() {
    receivedSignal = 0;
    for (const int signal : kStopSignals) {
        // SA_RESETHAND: the second signal takes the default action.
        SetAction(signal, RecordSignal, SA_RESETHAND);
    }
}

StopSignals::~StopSignals() {
    for (const int signal : kStopSignals) {
        SetAction(signal, SIG_DFL, 0);
    }
}

int StopSignals::Received() const {
    return receivedSignal.load();
}

const char* SignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "a signal";
    }
}

}  // namespace edgebin::cli
