// The measurement chain over simulated minutes with a known truth: the clock loop measures the
// card's error, fast and slow; the click phase lock settles on a steady tone, and half a cycle
// away on an inverted one; the automatic capture comes at the 739th period. A card's frames at
// its own rate give the same results however the stream is split.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "capture/capture_engine.h"
#include "capture/csv_output.h"
#include "capture/signal_simulator.h"
#include "files/iq_file.h"
#include "tests/chain_fixture.h"
#include "tests/readouts.h"
#include "tests/simulated_frames.h"

namespace qv {

namespace {

TEST(ClockLoopScenario, CardFiftyPpmFastIsMeasuredWithinAMinute) {
    SimulatorSettings settings;
    settings.Seconds = 90;
    settings.Ppm = 50;
    StartedChain c;
    c.Feed(Simulate(settings));
    const std::vector<std::string> freq = c.Host.Texts(Readout::FreqError);
    const std::vector<std::string> timing = c.Host.Texts(Readout::TimingError);
    ASSERT_GE(freq.size(), 80u);
    // From a minute on, the loop holds the card's rate to a fraction of a ppm and the edge
    // near index 4000. The two-sample estimate of the edge's sub-sample position is biased by
    // up to about 0.15 sample (19 us) as the 50 ppm drift sweeps the edge across a sample,
    // which the reference implementation shows as well.
    for (size_t k = 60; k < freq.size(); ++k) {
        EXPECT_NEAR(static_cast<double>(Number(freq[k])), 50, 1.0) << "second " << k;
        EXPECT_NEAR(static_cast<double>(Number(timing[k])), 0, 20.0) << "second " << k;
    }
    EXPECT_NEAR(static_cast<double>(c.M.Front.BaseStep), 1.00005, 1e-6);
}

TEST(ClockLoopScenario, SlowCardIsMeasuredNegative) {
    SimulatorSettings settings;
    settings.Seconds = 150;
    settings.Ppm = -120;
    StartedChain c;
    c.Feed(Simulate(settings));
    const std::vector<std::string> freq = c.Host.Texts(Readout::FreqError);
    long double mean = 0;
    // Over 50 s, two whole sweeps of the edge across a sample (0.04 sample a second), so the
    // sub-sample estimate's bias averages out.
    for (size_t k = freq.size() - 50; k < freq.size(); ++k) mean += Number(freq[k]) / 50;
    EXPECT_NEAR(static_cast<double>(mean), -120, 0.5);
}

TEST(Lock, SettlesOnASteadyToneAtTheLockFrequency) {
    StartedChain c;
    c.Feed(SteadyTone(0.5L, 1700, 90));  // the click vector is smoothed over about 10 s
    // The filter's gain of 0.95855 halves in the mixer: 47.93 % per unit of amplitude.
    EXPECT_NEAR(static_cast<double>(Number(c.Host.Last(Readout::ClickLevel))), 47.93 * 0.5, 0.05);
    EXPECT_NEAR(static_cast<double>(Number(c.Host.Last(Readout::ClickPhase))), 0, 0.5);
    EXPECT_EQ(c.Host.Last(Readout::LockFreqOut), "Lock frequency = 1700.000");
    EXPECT_EQ(c.Host.Last(Readout::ClickPeak), "Click Peak = 31");
}

TEST(Lock, InvertedInputSettlesHalfACycleAway) {
    StartedChain plain, inverted;  // the tone is in phase with the plain lock from the start
    inverted.M.Params.InvertFlag = 1;
    const std::vector<Frame> tone = SteadyTone(0.5L, 1700, 150);
    plain.Feed(tone);
    inverted.Feed(tone);
    EXPECT_NEAR(static_cast<double>(Number(inverted.Host.Last(Readout::ClickPhase))), 0, 0.5);
    long double shift = plain.M.Lock.LockPhase - inverted.M.Lock.LockPhase;
    shift -= std::floor(shift);                          // reduce to 0 .. 1 cycle
    EXPECT_NEAR(static_cast<double>(shift), 0.5, 0.02);  // still settling slowly
}

// Everything a run at a card's rate hands out (CSV rows of every second and period, the I/Q
// text of 1 s periods, every read-out and its time, the frame counts) when its frames come in
// blocks of `blocks` in turn.
std::string DeviceRun(const std::vector<Frame>& frames, int rate, const std::vector<int>& blocks) {
    StartedChain c;
    c.M.Params.SaveIqFlag = 1;
    ReadIntegrationTime(c.M, "1");
    EXPECT_TRUE(SetDeviceRate(c.M, rate));
    for (size_t done = 0, b = 0; done < frames.size(); ++b) {
        const int n = std::min(blocks[b % blocks.size()], static_cast<int>(frames.size() - done));
        ProcessDeviceFrames(c.M, frames.data() + done, n);
        done += static_cast<size_t>(n);
    }
    FinishDeviceFrames(c.M);
    // Every frame in time up to the input's end reaches the chain, none after it.
    const int64_t chainFrames = (static_cast<int64_t>(frames.size()) * 8000 + rate - 1) / rate;
    EXPECT_EQ(c.M.FramesProcessed, chainFrames) << rate;
    std::string all;
    for (const SecondValues& v : c.Host.seconds) {
        for (const std::string& cell : SecondRow("t", c.M, v)) all += cell + ",";
        all += "\n";
    }
    for (const PeriodValues& v : c.Host.periods) {
        for (const std::string& cell : PeriodRow("t", v)) all += cell + ",";
        all += "\n";
    }
    for (const ReadoutEvent& e : c.Host.readouts) {
        all += std::to_string(e.MillisecondsOfDay) + " " + e.Text + "\n";
    }
    return all + c.M.IqText + std::to_string(c.M.FramesProcessed);
}

// Whatever the rate, a stream fed in blocks of any size (one frame, a card's 16 ms, the whole)
// gives the same numbers: at 8000 straight through the chain, else through the converter.
TEST(CardRate, HowTheStreamIsSplitChangesNoByte) {
    SimulatorSettings settings;
    settings.Seconds = 12;
    settings.Ppm = 30;
    for (const int rate : {8000, 48000, 44100}) {
        settings.DeviceRate = rate;
        const std::vector<Frame> frames = Simulate(settings);
        const std::string whole = DeviceRun(frames, rate, {INT32_MAX});
        EXPECT_NE(whole.find("Lock frequency"), std::string::npos) << "the chain ran";
        EXPECT_EQ(DeviceRun(frames, rate, {1, 127, 0, 128, 129, 4096, 3}), whole) << rate;
        EXPECT_EQ(DeviceRun(frames, rate, {BlockFramesAt(rate)}), whole) << rate;  // 16 ms
    }
}

void Integrate(StartedChain& c, long long samples, long double i = 0, long double q = 0) {
    for (long long k = 0; k < samples; ++k) IntegrateSample(c.M, i, q);
}

TEST(AutomaticCapture, At739PeriodsAfterAClearAndOnlyWhileOn) {
    StartedChain c;
    ReadIntegrationTime(c.M, "1");
    c.M.Params.SaveScreenFlag = 1;
    Integrate(c, 8000 * 738 - 1);
    EXPECT_EQ(c.Host.captures, 0);
    EXPECT_EQ(c.M.Screen.ChartColumn, 738);
    Integrate(c, 8000);
    EXPECT_EQ(c.Host.captures, 1);
    EXPECT_EQ(c.M.Screen.ChartColumn, 0);  // the capture clears the chart
    EXPECT_EQ(ChartTrace(c.M.Screen).At(739, 215), kWhite);
    c.M.Params.SaveScreenFlag = -1;
    Integrate(c, 8000 * 739);
    EXPECT_EQ(c.Host.captures, 1);
}

}  // namespace

}  // namespace qv
