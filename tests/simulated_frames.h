// Test helper: frames from the signal simulator, a stream with a known truth (clock error, click
// delay, levels) that is the same on every machine for the same settings.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "capture/signal_simulator.h"
#include "common/frame.h"

namespace qv {

// The first `count` frames of a fresh simulator, read in blocks of the given sizes in turn
// (a block of 0 is a call that delivers nothing; not every size may be 0).
inline std::vector<Frame> Simulate(const SimulatorSettings& settings, size_t count,
                                   const std::vector<size_t>& blocks = {SIZE_MAX}) {
    SignalSimulator sim;
    StartSimulator(sim, settings);
    std::vector<Frame> frames(count);
    for (size_t done = 0, b = 0; done < count; ++b) {
        const size_t n = std::min(blocks[b % blocks.size()], count - done);
        NextSimulatorFrames(sim, frames.data() + done, n);
        done += n;
    }
    return frames;
}

// The whole stream the settings ask for: `settings.Seconds` of GPS time.
inline std::vector<Frame> Simulate(const SimulatorSettings& settings) {
    return Simulate(settings, static_cast<size_t>(SimulatorTotalFrames(settings)));
}

}  // namespace qv
