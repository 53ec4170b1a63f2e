// Scenarios with a known truth from the simulator: the clock loop measures the card's error,
// and feeding a stream in blocks of any size gives the same numbers.
#include <gtest/gtest.h>

#include <cmath>

#include "capture/signal_simulator.h"
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

TEST(BlockSizes, AnySplitOfTheStreamGivesTheSameNumbers) {
    SimulatorSettings settings;
    settings.Seconds = 12;
    settings.Ppm = 30;
    const std::vector<Frame> frames = Simulate(settings);
    std::vector<std::string> iqTexts;
    std::vector<std::vector<std::string>> readouts;
    for (size_t block : {size_t{1}, size_t{128}, size_t{1000}, frames.size()}) {
        StartedChain c;
        c.M.Params.SaveIqFlag = 1;
        ReadIntegrationTime(c.M, "1");
        for (size_t at = 0; at < frames.size(); at += block) {
            const size_t n = std::min(block, frames.size() - at);
            ProcessFrames(c.M, frames.data() + at, static_cast<int>(n));
        }
        iqTexts.push_back(c.M.IqText);
        std::vector<std::string> lines;
        for (const ReadoutEvent& e : c.Host.readouts) {
            lines.push_back(std::to_string(e.MillisecondsOfDay) + " " + e.Text);
        }
        readouts.push_back(lines);
    }
    for (size_t k = 1; k < iqTexts.size(); ++k) {
        EXPECT_EQ(iqTexts[k], iqTexts[0]);
        EXPECT_EQ(readouts[k], readouts[0]);
    }
}

}  // namespace

}  // namespace qv
