// Click phase lock: the low-pass filter, oscillator wrap, blanking window.
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

}  // namespace

}  // namespace qv
