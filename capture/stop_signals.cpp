// The stop signals' handler and its installation.
#include "capture/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <csignal>

namespace qv {

namespace {

volatile std::sig_atomic_t gStopSignal = 0;
volatile std::sig_atomic_t gWakeFd = -1;  // the wake pipe's write end, -1 without one
bool gInstalled = false;                  // one StopSignals at a time: they share the above

extern "C" void OnStopSignal(int signal) {
    gStopSignal = signal;
    if (gWakeFd < 0) return;
    const int saved = errno;  // write may change it under the interrupted code's feet
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(gWakeFd, &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals(StopSignalOptions options) {
    assert(!gInstalled);
    gStopSignal = 0;
    if (options.WakePipe && pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    gWakeFd = pipe_[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = options.ResetAfterFirst ? SA_RESETHAND : 0;
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
    installed_ = gInstalled = true;
}

StopSignals::~StopSignals() {
    if (!installed_) return;
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
    gWakeFd = -1;
    for (int fd : pipe_) {
        if (fd >= 0) close(fd);
    }
    gInstalled = false;
}

int StopSignals::Received() const { return gStopSignal; }

void StopSignals::DrainWake() {
    if (pipe_[0] < 0) return;
    char bytes[16];
    [[maybe_unused]] const ssize_t n = read(pipe_[0], bytes, sizeof bytes);
}

}  // namespace qv
