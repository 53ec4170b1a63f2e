// quorvelle-batch's live mode: the measurement chain on the sound input without a window, for
// unattended stations; also the device listing.
#pragma once

#include <ostream>
#include <string>

#include "capture/signal_simulator.h"

struct CaptureOptions {
    bool capture = false;      // --capture
    bool listDevices = false;  // --list-devices
    std::string device;        // --device N|NAME; empty: the first listed, as the window does
    double seconds = 0;        // --seconds [s] of capture; 0: until SIGINT, SIGTERM or the end
    std::string recordPath;    // --record FILE.wav
    std::string playPath;      // --play FILE.wav: a recording as the input, at real-time pace
};

// The measurement chain's settings, as the batch tool parsed them for a recording.
struct CaptureChainSettings {
    std::string lockFreqText, offsetText, integrationText;
    int clickPosition = 31;
    bool blank = true, invert = false;
    std::string iqPath, logPath;
    bool quiet = false;
    const SimulatorSettings* simulator = nullptr;  // --simulate: the simulator as the input
};

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
// the source. Returns the exit status: 0 success, 1 device, input or output error.
int RunBatchCapture(const CaptureOptions& o, const CaptureChainSettings& chain, std::ostream& out,
                    std::ostream& err);
