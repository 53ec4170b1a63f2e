// The clock loop over simulated minutes with a known truth: the card's error measured, fast
// and slow.
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

}  // namespace

}  // namespace qv
