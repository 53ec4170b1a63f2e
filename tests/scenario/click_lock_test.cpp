// Click phase lock over simulated minutes: a steady tone at the lock frequency, and an
// inverted input that settles half a cycle away.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "tests/chain_fixture.h"
#include "tests/readouts.h"

namespace qv {

namespace {

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

}  // namespace

}  // namespace qv
