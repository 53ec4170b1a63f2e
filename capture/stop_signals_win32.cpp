// The stop request on Windows: the console's control events through SetConsoleCtrlHandler.
//
// Windows runs the handler on a new thread for every event. Ctrl-C and Ctrl-Break are answered
// at once (handled: the process goes on and ends its run). For the console window's close
// button, log-off and shut-down the system ends the process as soon as the handler returns, or
// at the latest after its own time limit (about 5 s for a closed console), so the handler
// returns never: it holds the process while the main thread does the close-time work, and
// the program's normal exit ends the process, this thread with it.
#include <windows.h>

#include <atomic>
#include <cassert>
#include <cstdio>

#include "capture/stop_signals.h"

namespace qv {

namespace {

// The numbers Received() gives: SIGINT for Ctrl-C and SIGBREAK for Ctrl-Break, as the C
// runtime names them; 100 + the event's own number for the events the runtime has no signal
// for.
constexpr int kEventBase = 100;
constexpr int kConsoleClosed = kEventBase + CTRL_CLOSE_EVENT;
constexpr int kLogOff = kEventBase + CTRL_LOGOFF_EVENT;
constexpr int kShutDown = kEventBase + CTRL_SHUTDOWN_EVENT;

static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> gStopSignal{0};
bool gInstalled = false;     // one StopSignals at a time: they share the above
bool gKeepToTheEnd = false;  // an ending StopSignals leaves its handler installed

BOOL WINAPI OnConsoleEvent(DWORD event) {
    int signal = 0;
    switch (event) {
        case CTRL_C_EVENT:
            signal = SIGINT;
            break;
        case CTRL_BREAK_EVENT:
            signal = SIGBREAK;
            break;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            signal = kEventBase + static_cast<int>(event);
            break;
        default:
            return FALSE;  // not ours: the next handler (finally the default) decides
    }
    int none = 0;
    gStopSignal.compare_exchange_strong(none, signal);  // the first one is the run's reason
    if (signal >= kEventBase) {
        // Returning would end the process now; the main thread's exit ends it instead.
        for (;;) Sleep(INFINITE);
    }
    return TRUE;
}

}  // namespace

// Windows' handlers form a list the system keeps; removing ours is all the restoring needed.
struct StopSignals::PreviousHandlers {};

StopSignals::StopSignals(StopSignalOptions) {
    assert(!gInstalled);
    gStopSignal = 0;
    // There is no wake pipe (WakeFd() stays -1) whatever the options ask: an event loop polls.
    if (!SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) return;
    installed_ = gInstalled = true;
}

StopSignals::~StopSignals() {
    if (!installed_) return;
    // Kept to the end, a late Ctrl-C is answered as handled and a closed console waits for the
    // process's own exit, which ends it with the status its run earned.
    if (!gKeepToTheEnd) SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    gInstalled = false;
}

void KeepStopSignalsToTheEnd() { gKeepToTheEnd = true; }

int StopSignals::Received() const { return gStopSignal.load(std::memory_order_relaxed); }

void StopSignals::DrainWake() {}

const char* StopSignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "Ctrl-C";
        case SIGBREAK:
            return "Ctrl-Break";
        case kConsoleClosed:
            return "console closed";
        case kLogOff:
            return "log-off";
        case kShutDown:
            return "shut-down";
    }
    static thread_local char other[24];
    std::snprintf(other, sizeof other, "signal %d", signal);
    return other;
}

const char* StopSignalsHint() { return "Ctrl-C, Ctrl-Break or closing the console"; }

}  // namespace qv
