// The signal's state in simulated scenarios with a known fault: each state is reached where it
// should be, and a run without a usable signal never ends "locked".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/chain_fixture.h"
#include "tests/simulated_frames.h"

namespace qv {

namespace {

// The words the window uses for what mends a fault; the chain's own are quorvelle-batch's.
const MendingNames kWindowWords = {"\"Inverted\"", "--swap-channels", true};

struct Scenario {
    const char* Name;
    SimulatorSettings Settings;
    bool InvertedBox;
    const char* States;        // every state reported, in order
    const char* Text;          // a part of the last state's text
    bool SwapTaken = false;    // the chain takes the PPS from the left (--swap-channels)
    bool WindowWords = false;  // the texts as the window shows them
};

SimulatorSettings Sim(double seconds, void (*change)(SimulatorSettings&)) {
    SimulatorSettings s;
    s.Seconds = seconds;
    change(s);
    return s;
}

TEST(SignalStatus, EachScenarioReachesItsState) {
    const Scenario scenarios[] = {
        {"clean, 50 ppm, from cold", Sim(120, [](SimulatorSettings& s) { s.Ppm = 50; }), false,
         "clock-settling lock-settling locked", "Measuring: PPS and click locked"},
        {"clean, -120 ppm", Sim(150, [](SimulatorSettings& s) { s.Ppm = -120; }), false,
         "clock-settling lock-settling locked", "locked"},
        {"silent input",
         Sim(40,
             [](SimulatorSettings& s) {
                 s.PpsLevel = s.CarrierLevel = s.ClickLevel = s.NoiseLevel = 0;
             }),
         false, "no-pps", "No PPS edge for 40 s: the right channel is silent"},
        {"no PPS", Sim(40, [](SimulatorSettings& s) { s.PpsLevel = 0; }), false, "no-pps",
         "clock read-outs held"},
        {"silent radio",
         Sim(40, [](SimulatorSettings& s) { s.CarrierLevel = s.ClickLevel = s.NoiseLevel = 0; }),
         false, "clock-settling no-click", "No signal on the left channel at position 31"},
        {"noise only on the radio",
         Sim(90,
             [](SimulatorSettings& s) {
                 s.CarrierLevel = s.ClickLevel = 0;
                 s.NoiseLevel = 0.05;
             }),
         false, "clock-settling no-click", "Click not found at position 31"},
        {"channels swapped", Sim(60, [](SimulatorSettings& s) { s.SwapChannels = true; }), false,
         "clock-settling pps-unsteady",
         "is the PPS on the right channel and the radio on the left? (if not: --swap-channels)"},
        // Taken from the left, the swapped wiring measures as the right one would.
        {"channels swapped, swap taken",
         Sim(120, [](SimulatorSettings& s) { s.SwapChannels = true; }), false,
         "clock-settling lock-settling locked", "locked", true},
        {"swap taken, channels as they should be", Sim(60, [](SimulatorSettings&) {}), false,
         "clock-settling pps-unsteady",
         "is the PPS on the left channel and the radio on the right? (if not: leave out "
         "--swap-channels)",
         true},
        {"swap taken in the window, channels as they should be", Sim(60, [](SimulatorSettings&) {}),
         false, "clock-settling pps-unsteady", "(if not: restart without --swap-channels)", true,
         true},
        {"silent radio, swap taken",
         Sim(40,
             [](SimulatorSettings& s) {
                 s.SwapChannels = true;
                 s.CarrierLevel = s.ClickLevel = s.NoiseLevel = 0;
             }),
         false, "clock-settling no-click", "No signal on the right channel at position 31", true},
        {"inverted PPS, --invert off", Sim(40, [](SimulatorSettings& s) { s.InvertPps = true; }),
         false, "no-pps",
         "the right channel's level is 60.0 % — check the pulse's polarity "
         "(--invert is off)"},
        {"inverted PPS, box off", Sim(40, [](SimulatorSettings& s) { s.InvertPps = true; }), false,
         "no-pps", "(\"Inverted\" is off)", false, true},
        {"inverted PPS, box on", Sim(120, [](SimulatorSettings& s) { s.InvertPps = true; }), true,
         "clock-settling lock-settling locked", "locked"},
        {"normal PPS, box on", Sim(40, [](SimulatorSettings&) {}), true, "no-pps",
         "level is 60.0 %"},
    };
    for (const Scenario& sc : scenarios) {
        StartedChain c;
        c.M.Params.InvertFlag = sc.InvertedBox ? 1 : -1;
        c.M.SwapChannels = sc.SwapTaken;
        if (sc.WindowWords) c.M.Watch.Mending = kWindowWords;
        EXPECT_EQ(StatusName(c.M), "starting");
        const std::vector<Frame> frames = Simulate(sc.Settings);
        ProcessDeviceFrames(c.M, frames.data(), static_cast<int>(frames.size()));
        std::string states;
        for (const SignalStatus& s : c.Host.statuses) {
            states += (states.empty() ? "" : " ") + std::string(SignalStateName(s.State));
        }
        EXPECT_EQ(states, sc.States) << sc.Name;
        ASSERT_FALSE(c.Host.statuses.empty()) << sc.Name;
        // The text goes on being brought up to date while the state stays.
        EXPECT_NE(c.M.Watch.Current.Text.find(sc.Text), std::string::npos)
            << sc.Name << ": " << c.M.Watch.Current.Text;
        EXPECT_EQ(StatusName(c.M), SignalStateName(c.Host.statuses.back().State)) << sc.Name;
        // Never reported twice in a row: only changes reach the host.
        for (size_t k = 1; k < c.Host.statuses.size(); ++k) {
            EXPECT_NE(c.Host.statuses[k].State, c.Host.statuses[k - 1].State) << sc.Name;
        }
    }
}

// A clean signal from cold is locked within a minute and a half, and stays locked; losing the
// PPS then shows at once (after two seconds), and it locks again when the PPS returns.
TEST(SignalStatus, LosingAndRegainingThePps) {
    SimulatorSettings clean;
    clean.Seconds = 240;
    clean.Ppm = 37;
    std::vector<Frame> frames = Simulate(clean);
    // Ten seconds without the pulse (the right channel silent), from about the 122nd second
    // of the corrected stream on: the recording starts 0.3 s after a GPS second.
    for (size_t k = 120 * 8000; k < 130 * 8000; ++k) frames[k].Pps = 0;
    StartedChain c;
    std::vector<std::pair<int64_t, SignalState>> changes;
    for (size_t k = 0; k < frames.size(); ++k) {
        const size_t before = c.Host.statuses.size();
        ProcessFrame(c.M, frames[k]);
        if (c.Host.statuses.size() != before) {
            changes.push_back({c.M.SecondsEnded, c.Host.statuses.back().State});
        }
    }
    ASSERT_GE(changes.size(), 5u);
    EXPECT_EQ(changes[2].second, SignalState::Locked);
    EXPECT_LE(changes[2].first, 90);
    // The first missing edge unsettles the clock; the second makes it "no-pps".
    EXPECT_EQ(changes[3].second, SignalState::ClockSettling);
    EXPECT_EQ(changes[3].first, 122);
    EXPECT_EQ(changes[4].second, SignalState::NoPps);
    EXPECT_EQ(changes[4].first, 123);
    EXPECT_EQ(changes.back().second, SignalState::Locked);
    EXPECT_EQ(StatusName(c.M), "locked");
    // The last minute's values are kept in full precision for the summary.
    ASSERT_EQ(c.M.Watch.Recent.size(), kSummarySeconds);
    EXPECT_NEAR(static_cast<double>(c.M.Watch.Recent.back().FreqErrorPpm), 37, 1);
}

}  // namespace

}  // namespace qv
