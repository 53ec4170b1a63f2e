// quorvelle-batch's live mode: the measurement chain on the sound input without a window, for
// unattended stations; also the device listing.
#pragma once

#include <ostream>
#include <string>

#include "capture/signal_simulator.h"
#include "serve/status_pages.h"
#include "tools/batch_run.h"

namespace qv {

struct CaptureOptions {
    bool Capture = false;      // --capture
    bool ListDevices = false;  // --list-devices
    std::string Device;        // --device N|NAME; empty: the first listed, as the window does
    double Seconds = 0;        // --seconds [s] of capture; 0: until SIGINT, SIGTERM or the end
    std::string RecordPath;    // --record FILE.wav
    std::string PlayPath;      // --play FILE.wav: a recording as the input, at real-time pace
    int Rate = 0;       // --rate N [frames/s] the device's (or simulator's); 0: the device's choice
    double GiveUp = 0;  // --give-up [s] a device gone this long ends the run; 0: never
    int MinFree = -1;   // --min-free [MB] free below which the recording stops; -1: not given
    bool Serve = false;  // --serve [ADDR:]PORT: the read-only status page
    ServeAddress ServeAt;
};

constexpr int kDefaultMinFreeMegabytes = 500;  // [MB] --min-free when not given

// The usage lines of the capture options.
extern const char* const kCaptureUsage;

// Looks at argv[i]: returns 1 after storing a capture option (i left at its last argument),
// 0 when argv[i] is not one, -1 with one line in `error` for a bad value.
int ParseCaptureOption(int argc, char** argv, int& i, CaptureOptions& o, std::string& error);

// Checks the capture options against each other and against the other inputs; false with one
// line in `error`.
bool CheckCaptureOptions(const CaptureOptions& o, bool haveInputFile, bool simulate,
                         std::string& error);

// --list-devices, or the live run of --capture until --seconds, SIGINT, SIGTERM or the end of
// the source; with `simulator`, the simulator is the input (--simulate). A sound card that
// stops delivering is reopened by name until it is back (or --give-up). With --serve the status
// page is served by `startServer` from before the capture starts to the end of the run. Returns
// the exit status: 0 success, 1 device, input or output error (or a page that cannot listen).
int RunBatchCapture(const CaptureOptions& o, const ChainSettings& chain,
                    const SimulatorSettings* simulator, std::ostream& out, std::ostream& err,
                    const StartStatusService& startServer = {});

}  // namespace qv
