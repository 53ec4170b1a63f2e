// The oscillators' sine and cosine against the C library's extended-precision ones.
#include "common/trig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "common/numbers.h"

namespace qv {

namespace {

// Distance in units in the last place of `reference`.
long double UlpDistance(long double value, long double reference) {
    if (value == reference) return 0;
    const long double ulp = std::nextafter(std::fabs(reference), INFINITY) - std::fabs(reference);
    return std::fabs(value - reference) / ulp;
}

void ExpectWithinOneUlp(long double x) {
    long double s, c, libS, libC;
    ExtendedSinCos(x, &s, &c);
    sincosl(x, &libS, &libC);
    // The library's results are themselves within about one unit of the exact values; ours
    // may land on the other neighbour, never further.
    ASSERT_LE(UlpDistance(s, libS), 1) << "sin " << static_cast<double>(x);
    ASSERT_LE(UlpDistance(c, libC), 1) << "cos " << static_cast<double>(x);
}

TEST(ExtendedSinCos, WithinOneUlpOverTheOscillatorRange) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 300000; ++i) {
        const long double phase = static_cast<long double>(random() >> 11) / (1ULL << 53) * 2 - 1;
        ExpectWithinOneUlp(2 * kPi * phase);
    }
}

TEST(ExtendedSinCos, ExactAtAndNearTheTableSteps) {
    for (int n = -256; n <= 256; ++n) {
        const long double x = n * (kPi / 128);
        ExpectWithinOneUlp(x);
        ExpectWithinOneUlp(std::nextafter(x, INFINITY));
        ExpectWithinOneUlp(x + kPi / 256);  // half-way between two steps
    }
    long double s, c;
    ExtendedSinCos(0, &s, &c);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(c, 1);
    ExpectWithinOneUlp(1e-30L);
    ExpectWithinOneUlp(-1e-4000L);
}

TEST(ExtendedSinCos, LargeArgumentsAreLeftToTheLibrary) {
    for (long double x : {17.0L, -1000.5L, 1e30L}) {
        long double s, c, libS, libC;
        ExtendedSinCos(x, &s, &c);
        sincosl(x, &libS, &libC);
        EXPECT_EQ(s, libS);
        EXPECT_EQ(c, libC);
    }
}

}  // namespace

}  // namespace qv
