// Signal status: the state worked out once a second from the chain's results.
#include "chain/signal_status.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "chain/readouts.h"
#include "common/numbers.h"

namespace qv {

namespace {

// The last `count` seconds of the window, newest last; fewer at the start of a run.
struct Window {
    std::deque<StatusSecond>::const_iterator Begin, End;
    size_t Size;
};

Window LastSeconds(const SignalWatch& w, size_t count) {
    const size_t n = std::min(count, w.Recent.size());
    return {w.Recent.end() - static_cast<std::ptrdiff_t>(n), w.Recent.end(), n};
}

bool ClockSettled(const Window& win) {
    if (win.Size < kStatusWindowSeconds) return false;
    return std::all_of(win.Begin, win.End, [](const StatusSecond& s) {
        return s.EdgeFound && std::fabs(s.TimingErrorUs) <= kSettledTimingErrorUs;
    });
}

// Mean |change| of the timing error between seconds that both found an edge; 0 without any.
long double MeanTimingStep(const Window& win) {
    long double sum = 0;
    int count = 0;
    for (auto it = win.Begin; it != win.End && it + 1 != win.End; ++it) {
        if (!it->EdgeFound || !(it + 1)->EdgeFound) continue;
        sum += std::fabs((it + 1)->TimingErrorUs - it->TimingErrorUs);
        ++count;
    }
    return count > 0 ? sum / count : 0;
}

// Mean and spread (standard deviation / mean) of the click magnitude over the window's
// readings; the spread is large without readings.
void ClickSteadiness(const Window& win, long double& mean, long double& spread) {
    long double sum = 0, squares = 0;
    int count = 0;
    for (auto it = win.Begin; it != win.End; ++it) {
        if (!it->ClickRead) continue;
        sum += it->ClickMagnitude;
        squares += it->ClickMagnitude * it->ClickMagnitude;
        ++count;
    }
    mean = count > 0 ? sum / count : 0;
    const long double variance = count > 0 ? std::max(0.0L, squares / count - mean * mean) : 0;
    spread = mean > 0 ? std::sqrt(variance) / mean : 1;
}

bool PhaseSteady(const Window& win) {
    int readings = 0;
    for (auto it = win.Begin; it != win.End; ++it) {
        if (!it->ClickRead) continue;
        if (std::fabs(it->ClickPhaseDeg) > kLockedPhaseDeg) return false;
        ++readings;
    }
    return readings >= kStatusWindowSeconds;
}

// What mends swapped channels, as the program says it: "--swap-channels", "leave out
// --swap-channels", "restart with --swap-channels".
std::string SwapMending(const MendingNames& names, bool swappedOn) {
    if (names.SwapAtRestart) return (swappedOn ? "restart without " : "restart with ") + names.Swap;
    return swappedOn ? "leave out " + names.Swap : names.Swap;
}

SignalStatus Evaluate(const SignalWatch& w) {
    const StatusSecond& now = w.Recent.back();
    const Window win = LastSeconds(w, kStatusWindowSeconds);
    const std::string position = std::to_string(w.ClickPosition);
    // The channels as the chain takes them.
    const std::string ppsChannel = w.SwappedOn ? "left" : "right";
    const std::string rfChannel = w.SwappedOn ? "right" : "left";
    // The second after the first edge re-aligns the stream and finds none; a run that has
    // never found one says so from its first second.
    if (w.SecondsWithoutEdge >= kNoPpsAfterSeconds || (!w.EdgeSeen && w.SecondsWithoutEdge > 0)) {
        const std::string seconds = std::to_string(w.SecondsWithoutEdge);
        if (now.AudioPeak == 0) {
            return {SignalState::NoPps, "No PPS edge for " + seconds + " s: the " + ppsChannel +
                                            " channel is silent — clock read-outs held"};
        }
        if (now.AudioPeak >= kPpsPresentPeak) {
            return {SignalState::NoPps,
                    "No PPS edge for " + seconds + " s although the " + ppsChannel +
                        " channel's level is " +
                        FormatForText("%.1f", AudioLevelPercent(now.AudioPeak)) +
                        " % — check the pulse's polarity (" + w.Mending.Invert + " is " +
                        (w.InvertedOn ? "on" : "off") + "); clock read-outs held"};
        }
        return {SignalState::NoPps, "No PPS edge on the " + ppsChannel + " channel for " + seconds +
                                        " s — clock read-outs held"};
    }
    const long double step = MeanTimingStep(win);
    if (win.Size >= kStatusWindowSeconds && step > kUnsteadyStepUs) {
        return {SignalState::PpsUnsteady,
                "PPS edge unsteady (timing error jumps " + FormatForText("%.0f", step) +
                    " us a second) — is the PPS on the " + ppsChannel +
                    " channel and the radio on the " + rfChannel +
                    "? (if not: " + SwapMending(w.Mending, w.SwappedOn) + ")"};
    }
    if (!ClockSettled(win)) {
        return {SignalState::ClockSettling, "Clock loop settling: timing error " +
                                                FormatForText("%.2f", now.TimingErrorUs) + " us"};
    }
    long double mean = 0, spread = 0;
    ClickSteadiness(LastSeconds(w, kClickWindowSeconds), mean, spread);
    if (mean == 0) {
        return {SignalState::NoClick, "No signal on the " + rfChannel + " channel at position " +
                                          position + " — check the radio"};
    }
    if (spread > kClickSteadySpread) {
        return {SignalState::NoClick,
                "Click not found at position " + position + " — move it on the scope"};
    }
    if (!PhaseSteady(win)) {
        return {SignalState::LockSettling, "Click found at position " + position +
                                               ", lock settling: phase " +
                                               FormatForText("%.1f", now.ClickPhaseDeg) + " deg"};
    }
    return {SignalState::Locked, "Measuring: PPS and click locked"};
}

}  // namespace

const char* SignalStateName(SignalState state) {
    switch (state) {
        case SignalState::NoPps:
            return "no-pps";
        case SignalState::PpsUnsteady:
            return "pps-unsteady";
        case SignalState::ClockSettling:
            return "clock-settling";
        case SignalState::NoClick:
            return "no-click";
        case SignalState::LockSettling:
            return "lock-settling";
        case SignalState::Locked:
            return "locked";
    }
    return "?";
}

std::string StatusLogText(const SignalStatus& status) {
    return std::string(SignalStateName(status.State)) + ": " + status.Text;
}

void WatchClick(SignalWatch& w, long double phaseRad, long double level, long double magnitude) {
    w.Pending.ClickRead = true;
    w.Pending.ClickPhaseDeg = ClickPhaseDegrees(phaseRad);
    w.Pending.ClickLevel = level;
    w.Pending.ClickMagnitude = magnitude;
}

bool WatchSecond(SignalWatch& w, StatusSecond second) {
    second.ClickRead = w.Pending.ClickRead;
    second.ClickPhaseDeg = w.Pending.ClickPhaseDeg;
    second.ClickLevel = w.Pending.ClickLevel;
    second.ClickMagnitude = w.Pending.ClickMagnitude;
    w.Pending = StatusSecond{};
    w.SecondsWithoutEdge = second.EdgeFound ? 0 : w.SecondsWithoutEdge + 1;
    w.EdgeSeen = w.EdgeSeen || second.EdgeFound;
    w.Recent.push_back(second);
    if (w.Recent.size() > kSummarySeconds) w.Recent.pop_front();

    const SignalStatus status = Evaluate(w);
    w.Recent.back().State = status.State;
    const bool changed = !w.Reported || status.State != w.Current.State;
    w.SecondsInState = changed ? 0 : w.SecondsInState + 1;
    w.Current = status;
    w.Reported = true;
    return changed;
}

}  // namespace qv
