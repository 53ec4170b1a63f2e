// The stop signals' handler and its installation.
#include "capture/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace qv {

namespace {

// Shared with the handler, which may run on any thread that does not block the signals: only
// lock-free atomics are safe there.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> gStopSignal{0};
std::atomic<int> gWakeFd{-1};  // the wake pipe's write end, -1 without one
bool gInstalled = false;       // one StopSignals at a time: they share the above
bool gKeepToTheEnd = false;    // an ending StopSignals leaves the signals ignored

extern "C" void OnStopSignal(int signal) {
    int none = 0;
    gStopSignal.compare_exchange_strong(none, signal);  // the first one is the run's reason
    const int fd = gWakeFd.load();
    if (fd < 0) return;
    const int saved = errno;  // write may change it under the interrupted code's feet
    const char byte = 1;
    // Non-blocking: when the pipe is full, the loop has a wake-up waiting already.
    [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
    errno = saved;
}

}  // namespace

struct StopSignals::PreviousHandlers {
    struct sigaction Int {};
    struct sigaction Term {};
    struct sigaction Hup {};
    struct sigaction Pipe {};
};

StopSignals::StopSignals(StopSignalOptions options) : previous_(new PreviousHandlers) {
    assert(!gInstalled);
    gStopSignal = 0;
    if (options.WakePipe && pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    gWakeFd = pipe_[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    // The handler does not interrupt itself for another stop signal.
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previous_->Int);
    sigaction(SIGTERM, &action, &previous_->Term);
    sigaction(SIGHUP, &action, &previous_->Hup);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previous_->Pipe);
    installed_ = gInstalled = true;
}

StopSignals::~StopSignals() {
    if (!installed_) return;
    if (gKeepToTheEnd) {
        // The process is about to exit with the status its run earned: nothing may end it
        // first. SIGPIPE stays ignored as it is.
        for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_IGN);
    } else {
        sigaction(SIGINT, &previous_->Int, nullptr);
        sigaction(SIGTERM, &previous_->Term, nullptr);
        sigaction(SIGHUP, &previous_->Hup, nullptr);
        sigaction(SIGPIPE, &previous_->Pipe, nullptr);
    }
    gWakeFd = -1;
    for (int fd : pipe_) {
        if (fd >= 0) close(fd);
    }
    gInstalled = false;
}

void KeepStopSignalsToTheEnd() { gKeepToTheEnd = true; }

int StopSignals::Received() const { return gStopSignal.load(std::memory_order_relaxed); }

void StopSignals::DrainWake() {
    if (pipe_[0] < 0) return;
    char bytes[64];
    while (read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
}

const char* StopSignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
    }
    static thread_local char other[24];
    std::snprintf(other, sizeof other, "signal %d", signal);
    return other;
}

const char* StopSignalsHint() { return "SIGINT (Ctrl-C), SIGTERM or SIGHUP"; }

}  // namespace qv
