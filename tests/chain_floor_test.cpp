// The benchmark's floor for the chain: its derivation from the counted operations and the
// processor's costs.
#include "bench/chain_floor.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

// Costs with every latency and interval 1, then one changed at a time, each move checked
// against the figures worked out by hand from the counts (170 adds, 92 multiplications,
// no division, 1 rounding; the oscillator's path 18 adds, 11 multiplications and the rounding,
// the older taps' 26 adds, the tail 4 adds and a multiplication). Exact sums of small whole
// numbers and halves, so compared exactly.
TEST(ChainFloor, LatencyAndIssueBoundsFromTheCounts) {
    const X87Ops all = ChainOps();
    EXPECT_EQ(all.Add, 170);
    EXPECT_EQ(all.Mul, 92);
    EXPECT_EQ(all.Div, 0);
    EXPECT_EQ(all.Round, 1);
    // A path uses operations the sample has: never more of a class than were counted.
    const X87Ops longest = kOscillatorPath + kTailPath;
    EXPECT_LE(longest.Add, all.Add);
    EXPECT_LE(longest.Mul, all.Mul);
    EXPECT_LE(longest.Round, all.Round);
    EXPECT_LE(kOlderTapsPath.Add + kTailPath.Add, all.Add);

    const X87Costs ones{1, 1, 1, 1, 1, 1, 1, 1, 1};
    ChainFloor f = ChainFloorFor(ones);
    EXPECT_EQ(f.LatencyCycles, 30 + 5);     // the oscillator's 30 beat the older taps' 26
    EXPECT_EQ(f.IssueCycles, 262 + 0 + 1);  // adds and multiplications through one issue
    EXPECT_EQ(f.Cycles, f.IssueCycles);

    // Adds and multiplications side by side: the adds alone decide.
    X87Costs c = ones;
    c.MixedInterval = 0.5;
    EXPECT_EQ(ChainFloorFor(c).IssueCycles, 170 + 0 + 1);
    // Slow multiplications: they decide instead.
    c.MulInterval = 2.5;
    EXPECT_EQ(ChainFloorFor(c).IssueCycles, 230 + 0 + 1);

    // Instant multiplications and rounding: the older taps' 26 additions become the longer
    // branch.
    c = ones;
    c.MulLatency = 0;
    c.RoundLatency = 0;
    EXPECT_EQ(ChainFloorFor(c).LatencyCycles, 26 + 4);

    // Long latencies and quick issue: the latency decides the floor.
    c = ones;
    c.AddLatency = 6.5;
    c.MulLatency = 6.5;
    c.RoundLatency = 20;
    c.AddInterval = c.MulInterval = c.MixedInterval = 0.5;
    f = ChainFloorFor(c);
    EXPECT_EQ(f.LatencyCycles, (18 + 11) * 6.5 + 20 + 5 * 6.5);
    EXPECT_EQ(f.IssueCycles, 131 + 0 + 1);
    EXPECT_EQ(f.Cycles, f.LatencyCycles);
}

}  // namespace

}  // namespace qv
