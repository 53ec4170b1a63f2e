// Sine and cosine in extended precision for the chain's oscillators, whose angles stay within
// (-2 pi, 2 pi).
//
// The C library reduces every argument above pi/4 with its general multi-word reduction,
// which costs more than all the rest of a sample's processing. Here the angle is reduced by steps
// of pi/128 (the step held in three parts, so the reduced argument d, |d| <= pi/256, is exact to
// far below the last place and is carried as a head and a tail), and sin and cos of the step
// multiple come from a table held to twice the extended precision. sin d and cos d need only short
// Taylor series at that size. The results are within one unit in the last place of the exact values
// (as the library's are). Inline, so the chain keeps the values in registers.
#pragma once

#include <cmath>

#include "common/numbers.h"

namespace qv {

namespace trig_detail {

// pi/128 in three parts. The first two have 55 significant bits, so n * part is exact for
// |n| <= 511, and x - n * kStep1 is exact (Sterbenz) for x within half a step of n * pi/128.
constexpr long double kStep1 = 0x6487ed5110b461p-60L;
constexpr long double kStep2 = 0x69898cc51701b8p-118L;
constexpr long double kStep3 = 0xe68948127044533ep-184L;
constexpr long double kInverseStep = 0xa2f9836e4e44152ap-58L;  // 128 / pi
// [steps of pi/128] reduced here, so up to 16 rad and a little more; larger arguments: the
// library.
constexpr int kReducedSteps = 652;

// v rounded to the nearest integer, a half to the even neighbour (the current rounding mode),
// by one store as an integer: the integer indefinite (the smallest int) when v is a NaN, an
// infinity or beyond the int range, which lies outside +-kReducedSteps all the same.
inline int RoundToSteps(long double v) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    int rounded;
    __asm__("fistpl %0" : "=m"(rounded) : "t"(v) : "st");
    return rounded;
#else
    if (!(std::fabs(v) < 1e9L)) return -2147483647 - 1;
    return static_cast<int>(std::lrint(v));
#endif
}

// sin(m pi / 128) for m = 0 .. 64 as head + tail; cos(m pi / 128) is entry 64 - m.
struct TwoPart {
    long double Hi, Lo;
};
extern const TwoPart kSinTable[65];

// 1/n! for the series.
constexpr long double InverseFactorial(int n) {
    long double f = 1;
    for (int k = 2; k <= n; ++k) f *= k;
    return 1 / f;
}

}  // namespace trig_detail

// Both at once: *s = sin x, *c = cos x. Arguments beyond 652 pi/128 (16.0 rad) go to the C
// library.
[[gnu::always_inline]] inline void ExtendedSinCos(long double x, long double* s, long double* c) {
    using namespace trig_detail;
    // The nearest multiple of pi/128, as an integer: its range check is the argument's.
    const int steps = RoundToSteps(x * kInverseStep);
    if (steps < -kReducedSteps || steps > kReducedSteps) {
        sincosl(x, s, c);
        return;
    }
    const long double n = steps;  // exact
    // d = x - n pi/128 as head dh + tail dl.
    const long double a = x - n * kStep1;  // exact
    const long double b = n * kStep2;      // exact
    const long double h1 = a - b;
    const long double t1 = (a - h1) - b;  // exact rounding error of h1 (|a| >= |b|)
    const long double tail = t1 - n * kStep3;
    const long double dh = h1 + tail;
    const long double dl = tail - (dh - h1);

    // sin d = dh + sr, cos d = 1 + cm; |d| <= 0.0123, so the series end far below the last
    // place (the first omitted terms are d^11/11! and d^10/10!).
    const long double z = dh * dh;
    const long double sr =
        dl + dh * z *
                 (-InverseFactorial(3) +
                  z * (InverseFactorial(5) + z * (-InverseFactorial(7) + z * InverseFactorial(9))));
    const long double cm =
        z * (-InverseFactorial(2) +
             z * (InverseFactorial(4) + z * (-InverseFactorial(6) + z * InverseFactorial(8)))) -
        dh * dl;

    // Angle n pi/128 = quadrant * pi/2 + m pi/128.
    const int j = steps & 255;
    const int quadrant = j >> 6, m = j & 63;
    const TwoPart& sa = kSinTable[m];
    const TwoPart& ca = kSinTable[64 - m];
    const long double sinA =
        sa.Hi + (ca.Hi * dh + (((sa.Lo + ca.Lo * dh) + ca.Hi * sr) + sa.Hi * cm));
    const long double cosA =
        ca.Hi + (-(sa.Hi * dh) + (((ca.Lo - sa.Lo * dh) - sa.Hi * sr) + ca.Hi * cm));
    switch (quadrant) {
        case 0:
            *s = sinA, *c = cosA;
            break;
        case 1:
            *s = cosA, *c = -sinA;
            break;
        case 2:
            *s = -sinA, *c = -cosA;
            break;
        default:
            *s = -cosA, *c = sinA;
            break;
    }
}

// ln u for finite u > 0 from + - * / in extended precision only, so that it is the same bits on
// every system (the C libraries' log differ in the last place for about 1 argument in 1000).
double PortableLog(double u);

// e^x for finite x from + - * / and an exact scaling by a power of 2 only, to about 1 ulp, for
// the same reason: 0 below -745, infinity above 709.78.
double PortableExp(double x);

}  // namespace qv
