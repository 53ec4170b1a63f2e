// Timed runs of known instructions: 100 (or 70) of them unrolled per loop pass, so the loop's
// own counter, a separate one-cycle chain on other units, adds nothing to the time.
//
// Latency: each instruction takes the previous one's result. Issue interval: seven
// accumulators st(1)..st(7) each take st(0) in turn, so kX87ProbeChains operations are in flight
// at once (enough while the interval is at least a seventh of the latency; AtProbeLimit tells
// when it may not have been). Runs of fresh values loaded and stored instead would need no
// accumulators, but the x87 stack's pushes and pops then limit the run. The values stay ordinary
// numbers: additions of 1 to 1 (at most about 1e9 after a run), multiplications by 1, divisions
// that swap a value with 32767 over it (as the chain divides by 32767), roundings of integers
// and halves. Divisions by 1 or of denormals would take other, shorter or longer, paths.
#include "bench/x87_probes.h"

#include <algorithm>
#include <vector>

#include "common/os.h"

namespace qv {

double ThreadCpuNs() { return os::ThreadCpuSeconds() * 1e9; }

#if defined(__x86_64__) && defined(__GNUC__)

namespace {

constexpr int kRuns = 7;  // the median of these many timed runs

#define QV_X87_STACK "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)"
// One operation on each of the seven accumulators, st(i) = st(i) op st(0).
#define QV_SEVEN(op)                                                                           \
    op " %%st, %%st(1)\n" op " %%st, %%st(2)\n" op " %%st, %%st(3)\n" op " %%st, %%st(4)\n" op \
       " %%st, %%st(5)\n" op " %%st, %%st(6)\n" op " %%st, %%st(7)\n"
#define QV_POP_EIGHT ".rept 8\n fstp %%st(0)\n .endr\n"

const long double kOne = 1, kHalf = 0.5L, kFullScale = 32767, kDivided = 1.5L;

// Each body runs `passes` loop passes; its operations per pass are given with it below.

[[gnu::noinline]] void IntegerAdds(long passes) {
    long a = 0, b = 1;
    __asm__ volatile("1:\n .rept 100\n add %2, %1\n .endr\n dec %0\n jnz 1b"
                     : "+r"(passes), "+r"(a)
                     : "r"(b)
                     : "cc");
}

[[gnu::noinline]] void IntegerMultiplies(long passes) {
    long a = 1, b = 1;
    __asm__ volatile("1:\n .rept 100\n imul %2, %1\n .endr\n dec %0\n jnz 1b"
                     : "+r"(passes), "+r"(a)
                     : "r"(b)
                     : "cc");
}

[[gnu::noinline]] void DependentAdds(long passes) {
    __asm__ volatile(
        "fldt %1\n fldt %1\n 1:\n .rept 100\n fadd %%st(1), %%st\n .endr\n dec %0\n jnz 1b\n"
        "fstp %%st(0)\n fstp %%st(0)"
        : "+r"(passes)
        : "m"(kOne)
        : QV_X87_STACK, "cc");
}

[[gnu::noinline]] void DependentMultiplies(long passes) {
    __asm__ volatile(
        "fldt %1\n fldt %1\n 1:\n .rept 100\n fmul %%st(1), %%st\n .endr\n dec %0\n jnz 1b\n"
        "fstp %%st(0)\n fstp %%st(0)"
        : "+r"(passes)
        : "m"(kOne)
        : QV_X87_STACK, "cc");
}

// st(0) = 32767 / st(0): 1.5, 32767 / 1.5, 1.5, ...
[[gnu::noinline]] void DependentDivides(long passes) {
    __asm__ volatile(
        "fldt %1\n fldt %2\n 1:\n .rept 100\n fdivr %%st(1), %%st\n .endr\n dec %0\n jnz 1b\n"
        "fstp %%st(0)\n fstp %%st(0)"
        : "+r"(passes)
        : "m"(kFullScale), "m"(kDivided)
        : QV_X87_STACK, "cc");
}

// A half added and the sum rounded, in turn: the rounding's latency is this pair's less an
// addition's.
[[gnu::noinline]] void DependentAddRounds(long passes) {
    __asm__ volatile(
        "fldt %1\n fldt %2\n 1:\n .rept 50\n fadd %%st(1), %%st\n frndint\n .endr\n"
        "dec %0\n jnz 1b\n fstp %%st(0)\n fstp %%st(0)"
        : "+r"(passes)
        : "m"(kHalf), "m"(kOne)
        : QV_X87_STACK, "cc");
}

[[gnu::noinline]] void IndependentAdds(long passes) {
    __asm__ volatile(".rept 8\n fldt %1\n .endr\n 1:\n .rept 10\n" QV_SEVEN(
                         "fadd") ".endr\n dec %0\n jnz 1b\n" QV_POP_EIGHT
                     : "+r"(passes)
                     : "m"(kOne)
                     : QV_X87_STACK, "cc");
}

[[gnu::noinline]] void IndependentMultiplies(long passes) {
    __asm__ volatile(".rept 8\n fldt %1\n .endr\n 1:\n .rept 10\n" QV_SEVEN(
                         "fmul") ".endr\n dec %0\n jnz 1b\n" QV_POP_EIGHT
                     : "+r"(passes)
                     : "m"(kOne)
                     : QV_X87_STACK, "cc");
}

// Additions and multiplications alternating, each accumulator taking both in turn.
[[gnu::noinline]] void IndependentMixed(long passes) {
    __asm__ volatile(
        ".rept 8\n fldt %1\n .endr\n 1:\n .rept 5\n"
        "fadd %%st, %%st(1)\n fmul %%st, %%st(2)\n fadd %%st, %%st(3)\n fmul %%st, %%st(4)\n"
        "fadd %%st, %%st(5)\n fmul %%st, %%st(6)\n fadd %%st, %%st(7)\n"
        "fmul %%st, %%st(1)\n fadd %%st, %%st(2)\n fmul %%st, %%st(3)\n fadd %%st, %%st(4)\n"
        "fmul %%st, %%st(5)\n fadd %%st, %%st(6)\n fmul %%st, %%st(7)\n"
        ".endr\n dec %0\n jnz 1b\n" QV_POP_EIGHT
        : "+r"(passes)
        : "m"(kOne)
        : QV_X87_STACK, "cc");
}

// st(i) = 32767 / st(i) (in the assembler's operand order, "fdiv %st, %st(i)" is that one).
[[gnu::noinline]] void IndependentDivides(long passes) {
    __asm__ volatile(".rept 7\n fldt %2\n .endr\n fldt %1\n 1:\n .rept 10\n" QV_SEVEN(
                         "fdiv") ".endr\n dec %0\n jnz 1b\n" QV_POP_EIGHT
                     : "+r"(passes)
                     : "m"(kFullScale), "m"(kDivided)
                     : QV_X87_STACK, "cc");
}

// frndint works on st(0) alone: an exchange after each brings the next of the eight values up,
// so each value is rounded every eighth time. The exchange is a renaming on current cores.
[[gnu::noinline]] void IndependentRounds(long passes) {
    __asm__ volatile(
        ".rept 8\n fldt %1\n .endr\n 1:\n .rept 10\n"
        "frndint\n fxch %%st(1)\n frndint\n fxch %%st(2)\n frndint\n fxch %%st(3)\n"
        "frndint\n fxch %%st(4)\n frndint\n fxch %%st(5)\n frndint\n fxch %%st(6)\n"
        "frndint\n fxch %%st(7)\n.endr\n dec %0\n jnz 1b\n" QV_POP_EIGHT
        : "+r"(passes)
        : "m"(kDivided)
        : QV_X87_STACK, "cc");
}

#undef QV_X87_STACK
#undef QV_SEVEN
#undef QV_POP_EIGHT

// [ns per operation] the median of kRuns runs of `passes` passes of `opsPerPass` operations,
// after one untimed run that brings the core up to speed.
double NsPerOperation(void (*body)(long), long passes, int opsPerPass) {
    body(passes);
    std::vector<double> runs;
    for (int r = 0; r < kRuns; ++r) {
        const double start = ThreadCpuNs();
        body(passes);
        runs.push_back((ThreadCpuNs() - start) / (static_cast<double>(passes) * opsPerPass));
    }
    std::nth_element(runs.begin(), runs.begin() + kRuns / 2, runs.end());
    return runs[kRuns / 2];
}

}  // namespace

bool X87ProbesAvailable() { return true; }

double MeasureClockGhz() { return 1 / NsPerOperation(IntegerAdds, 40000, 100); }

double MeasureMultiplyCycles(double ghz) {
    return NsPerOperation(IntegerMultiplies, 20000, 100) * ghz;
}

X87Costs MeasureX87Costs(double ghz) {
    // Passes for about a millisecond a run at 3 GHz.
    X87Costs c;
    c.AddLatency = NsPerOperation(DependentAdds, 10000, 100) * ghz;
    c.MulLatency = NsPerOperation(DependentMultiplies, 10000, 100) * ghz;
    c.DivLatency = NsPerOperation(DependentDivides, 2000, 100) * ghz;
    c.RoundLatency = NsPerOperation(DependentAddRounds, 2000, 50) * ghz - c.AddLatency;
    c.AddInterval = NsPerOperation(IndependentAdds, 40000, 70) * ghz;
    c.MulInterval = NsPerOperation(IndependentMultiplies, 40000, 70) * ghz;
    c.MixedInterval = NsPerOperation(IndependentMixed, 40000, 70) * ghz;
    c.DivInterval = NsPerOperation(IndependentDivides, 10000, 70) * ghz;
    c.RoundInterval = NsPerOperation(IndependentRounds, 4000, 70) * ghz;
    return c;
}

#else

bool X87ProbesAvailable() { return false; }
double MeasureClockGhz() { return 0; }
double MeasureMultiplyCycles(double) { return 0; }
X87Costs MeasureX87Costs(double) { return {}; }

#endif

}  // namespace qv
