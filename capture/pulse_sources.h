// The desktop sound server's sources on Linux (PulseAudio, or PipeWire through its PulseAudio
// service): listed by name with their own rate, and captured from by name at a chosen rate, so
// that a user can pick the card behind the server and take it at the rate it really runs.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_engine.h"

namespace qv {

// How long listing may wait for a server: one that does not answer leaves the list without
// its sources rather than holding up the program.
constexpr std::chrono::milliseconds kPulseListLimit{2000};

// One source as the server describes it.
struct PulseSource {
    std::string Name;         // the server's name: "alsa_input.usb-...analog-stereo"
    std::string Description;  // for people: "USB Audio CODEC Analog Stereo"
    int Channels = 0;
    int Rate = 0;  // [frames/s] the source's own sample rate
};

// The server's sources, in the server's order. Empty, with nothing said, when no server is
// reachable or it does not answer within `limit`; a server is never started for this.
std::vector<PulseSource> ListPulseSources(std::chrono::milliseconds limit = kPulseListLimit);

// The name a source has in the device list: its description, then its name in parentheses,
// as the sound system's own devices carry their ALSA names ("... (hw:1,0)").
std::string PulseEntryName(const PulseSource& source);

// The rate a capture takes by default from a source running at `sourceRate`: its own when the
// measurement takes it, else the nearest rate it takes above (the server converts), else the
// highest it takes.
int PulseCaptureRate(int sourceRate);

// A block source that captures the source named `sourceName` (the server's name) at
// `framesPerSecond`, or at PulseCaptureRate of the source's own rate when 0: stereo, 16-bit,
// blocks of BlockFramesAt(rate) frames (16 ms), with a fragment of one block from the server.
// Nothing is opened until the engine opens it.
std::unique_ptr<BlockSource> CreatePulseInput(const std::string& sourceName, int framesPerSecond);

}  // namespace qv
