// Number conversions shared by the whole program.
#include "common/numbers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace qv {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the longest prefix of `s` that is a decimal number as NumberFromText accepts it.
size_t DecimalPrefixLength(std::string_view s) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t intDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++intDigits;
    size_t fracDigits = 0;
    if (i < s.size() && s[i] == '.') {
        size_t j = i + 1;
        while (j < s.size() && IsDigit(s[j])) ++j, ++fracDigits;
        if (intDigits + fracDigits > 0) i = j;
    }
    if (intDigits + fracDigits == 0) return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        size_t expDigits = 0;
        while (j < s.size() && IsDigit(s[j])) ++j, ++expDigits;
        if (expDigits > 0) i = j;
    }
    return i;
}

// The text's leading number (sign, digits, point, exponent), after blanks, tabs and line
// feeds; empty when there is none.
std::string_view LeadingNumber(std::string_view text) {
    size_t start = 0;
    while (start < text.size() &&
           (text[start] == ' ' || text[start] == '\t' || text[start] == '\n')) {
        ++start;
    }
    const std::string_view rest = text.substr(start);
    return rest.substr(0, DecimalPrefixLength(rest));
}

// Whether an unsigned decimal number that strtold found out of range is too large (rather
// than too small): its value is at least 1 exactly when its first non-zero digit stands before
// the point at the exponent's place or left of it, that is when the exponent plus the digits
// from the first non-zero one to the point is positive.
bool IsOverflow(std::string_view number) {
    long long place = 0;  // digits from the first non-zero digit to the point
    bool seenNonZero = false, afterPoint = false;
    size_t i = 0;
    for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
        if (number[i] == '.') {
            afterPoint = true;
        } else if (!afterPoint) {
            seenNonZero = seenNonZero || number[i] != '0';
            if (seenNonZero) ++place;
        } else if (!seenNonZero) {
            seenNonZero = number[i] != '0';
            if (!seenNonZero) --place;
        }
    }
    long long exponent = 0;  // saturated: far beyond any range is as good as its limit
    bool negativeExponent = false;
    if (i < number.size()) {
        ++i;
        if (i < number.size() && (number[i] == '+' || number[i] == '-')) {
            negativeExponent = number[i++] == '-';
        }
        for (; i < number.size(); ++i)
            exponent = std::min(exponent * 10 + (number[i] - '0'), 100000000LL);
    }
    return (negativeExponent ? -exponent : exponent) + place > 0;
}

}  // namespace

long double NumberFromText(std::string_view text) {
    std::string_view number = LeadingNumber(text);
    if (number.empty()) return 0;
    const bool negative = number[0] == '-';
    if (number[0] == '+' || number[0] == '-') number.remove_prefix(1);
    // strtold, correctly rounded to the full 80-bit precision by glibc and by MinGW-w64 alike
    // (MinGW's from_chars for long double stops at double precision). It reads the plain
    // decimal number cut out above, so no hexadecimal, infinity or blanks reach it; its
    // decimal point is the C locale's, which the program never changes.
    const std::string digits(number);
    char* end = nullptr;
    errno = 0;
    long double value = std::strtold(digits.c_str(), &end);
    if (errno == ERANGE) {  // too large, or too small for a normal number
        value = IsOverflow(number) ? std::numeric_limits<long double>::max() : 0;
    } else if (end != digits.c_str() + digits.size() || !std::isfinite(value)) {
        return 0;
    }
    return negative ? -value : value;
}

bool HasNumber(std::string_view text) { return !LeadingNumber(text).empty(); }

long double IntFloor(long double v) { return std::floor(v); }

std::string FormatMask(long double v, int decimals) {
    if (v == 0) v = 0;  // a negative zero is not negative
    char buffer[96];
    int n = std::snprintf(buffer, sizeof buffer, "%.*Lf", decimals, v);
    if (n < 0 || n >= static_cast<int>(sizeof buffer)) return v < 0 ? "-overflow" : "overflow";
    return buffer;
}

std::string FormatForText(const char* format, long double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<double>(value));
    if (text[0] == '-' && std::string_view(text).find_first_of("123456789") == std::string::npos)
        return text + 1;
    return text;
}

std::string FormatSignedForText(const char* format, long double value) {
    const std::string text = FormatForText(format, value);
    return text[0] == '-' ? text : "+" + text;
}

std::string FormatPicture7(long double v) {
    std::string text = FormatMask(v, 7);
    // "0.5000000" -> ".5000000", "-0.0123457" -> "-.0123457"
    size_t digits = text[0] == '-' ? 1 : 0;
    if (text.size() > digits + 1 && text[digits] == '0' && text[digits + 1] == '.') {
        text.erase(digits, 1);
    }
    return text;
}

std::string FormatBlankSigned(long long v) {
    return v >= 0 ? " " + std::to_string(v) : std::to_string(v);
}

long double ArcTan2(long double y, long double x) {
    if (y == 0 && x == 0) return 0;
    // A negative zero y would give -pi for a negative x; the range is (-pi, pi].
    if (y == 0) y = 0;
    return std::atan2(y, x);
}

}  // namespace qv
