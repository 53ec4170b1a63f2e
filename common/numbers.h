// Number conversions shared by the whole program: entry-field parsing, rounding and the
// read-out, chart and I/Q-file number formats.
#pragma once

#include <cmath>
#include <string>
#include <string_view>

namespace qv {

// The value of the longest leading decimal number of a text, after leading blanks, tabs and
// line feeds; 0 when there is none. Accepted: an optional sign ('+' or '-'), digits with an
// optional decimal point (".5", "5." and "5.25" are numbers; "." alone is not), and an optional
// exponent ('e' or 'E', optional sign, at least one digit) that counts only when complete
// ("1e3" is 1000, "1e" is 1). A number too large for extended precision counts as the
// largest finite value of its sign, one too small as 0, so a typo never feeds an infinity into
// the measurement and a huge entry stays huge (the caller limits it).
long double NumberFromText(std::string_view text);
// Whether the text starts, after blanks, tabs and line feeds, with a number NumberFromText
// reads ("nan", "" and "abc" do not; "0" and "7 Hz" do).
bool HasNumber(std::string_view text);

// ROUND: nearest integer, a half to the even neighbour (the current rounding mode, which the
// program never changes from round-to-nearest-even).
inline long double RoundHalfEven(long double v) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    // What rintl does, without the library call.
    long double r;
    __asm__("frndint" : "=t"(r) : "0"(v));
    return r;
#else
    return std::rint(v);
#endif
}
// ROUND for pixel coordinates: the result is limited to +-1e9 (NaN gives -1e9), which lies far
// outside every surface, so a point that runs away is simply not drawn. lrint rounds in the
// current mode, which the program never changes from round-to-nearest-even.
inline int RoundToPixel(long double v) {
    constexpr long double kLimit = 1e9L;
    if (!(v > -kLimit)) return -static_cast<int>(kLimit);
    if (v > kLimit) return static_cast<int>(kLimit);
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    // What lrint does, without the library call: store as an integer in the current mode.
    long long rounded;
    __asm__("fistpll %0" : "=m"(rounded) : "t"(v) : "st");
    return static_cast<int>(rounded);
#else
    return static_cast<int>(std::lrint(v));
#endif
}
// INT: rounding down, towards minus infinity.
long double IntFloor(long double v);
// frac(v) = v - trunc(v), keeping the sign of v.
// The chain's phases stay within (-2, 2), where the integer part is -1, -0, 0 or 1 and the
// difference is exact; the short cuts give the very bits of v - trunc(v) (+0 for -0) without
// a library call that reloads the floating-point control word.
inline long double Frac(long double v) {
    if (v > -1 && v < 1) return v + 0.0L;
    if (v >= 1 && v < 2) return v - 1;
    if (v <= -1 && v > -2) return v + 1;
    return v - std::trunc(v);
}

// The masks "0.000", "0.00" and "0.0": at least one digit before the point, `decimals`
// digits after it, rounded; "-" for a negative value (also when it rounds to zero).
std::string FormatMask(long double v, int decimals);
// A number for a message or a summary, in a printf format for a double ("%.3f"); one that
// rounds to zero shows no sign ("0.000", never "-0.000"), unlike the read-outs' masks.
std::string FormatForText(const char* format, long double value);
// The same with a sign always: "+37.012", "-0.500", "+0.000".
std::string FormatSignedForText(const char* format, long double value);
// The picture "#.0000000": sign, integer digits without a leading zero (nothing before the
// point when the magnitude is below 1), point, seven decimals.
std::string FormatPicture7(long double v);
// Whole number preceded by one blank when not negative (" 3", "-3").
std::string FormatBlankSigned(long long v);

// Angle of (x, y) in radians in (-pi, pi]; 0 for (0, 0).
long double ArcTan2(long double y, long double x);

constexpr long double kPi = 3.141592653589793L;  // the decimal value the chain computes with

}  // namespace qv
