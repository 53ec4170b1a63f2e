// Test helper: the signal simulator's streams taken apart for comparison with the formulas:
// components one at a time, the first frame where two streams differ, the PPS chain's values,
// differences taken in long double.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <numbers>
#include <vector>

#include "capture/signal_simulator.h"
#include "capture/signal_simulator_card.h"
#include "common/frame.h"

namespace qv {

inline constexpr double kTwoPi = 2 * std::numbers::pi;

// The first frame at which two equally long streams differ, or -1.
inline ptrdiff_t FirstDifference(const std::vector<Frame>& a, const std::vector<Frame>& b) {
    const auto same = [](Frame x, Frame y) { return x.Rf == y.Rf && x.Pps == y.Pps; };
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), same).first;
    return at == a.end() ? -1 : at - a.begin();
}

// Only the named components switched on, so their samples can be compared with the formulas.
inline SimulatorSettings Only(double carrier, double click, double pps, double noise) {
    SimulatorSettings s;
    s.CarrierLevel = carrier;
    s.ClickLevel = click;
    s.PpsLevel = pps;
    s.NoiseLevel = noise;
    return s;
}

// a - b, taken in long double before it is compared (as a double) with a tolerance.
inline double Gap(long double a, long double b) { return static_cast<double>(a - b); }

// The PPS channel's values [full scale] before rounding, frames 0 .. count - 1.
inline std::vector<double> ChainValues(const SimulatorSettings& s, long long count) {
    const std::shared_ptr<const PpsChain> chain = MakePpsChain(s);
    PpsChainState state;
    std::vector<double> values(static_cast<size_t>(count));
    for (long long m = 0; m < count; ++m) values[m] = PpsChainFrame(*chain, state, s, m);
    return values;
}

}  // namespace qv
