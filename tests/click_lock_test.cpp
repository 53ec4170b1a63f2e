// Click phase lock: the low-pass filter, oscillator wrap, blanking window.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "common/numbers.h"
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

// Without an offset the rotation leaves the filtered vector as it is, to the bit and the sign
// of zero (silence gives zero sums); an offset that has turned the phase and then been set
// back to 0 keeps rotating by the phase where it stopped.
TEST(OffsetRotation, IdentityOnlyWhileThePhaseHasNeverMoved) {
    ClickLock c;
    c.LockStep = 0.2125L;
    LockedSample s;
    auto sameBits = [](long double a, long double b) {
        return a == b && std::signbit(a) == std::signbit(b);
    };
    for (int k = 0; k < 100; ++k) {
        const long double x = k < 40 ? 0.0L : (k % 3 == 0 ? -0.25L : 0.5L);
        LockSample(c, 5000, x, false, s);
        ASSERT_TRUE(sameBits(s.RotatedI, s.I) && sameBits(s.RotatedQ, s.Q)) << "sample " << k;
    }
    c.OffsetStep = 0.01L;
    for (int k = 0; k < 10; ++k) LockSample(c, 5000, 0.5L, false, s);
    c.OffsetStep = 0;
    const long double stopped = c.OffsetPhase;
    ASSERT_NEAR(static_cast<double>(stopped), 0.1, 1e-15);
    for (int k = 0; k < 20; ++k) {
        LockSample(c, 5000, k % 2 ? -0.25L : 0.5L, false, s);
        EXPECT_EQ(c.OffsetPhase, stopped);
        const long double turned = std::atan2(s.RotatedQ, s.RotatedI) - std::atan2(s.Q, s.I);
        EXPECT_NEAR(static_cast<double>(std::remainder(turned - 2 * kPi * stopped, 2 * kPi)), 0,
                    1e-12)
            << "sample " << k;
    }
}

// Two samples in flight (both mixed, then both filtered, then each finished) give every value
// of one sample at a time, through many turns of the mixer ring, a click reading on the
// second of a pair and the blanking around it, with the offset rotating.
TEST(TwoSamplesInFlight, SameBitsAsOneAtATime) {
    ClickLock single, paired;
    for (ClickLock* c : {&single, &paired}) {
        c->LockStep = 0.2125L;
        c->OffsetStep = 0.0013L;
        c->ClickPosition = 31;
    }
    auto input = [](int k) { return std::sin(0.37L * k) * 0.6L + (k % 7) * 0.01L; };
    auto sameSample = [](const LockedSample& a, const LockedSample& b) {
        return a.I == b.I && a.Q == b.Q && a.RotatedI == b.RotatedI && a.RotatedQ == b.RotatedQ &&
               a.ClickRead == b.ClickRead &&
               (!a.ClickRead || (a.ClickPhase == b.ClickPhase && a.ClickLevel == b.ClickLevel));
    };
    for (int k = 0; k < 400; k += 2) {
        const int n0 = k % 100, n1 = n0 + 1;  // n1 = 31 reads the click
        LockedSample s0, s1, p0, p1;
        LockSample(single, n0, input(k), true, s0);
        LockSample(single, n1, input(k + 1), true, s1);
        MixSample(paired, input(k));
        MixSample(paired, input(k + 1));
        long double i0, q0, i1, q1;
        FilterLatestTwo(paired, i0, q0, i1, q1);
        FinishLockSample(paired, n0, i0, q0, true, p0);
        FinishLockSample(paired, n1, i1, q1, true, p1);
        ASSERT_TRUE(sameSample(s0, p0) && sameSample(s1, p1)) << "samples " << k;
        ASSERT_TRUE(single.LockPhase == paired.LockPhase && single.LockStep == paired.LockStep &&
                    single.VectorI == paired.VectorI && single.VectorQ == paired.VectorQ)
            << "after samples " << k;
        // FilterLatest on the pair's ring: the second sample's own filter.
        long double i, q;
        FilterLatest(paired, i, q);
        ASSERT_TRUE(i == i1 && q == q1) << "samples " << k;
    }
    EXPECT_NE(single.LockStep, 0.2125L) << "the click lock ran";
}

}  // namespace

}  // namespace qv
