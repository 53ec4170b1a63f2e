// The measurement chain over simulated minutes with a known truth: the clock loop measures the
// card's error, fast and slow; the click phase lock settles on a steady tone, and half a cycle
// away on an inverted one; the automatic capture comes at the 739th period.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

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
    EXPECT_EQ(c.M.Screen.ChartTraceSurface.At(739, 215), kWhite);
    c.M.Params.SaveScreenFlag = -1;
    Integrate(c, 8000 * 739);
    EXPECT_EQ(c.Host.captures, 1);
}

}  // namespace

}  // namespace qv
