// Reading command-line options: the value after an option, and the strict number forms the
// programs accept (a whole text, nothing left over, range checked by the caller or here).
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// "--" ends a program's options: every argument after it is a file name, even one that begins
// with '-'. True when `arg` is the first "--", which `optionsEnded` then records (the caller
// skips it); false for every other argument, a later "--" included.
bool EndsOptions(const std::string& arg, bool& optionsEnded);

// Takes the value after the option argv[i] into `target` and moves i onto it; false with one
// line in `error` when there is none, or when it is empty and `allowEmpty` is false.
bool TakeOptionValue(int argc, char** argv, int& i, std::string& target, std::string& error,
                     bool allowEmpty = true);

// Decimal digits only (no sign, no blanks, at most nine of them) giving a number from `low` to
// `high`; `value` is left alone otherwise.
bool ParseWholeNumber(const std::string& text, int low, int high, int& value);

// Decimal digits only, giving a number from 0 to 2^64 - 1.
bool ParseUnsigned64(const std::string& text, uint64_t& value);

// A plain decimal number: optional sign, digits, optional point and exponent. No blanks, no
// hexadecimal, no "nan" or "inf", and the whole text must be used.
bool ParsePlainNumber(const std::string& text, double& value);

// A number of seconds above 0 and at most `maxSeconds` as strtod reads it: the whole text,
// finite and within the range of a double.
bool ParseSeconds(const std::string& text, double maxSeconds, double& seconds);

// "PROGRAM VERSION\n", what --version prints; the version is the build's project version.
std::string VersionLine(const std::string& program);

// "PROGRAM: ERROR (see --help)\n": a usage error is this one line; the usage text itself is
// printed only by --help.
std::string UsageErrorLine(const std::string& program, const std::string& error);

}  // namespace qv
