// SIGINT and SIGTERM as a request to end a capture cleanly, so that the I/Q file, the log and
// the recording are still written: the batch tool polls for it, the window is woken through a
// pipe its event loop watches.
#pragma once

#include <signal.h>

namespace qv {

struct StopSignalOptions {
    // The handler resets itself: a second signal acts as usual, so that a run stuck in its
    // close-time work can still be killed.
    bool ResetAfterFirst = false;
    // The handler also writes a byte to a pipe (made here) whose read end an event loop
    // watches. When that pipe cannot be made, no handler is installed at all.
    bool WakePipe = false;
};

// Catches SIGINT and SIGTERM from construction to destruction, which puts the previous
// handlers back. One at a time per process.
class StopSignals {
public:
    explicit StopSignals(StopSignalOptions options);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // SIGINT or SIGTERM once one has arrived, else 0.
    int Received() const;
    // The wake pipe's read end (non-blocking), -1 without one.
    int WakeFd() const { return pipe_[0]; }
    // Takes what the handler wrote out of the wake pipe, for the event loop's callback.
    void DrainWake();

private:
    bool installed_ = false;
    int pipe_[2] = {-1, -1};
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

}  // namespace qv
