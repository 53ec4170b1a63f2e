// SIGINT, SIGTERM and SIGHUP as a request to end a run cleanly, so that the I/Q file, the log,
// the recording and the pictures are still written: the batch tool polls for it, the window is
// woken through a pipe its event loop watches. Any number of them, in any order, during the
// run or during its close-time work, make one request; only SIGKILL ends a run without it.
//
// On Windows the console's control events stand in for the signals (common/os_win32.cpp):
// Ctrl-C, Ctrl-Break, closing the console window, log-off and shut-down. There is no wake
// pipe; the window polls Received().
#pragma once

#include <csignal>

namespace qv {

struct StopSignalOptions {
    // The handler also writes a byte to a pipe (made here) whose read end an event loop
    // watches. When that pipe cannot be made, no handler is installed at all.
    bool WakePipe = false;
};

// Catches SIGINT, SIGTERM and SIGHUP from construction to destruction, which puts the previous
// handlers back (or, after KeepStopSignalsToTheEnd, leaves the signals ignored). Every one of them
// is caught, not only the first, so that a second signal (a `timeout` that signals the process and
// its group, an impatient Ctrl-C) cannot cut the close-time work short. While installed, SIGPIPE is
// ignored: a reader of our output that went away with a dropped session makes those writes fail
// instead of killing the run. Interrupted system calls are restarted, so a signal during the
// close-time work fails no write. One at a time per process.
class StopSignals {
public:
    explicit StopSignals(StopSignalOptions options = {});
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first stop signal that arrived, else 0.
    int Received() const;
    // The wake pipe's read end (non-blocking), -1 without one.
    int WakeFd() const { return pipe_[0]; }
    // Takes what the handler wrote out of the wake pipe, for the event loop's callback.
    void DrainWake();

private:
    bool installed_ = false;
    int pipe_[2] = {-1, -1};
};

// For a program's entry point, before its run: from then on a StopSignals that ends leaves the
// stop signals (and SIGPIPE) ignored instead of putting the previous handlers back, so that no
// signal between the end of the run and the process's exit (its summary and the list of its
// files still in the stdout buffer, its status promised) can end the process. On Windows the
// console handler stays installed. Without this call (tests that run a program in-process),
// the previous handlers come back.
void KeepStopSignalsToTheEnd();

// "SIGINT", "SIGTERM", "SIGHUP", or "signal N" for another. On Windows the words for the
// console event: "Ctrl-C", "Ctrl-Break", "console closed", "log-off", "shut-down".
const char* StopSignalName(int signal);

// The ways to end a run cleanly, for the messages: "SIGINT (Ctrl-C), SIGTERM or SIGHUP";
// on Windows "Ctrl-C, Ctrl-Break or closing the console".
const char* StopSignalsHint();

}  // namespace qv
