// Entry-text parsing, rounding and the number and time formats.
#include "common/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "common/time_of_day.h"

namespace qv {

namespace {

void ExpectNumber(const char* text, long double expected) {
    EXPECT_EQ(NumberFromText(text), expected) << "text \"" << text << "\"";
}

TEST(NumberFromText, ReadsTheLongestLeadingDecimalNumberOrGivesZeroWithoutOne) {
    ExpectNumber("1700.0", 1700);
    ExpectNumber("0.0000000000000000000", 0);
    ExpectNumber(" \t\n42abc", 42);
    ExpectNumber("2.9", 2.9L);
    ExpectNumber(".5", 0.5L);
    ExpectNumber("5.", 5);
    ExpectNumber("-0.25", -0.25L);
    ExpectNumber("+3", 3);
    ExpectNumber("1e3", 1000);
    ExpectNumber("1e", 1);  // an incomplete exponent is not part of the number
    ExpectNumber("2E-1x", 0.2L);
    ExpectNumber("12.5.3", 12.5L);
    // Without a number: zero.
    for (const char* text : {"", "abc", ".", "-", "+.", " x1", "\r5", "nan", "inf"}) {
        ExpectNumber(text, 0);
        EXPECT_FALSE(HasNumber(text)) << text;
    }
    for (const char* text : {"0", " 7 Hz", "-.5", "1e99999", "0e5"}) EXPECT_TRUE(HasNumber(text));
}

// Beyond extended precision a number is the largest finite value of its sign, never an
// infinity; below it, zero. The limits are decided by where the first non-zero digit stands.
TEST(NumberFromText, OutOfRangeNumbersAreTheLargestValueOrZero) {
    const long double max = std::numeric_limits<long double>::max();
    ExpectNumber("1e4932", 1e4932L);  // still within range
    for (const char* text :
         {"1e4933", "1e99999", "0.001e4936", "123456e4930", "1e999999999999999999",
          "100000000000000000000000000000000000000e4900"}) {
        ExpectNumber(text, max);
        ExpectNumber((std::string("-") + text).c_str(), -max);
    }
    for (const char* text : {"1e-4952", "1e-99999", "-1e-99999", "1000e-4955", "0.0001e-4948"}) {
        EXPECT_EQ(std::fabs(NumberFromText(text)), 0) << text;
    }
}

// Every 80-bit value survives printing with 21 significant digits and reading back, bit for
// bit: the parse keeps the full extended precision (not double's), over the whole normal range
// and for the halfway cases where a sloppy parse rounds the wrong way.
TEST(NumberFromText, ReadsBackEveryExtendedValueBitForBit) {
    std::mt19937_64 random(13);
    std::uniform_int_distribution<int> exponent(-16300, 16300);
    for (int i = 0; i < 20000; ++i) {
        // A full 64-bit significand with its top bit set, at a random binary exponent.
        const uint64_t significand = random() | (uint64_t{1} << 63);
        long double v = std::ldexp(static_cast<long double>(significand), exponent(random) - 63);
        if (i % 2 == 1) v = -v;
        char text[64];
        std::snprintf(text, sizeof text, "%.21Lg", v);
        const long double back = NumberFromText(text);
        ASSERT_EQ(std::memcmp(&back, &v, 10), 0) << text;
    }
    // Decimals that double precision cannot tell apart from their neighbours.
    EXPECT_NE(NumberFromText("0.10000000000000000001"), NumberFromText("0.1"));
    EXPECT_EQ(NumberFromText("1.18973149535723176502e+4932"),
              std::numeric_limits<long double>::max());
}

TEST(Rounding, RoundsHalvesToEvenAndFloorsInt) {
    EXPECT_EQ(RoundHalfEven(0.5L), 0);
    EXPECT_EQ(RoundHalfEven(1.5L), 2);
    EXPECT_EQ(RoundHalfEven(2.5L), 2);
    EXPECT_EQ(RoundHalfEven(-2.5L), -2);
    EXPECT_EQ(RoundToPixel(84.5L), 84);
    EXPECT_EQ(RoundToPixel(1e30L), 1000000000);
    EXPECT_EQ(RoundToPixel(-1e30L), -1000000000);
    EXPECT_EQ(RoundToPixel(NAN), -1000000000);
    EXPECT_EQ(IntFloor(2.9L), 2);
    EXPECT_EQ(IntFloor(-0.5L), -1);
}

TEST(Rounding, FracKeepsTheSignAndMatchesTheDefinitionBitForBit) {
    EXPECT_EQ(Frac(1.1625L), 1.1625L - 1);
    EXPECT_EQ(Frac(-0.1L), -0.1L);
    EXPECT_FALSE(std::signbit(Frac(-0.0L)));  // -0 - trunc(-0) is +0
    std::mt19937_64 random(7);
    for (int i = 0; i < 100000; ++i) {
        long double v = (static_cast<long double>(random() >> 11) / (1ULL << 53) - 0.5L) * 6;
        long double reference = v - std::trunc(v);
        long double fast = Frac(v);
        ASSERT_EQ(std::memcmp(&reference, &fast, 10), 0) << static_cast<double>(v);
    }
}

TEST(Formats, MasksPicturesAndSignedWholeNumbers) {
    EXPECT_EQ(FormatMask(1.25L, 2), "1.25");
    EXPECT_EQ(FormatMask(-12.5L, 2), "-12.50");
    EXPECT_EQ(FormatMask(45.349L, 1), "45.3");
    EXPECT_EQ(FormatMask(0.0004L, 3), "0.000");
    EXPECT_EQ(FormatMask(-0.0004L, 3), "-0.000");  // negative: the sign stays
    EXPECT_EQ(FormatMask(-0.0L, 2), "0.00");       // negative zero is not negative
    EXPECT_EQ(FormatMask(100.0000022L, 1), "100.0");
    EXPECT_EQ(FormatPicture7(11502.6L), "11502.6000000");
    EXPECT_EQ(FormatPicture7(-0.0123456789L), "-.0123457");
    EXPECT_EQ(FormatPicture7(0.5L), ".5000000");
    EXPECT_EQ(FormatPicture7(0), ".0000000");
    EXPECT_EQ(FormatPicture7(-862.21283L), "-862.2128300");
    EXPECT_EQ(FormatBlankSigned(3), " 3");
    EXPECT_EQ(FormatBlankSigned(30), " 30");
    EXPECT_EQ(FormatBlankSigned(0), " 0");
    EXPECT_EQ(FormatBlankSigned(-3), "-3");
}

TEST(ArcTan2, CoversTheHalfOpenCircle) {
    EXPECT_EQ(ArcTan2(0, 0), 0);
    EXPECT_EQ(ArcTan2(-0.0L, 0), 0);
    EXPECT_GT(ArcTan2(-0.0L, -1), 3.14L);  // +pi, never -pi
    EXPECT_GT(ArcTan2(0, -1), 3.14L);
    EXPECT_NEAR(static_cast<double>(ArcTan2(1, 1)), 0.7853981633974483, 1e-15);
    EXPECT_NEAR(static_cast<double>(ArcTan2(-1, -1)), -2.356194490192345, 1e-15);
}

TEST(TimeOfDay, FormatsAndParses) {
    const int64_t ms = (14 * 3600 + 2 * 60 + 9) * 1000LL + 987;
    EXPECT_EQ(FormatTimeOfDay(ms), "14:02:09");
    EXPECT_EQ(FormatTimeForFileName(ms), "140209");
    EXPECT_EQ(FormatTimeWithMilliseconds(ms), "14:02:09.987");
    EXPECT_EQ(FormatTimeOfDay(kMillisecondsPerDay + 1000), "00:00:01");  // wraps at midnight
    int64_t parsed = -1;
    EXPECT_TRUE(ParseTimeOfDay("23:59:59", parsed));
    EXPECT_EQ(parsed, 86399000);
    for (const char* bad : {"24:00:00", "12:60:00", "1:02:03", "12-00-00", "ab:cd:ef", ""}) {
        EXPECT_FALSE(ParseTimeOfDay(bad, parsed)) << bad;
    }
}

}  // namespace

}  // namespace qv
