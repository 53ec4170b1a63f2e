// The chain's floor: the fewest cycles per output sample its x87 arithmetic could take on a
// processor, from the operations one sample needs (counted here from the code, stage by stage)
// and the processor's x87 latencies and issue intervals (measured by bench/x87_probes.h).
//
// Counted case: the default chain as the window runs it on an 8 kHz card: offset 0, drawing on,
// blanking on, not inverted. Per-frame work counts once per sample: 8000 frames a second carry
// 8000 output samples, to within the card's clock error. Work done once a second or once a
// period (the clock loop, the click lock, read-outs, panels) and the traces drawn for 81 of the
// second's 8000 samples are left out: their arithmetic comes to well under one operation per
// sample.
//
// Classes: Add is every x87 addition, subtraction and comparison (one adder operation each);
// Mul every multiplication; Div every division; Round every rounding to an integer (frndint).
// Loads, stores, sign changes, register exchanges and integer conversions are not counted: the
// floor is the arithmetic's alone, and what the compiled code spends on those is part of its
// distance from the floor. The totals agree with the x87 arithmetic the compiled chain executes per
// sample (counted once under callgrind with instruction-level counts while the full scale was a
// division: 168 adder operations, 88 multiplications, 2 divisions, 1 rounding; the full scale
// has since taken two multiplications and an addition per channel instead of the division).
#pragma once

#include <algorithm>

namespace qv {

// A count of x87 operations by class.
struct X87Ops {
    int Add = 0, Mul = 0, Div = 0, Round = 0;
};

constexpr X87Ops operator+(X87Ops a, X87Ops b) {
    return {a.Add + b.Add, a.Mul + b.Mul, a.Div + b.Div, a.Round + b.Round};
}

// What one x87 operation takes on the processor [cycles]: the latency from its operands to a
// dependent operation, and the issue interval of a stream of independent ones (Mixed: adds and
// multiplications alternating, which separate units may take side by side).
struct X87Costs {
    double AddLatency = 0, MulLatency = 0, DivLatency = 0, RoundLatency = 0;
    double AddInterval = 0, MulInterval = 0, MixedInterval = 0, DivInterval = 0, RoundInterval = 0;
};

// One stage's operations per output sample, all of them (what has to issue).
struct ChainStage {
    const char* Name;
    X87Ops Ops;
};

// Per output sample, by stage (dsp/front_end, dsp/click_lock, common/trig, dsp/integration,
// display/traces):
inline constexpr ChainStage kChainStages[] = {
    // LoadFrame: two samples in full scale (a head and a tail product and their sum each).
    // NextSample: the ResamplePos < 1 test (twice: the sample's
    // and, once per frame, the one that ends the frame), 1 - p, two interpolations of two
    // products and a sum each, ResamplePos - 1 once per frame. EndSample: the rise, the rise
    // over two samples, its test against PeakRise, ResamplePos + ResampleStep.
    {"re-sampling", {.Add = 12, .Mul = 8}},
    // LockPhase + LockStep, Frac (two range tests and v + 0), 2 pi x the phase.
    {"oscillator", {.Add = 4, .Mul = 1}},
    // ExtendedSinCos: the range test; x 128/pi, frndint; the reduction (three products of n
    // with the step's parts, a, h1, t1's two, the tail, dh, dl's two); z = dh^2; the sine's
    // series (four products of z, three sums, dh z, its product, + dl) and the cosine's (four
    // products of z, three sums, dh dl, the difference); sinA and cosA (four products and five
    // sums each).
    {"sine and cosine", {.Add = 27, .Mul = 23, .Round = 1}},
    // The two mixer products, each split into head and tail (value - head).
    {"mixer", {.Add = 2, .Mul = 2}},
    // Two 27-tap sums, each tap head + tail, x tap, + sum.
    {"low-pass filter", {.Add = 108, .Mul = 54}},
    // OffsetPhase + OffsetStep, Frac (two tests and v + 0), the cached-phase test; the rotation
    // (four products, two sums).
    {"offset rotation", {.Add = 7, .Mul = 4}},
    // VectorI, VectorQ, PeriodI, PeriodQ.
    {"vector and period sums", {.Add = 4}},
    // PlotVectorPoint: the two pixel coordinates and RoundToPixel's two range tests on each.
    {"vectorscope dot", {.Add = 6}},
};

// All of them.
constexpr X87Ops ChainOps() {
    X87Ops sum;
    for (const ChainStage& s : kChainStages) sum = sum + s.Ops;
    return sum;
}

// The longest chain of dependent operations within a sample has two branches that meet at the
// last filter tap. Range tests only steer branches, which are predicted, so they are on no
// path; nor are the product's store and reload as a double head and tail (memory, not
// arithmetic).
//
// The oscillator's branch: LockPhase + LockStep and Frac's v + 0; x 2 pi; in ExtendedSinCos
// x 128/pi, frndint, n x the step's first part, a, h1, a - h1, t1, the tail, dh (the products of
// n with the other parts run beside), z, the sine's series from z (x c9, + c7, x z, + c5, x z,
// - c3, x dh z, + dl; the cosine's runs beside and is no longer), then ca.Hi x sr and the four
// sums up to sinA (cosA alike, beside it); the mixer's product, value - head, head + tail of
// the newest product, x its tap.
inline constexpr X87Ops kOscillatorPath = {.Add = 18, .Mul = 11, .Round = 1};
// The filter's branch: the sum of the 26 older products (in the ring already, so this can start
// with the sample), one dependent addition each.
inline constexpr X87Ops kOlderTapsPath = {.Add = 26};
// From where they meet: the newest tap's addition, the rotation (a product, a difference), the
// vector sum and the vectorscope dot's coordinate.
inline constexpr X87Ops kTailPath = {.Add = 4, .Mul = 1};

// Cycles for a chain of dependent operations.
constexpr double PathCycles(X87Ops path, const X87Costs& c) {
    return path.Add * c.AddLatency + path.Mul * c.MulLatency + path.Div * c.DivLatency +
           path.Round * c.RoundLatency;
}

// Cycles to issue independent operations: adds and multiplications as far as their units allow
// (each class alone, or both through the shared issue when they alternate), divisions and
// roundings, which occupy the units for many cycles each, after them.
constexpr double IssueCycles(X87Ops ops, const X87Costs& c) {
    const double addsAndMuls = std::max(
        {ops.Add * c.AddInterval, ops.Mul * c.MulInterval, (ops.Add + ops.Mul) * c.MixedInterval});
    return addsAndMuls + ops.Div * c.DivInterval + ops.Round * c.RoundInterval;
}

// The latency figure takes a sample's path as not overlapping the next sample's: a sample is
// some 750 instructions, more than an out-of-order core holds in flight beside the one it works
// on, and the chain's order (each sample's oscillator before its filter) leaves little to run
// ahead.
struct ChainFloor {
    double LatencyCycles;  // [cycles per sample] the longest dependent path through a sample
    double IssueCycles;    // [cycles per sample] issuing all of a sample's operations
    double Cycles;         // [cycles per sample] the larger of the two
};

constexpr ChainFloor ChainFloorFor(const X87Costs& c) {
    ChainFloor f{};
    f.LatencyCycles = std::max(PathCycles(kOscillatorPath, c), PathCycles(kOlderTapsPath, c)) +
                      PathCycles(kTailPath, c);
    f.IssueCycles = IssueCycles(ChainOps(), c);
    f.Cycles = std::max(f.LatencyCycles, f.IssueCycles);
    return f;
}

}  // namespace qv
