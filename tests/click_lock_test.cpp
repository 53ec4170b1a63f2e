// Click phase lock: oscillator wrap, blanking window, lock on a steady tone, inversion.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "tests/chain_fixture.h"
#include "tests/readouts.h"

namespace qv {

namespace {

// Positions n whose rotated vector was blanked (VectorI unchanged by the sample), for a
// constant input after the filter has filled.
std::set<int> BlankedPositions(StartedChain& c, int first, int last) {
    for (int k = 0; k < 40; ++k) PhaseLockSample(c.M, 5000, 0.5L);  // fill the filter
    std::set<int> blanked;
    for (int n = first; n <= last; ++n) {
        const long double before = c.M.Lock.VectorI;
        PhaseLockSample(c.M, n, 0.5L);
        if (c.M.Lock.VectorI == before) blanked.insert(n);
    }
    return blanked;
}

std::set<int> Range(int first, int last) {
    std::set<int> r;
    for (int n = first; n <= last; ++n) r.insert(n);
    return r;
}

TEST(LowPass, SymmetricWithTheStatedGain) {
    long double sum = 0;
    for (int k = 0; k < kTapCount; ++k) {
        EXPECT_EQ(kLowPassTaps[k], kLowPassTaps[kTapCount - 1 - k]) << "tap " << k;
        sum += kLowPassTaps[k];
    }
    EXPECT_NEAR(static_cast<double>(sum), 0.95854996, 1e-8);
}

TEST(Oscillator, PhaseWrapsTowardsZero) {
    StartedChain c;
    c.M.Lock.LockStep = 0.2125L;
    c.M.Lock.LockPhase = 0.95L;
    PhaseLockSample(c.M, 5000, 0);
    EXPECT_NEAR(static_cast<double>(c.M.Lock.LockPhase), 0.1625, 1e-17);
    c.M.Lock.LockPhase = -0.1L;  // as a correction may leave it
    PhaseLockSample(c.M, 5000, 0);
    EXPECT_NEAR(static_cast<double>(c.M.Lock.LockPhase), 0.1125, 1e-17);
}

TEST(Blanking, WindowAroundTheClickPosition) {
    StartedChain c;
    EXPECT_EQ(BlankedPositions(c, 0, 400), Range(12, 330));
}

TEST(Blanking, WindowDoesNotWrapAtTheEndOfTheSecond) {
    StartedChain c;
    c.M.Lock.ClickPosition = 5;
    EXPECT_EQ(BlankedPositions(c, 7980, 7999), std::set<int>());
    StartedChain d;
    d.M.Lock.ClickPosition = 5;
    EXPECT_EQ(BlankedPositions(d, 0, 400), Range(0, 304));
}

TEST(Blanking, OffBlanksNothing) {
    StartedChain c;
    c.M.Params.BlankRfClickFlag = -1;
    EXPECT_EQ(BlankedPositions(c, 0, 400), std::set<int>());
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

}  // namespace

}  // namespace qv
