// The oscillators' sine and cosine against the C library's extended-precision ones.
#include "common/trig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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

// Arguments with the sine and cosine our oscillators give there, to the last bit: these are the
// numbers the chain computes with on every platform. All lie within one unit of the exact
// values, so they also tell whether the C library can serve as the reference here.
struct Pinned {
    long double X, Sin, Cos;
};
constexpr Pinned kPinned[] = {
    {0xc.ccccccccccccccdp-7L, 0xc.c75765c5e595e98p-7L, 0xf.eb897cd40be0413p-4L},
    {0x8p-3L, 0xd.76aa47848677021p-4L, 0x8.a51407da8345c92p-4L},
    {-0xap-2L, -0x9.935786e7e558405p-4L, -0xc.d17bf7c2c5be958p-4L},
    {0xcp-2L, 0x9.081c36db6aada79p-6L, -0xf.d7025f42f2e9308p-4L},
    {0xc.8df1a3719bd3fa9p-1L, -0xc.30160af33f957e2p-11L, 0xf.ffed6e921035827p-4L},
    {-0x9.6eb99d5acb0d838p-1L, 0xf.fff824e7a92dcf5p-4L, 0xf.daeb7184c3e9b03p-12L},
    {0xc.8de6c78f378a7fbp-3L, 0xf.fffece949e6badp-4L, 0xc.5b89fcdab791f2fp-13L},
    {0xc.8ff4f4120c8a824p-2L, 0x8.45b068ba040f903p-13L, -0xf.ffff7723ff7b62bp-4L},
};

// Whether the C library's sincosl is within one unit of the pinned values (glibc's is;
// MinGW-w64's misses by up to tens of units near the zeros of sine and cosine).
bool LibraryIsAReference() {
    for (const Pinned& p : kPinned) {
        long double libS, libC;
        sincosl(p.X, &libS, &libC);
        if (UlpDistance(libS, p.Sin) > 1 || UlpDistance(libC, p.Cos) > 1) return false;
    }
    return true;
}

#define SKIP_WITHOUT_A_LIBRARY_REFERENCE()                                                      \
    if (!LibraryIsAReference())                                                                 \
    GTEST_SKIP() << "the C library's sincosl is not within one unit of the exact values here; " \
                    "the pinned values check the oscillators"

TEST(ExtendedSinCos, TheSameBitsOnEveryPlatform) {
    for (const Pinned& p : kPinned) {
        long double s, c;
        ExtendedSinCos(p.X, &s, &c);
        EXPECT_EQ(s, p.Sin) << static_cast<double>(p.X);
        EXPECT_EQ(c, p.Cos) << static_cast<double>(p.X);
    }
}

TEST(ExtendedSinCos, WithinOneUlpOverTheOscillatorRange) {
    SKIP_WITHOUT_A_LIBRARY_REFERENCE();
    std::mt19937_64 random(11);
    for (int i = 0; i < 300000; ++i) {
        const long double phase = static_cast<long double>(random() >> 11) / (1ULL << 53) * 2 - 1;
        ExpectWithinOneUlp(2 * kPi * phase);
    }
}

TEST(ExtendedSinCos, ExactAtAndNearTheTableSteps) {
    SKIP_WITHOUT_A_LIBRARY_REFERENCE();
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
    // Whose rounding to a step count has no integer at all.
    for (long double x : {std::numeric_limits<long double>::quiet_NaN(),
                          std::numeric_limits<long double>::infinity(), -1e300L}) {
        long double s, c, libS, libC;
        ExtendedSinCos(x, &s, &c);
        sincosl(x, &libS, &libC);
        EXPECT_EQ(std::isnan(s), std::isnan(libS)) << static_cast<double>(x);
        EXPECT_TRUE(std::isnan(libS) || s == libS) << static_cast<double>(x);
        EXPECT_TRUE(std::isnan(libC) || c == libC) << static_cast<double>(x);
    }
}

}  // namespace

// The portable logarithm agrees with the library's to a unit or two in the last place, across
// the doubles' range and around the sqrt(1/2) fold, and is exact where the answer is.
TEST(PortableLog, WithinTwoUlpOfTheLibraryAcrossTheRange) {
    EXPECT_EQ(PortableLog(1.0), 0.0);
    EXPECT_EQ(PortableLog(2.0), std::log(2.0));
    std::mt19937_64 gen(5);
    std::uniform_real_distribution<double> mantissa(0.5, 1.0);
    std::uniform_int_distribution<int> exponent(-1000, 1000);
    for (int i = 0; i < 100000; ++i) {
        const double u = std::ldexp(mantissa(gen), exponent(gen));
        const double expected = std::log(u);
        EXPECT_NEAR(PortableLog(u), expected, 2 * std::fabs(expected) * 0x1p-52 + 0x1p-1074) << u;
    }
    for (const double u : {0.70710678118654746, 0.70710678118654757, 1 - 0x1p-53, 1 + 0x1p-52}) {
        EXPECT_NEAR(PortableLog(u), std::log(u), 2 * std::fabs(std::log(u)) * 0x1p-52) << u;
    }
}

// The portable exponential likewise, over the whole range the doubles hold, with its ends.
TEST(PortableExp, WithinTwoUlpOfTheLibraryAcrossTheRange) {
    EXPECT_EQ(PortableExp(0.0), 1.0);
    EXPECT_EQ(PortableExp(-800.0), 0.0);
    EXPECT_EQ(PortableExp(710.0), HUGE_VAL);
    std::mt19937_64 gen(6);
    std::uniform_real_distribution<double> argument(-740.0, 709.0);
    for (int i = 0; i < 100000; ++i) {
        const double x = i % 2 ? argument(gen) : argument(gen) / 700;  // also many near 0
        const double expected = std::exp(x);
        EXPECT_NEAR(PortableExp(x), expected, 2 * expected * 0x1p-52 + 0x1p-1074) << x;
    }
}

}  // namespace qv
