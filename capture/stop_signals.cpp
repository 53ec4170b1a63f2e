// The stop requests' handling and its installation, on the system's stop handlers.
#include "capture/stop_signals.h"

#include <atomic>
#include <cassert>
#include <cstdio>

#include "common/os.h"

namespace qv {

namespace {

// Shared with the handler, which may run on any thread that does not block the signals: only
// lock-free atomics are safe there.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> gStopSignal{0};
std::atomic<int> gWakeFd{-1};  // the wake pipe's write end, -1 without one
bool gInstalled = false;       // one StopSignals at a time: they share the above
bool gKeepToTheEnd = false;    // an ending StopSignals leaves the stop requests ignored

void OnStopRequest(int request) {
    int none = 0;
    gStopSignal.compare_exchange_strong(none, request);  // the first one is the run's reason
    // When the pipe is full, the loop has a wake-up waiting already.
    if (const int fd = gWakeFd.load(); fd >= 0) os::Wake(fd);
}

}  // namespace

StopSignals::StopSignals(StopSignalOptions options) {
    assert(!gInstalled);
    gStopSignal = 0;
    if (options.WakePipe && !os::MakeWakePipe(pipe_)) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    gWakeFd = pipe_[1];
    if (!os::InstallStopHandlers(OnStopRequest)) return;
    installed_ = gInstalled = true;
}

StopSignals::~StopSignals() {
    if (!installed_) return;
    // Kept to the end, the process is about to exit with the status its run earned: nothing may
    // end it first.
    os::RemoveStopHandlers(gKeepToTheEnd);
    gWakeFd = -1;
    for (int fd : pipe_) {
        if (fd >= 0) os::CloseWakeEnd(fd);
    }
    gInstalled = false;
}

void KeepStopSignalsToTheEnd() { gKeepToTheEnd = true; }

int StopSignals::Received() const { return gStopSignal.load(std::memory_order_relaxed); }

void StopSignals::DrainWake() {
    if (pipe_[0] >= 0) os::DrainWake(pipe_[0]);
}

const char* StopSignalName(int signal) {
    if (const char* name = os::StopRequestName(signal)) return name;
    static thread_local char other[24];
    std::snprintf(other, sizeof other, "signal %d", signal);
    return other;
}

const char* StopSignalsHint() { return os::StopRequestsHint(); }

}  // namespace qv
