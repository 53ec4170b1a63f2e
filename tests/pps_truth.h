// Test helper: the fine PPS timing fed the simulator's frames and its edges compared with the
// simulator's truth, where each GPS second's edge lies in the device frames.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/pps_timing.h"
#include "tests/simulated_frames.h"

namespace qv {

// The device frame position of the edge of GPS second `second`: the simulator's truth.
inline long double TruthFrame(const SimulatorSettings& s, long double second) {
    return SimulatorPpsStartFrame(s, static_cast<long long>(second));
}

// The nearest whole GPS second to a device frame position.
inline long double GpsSecond(const SimulatorSettings& s, long double frame) {
    return std::floor(SimulatorTimeAtFrame(s, frame) + 0.5L);
}

struct Located {
    PpsTiming Timing;
    std::vector<PpsEdge> Edges;
    long double WorstError = 0;   // [frames] largest |edge - truth|
    long double WorstSpread = 0;  // [frames] largest |edge - truth - their mean|
    long double ResidualRms = 0;  // [us] of the edges with a fit
};

// Feeds `frames` frame by frame, taking the final edges twice a second as the chain would, and
// compares each with the truth. `gapAt` >= 0: `gapFrames` frames are dropped before that one.
inline Located Locate(const SimulatorSettings& s, const std::vector<Frame>& frames, bool inverted,
                      size_t gapAt = SIZE_MAX, int64_t gapFrames = 0) {
    Located r;
    long double squares = 0;
    int fitted = 0;
    for (size_t k = 0; k <= frames.size(); ++k) {
        PpsEdge e;
        if ((k % 4000 == 0 || k == frames.size()) && TakePpsEdge(r.Timing, e)) {
            r.Edges.push_back(e);
            const long double truth = TruthFrame(s, GpsSecond(s, e.Frame));
            r.WorstError = std::max(r.WorstError, std::fabs(e.Frame - truth));
            if (e.FitValid) squares += e.ResidualUs * e.ResidualUs, ++fitted;
        }
        if (k == frames.size()) break;
        if (k == gapAt) PpsTimingGap(r.Timing, gapFrames);
        FeedPpsTiming(r.Timing, frames[k].Pps, inverted);
    }
    r.ResidualRms = fitted > 0 ? std::sqrt(squares / fitted) : NAN;
    long double mean = 0;
    for (const PpsEdge& e : r.Edges) mean += e.Frame - TruthFrame(s, GpsSecond(s, e.Frame));
    mean /= std::max<size_t>(1, r.Edges.size());
    for (const PpsEdge& e : r.Edges) {
        const long double error = e.Frame - TruthFrame(s, GpsSecond(s, e.Frame)) - mean;
        r.WorstSpread = std::max(r.WorstSpread, std::fabs(error));
    }
    return r;
}

// The frames of GPS second `second`'s pulse, from its edge for `length` frames.
inline void EditPulse(const SimulatorSettings& s, std::vector<Frame>& frames, int second,
                      int length, void (*edit)(Frame&, int)) {
    const auto first = static_cast<size_t>(std::floor(TruthFrame(s, second)));
    for (int k = 0; k < length && first + k < frames.size(); ++k) edit(frames[first + k], k);
}

}  // namespace qv
