// Stopping a batch run cleanly on SIGINT or SIGTERM.
#pragma once

namespace edgebin::cli {

// While an instance lives, SIGINT and SIGTERM only record that a stop was asked
// for, so that the workers can finish the pages they hold and the report stays
// complete. The first signal also restores the default action: a second one ends
// the process at once (outputs stay whole, as they are written atomically).
//
// A signal handler can reach no object, so the signal number lives in one
// process-wide atomic flag in stop_signal.cpp: the only global mutable state of
// the program. Only one instance may exist at a time.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The number of the first signal received, 0 while none came.
    int Received() const;
};

// "SIGINT", "SIGTERM", or "a signal" for any other.
const char* SignalName(int signal);

}  // namespace edgebin::cli
