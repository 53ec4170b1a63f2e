// Reading command-line options.
#include "common/command_line.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace qv {

bool EndsOptions(const std::string& arg, bool& optionsEnded) {
    if (optionsEnded || arg != "--") return false;
    optionsEnded = true;
    return true;
}

bool TakeOptionValue(int argc, char** argv, int& i, std::string& target, std::string& error,
                     bool allowEmpty) {
    const std::string option = argv[i];
    if (i + 1 >= argc) {
        error = option + " needs a value";
        return false;
    }
    target = argv[++i];
    if (target.empty() && !allowEmpty) {
        error = option + " needs a value, not an empty text";
        return false;
    }
    return true;
}

bool ParseWholeNumber(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9) return false;  // nine digits cannot overflow an int
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    value = v;
    return true;
}

bool ParseUnsigned64(const std::string& text, uint64_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    uint64_t parsed = 0;
    const auto [stop, status] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (status != std::errc() || stop != text.data() + text.size()) return false;
    value = parsed;
    return true;
}

bool ParsePlainNumber(const std::string& text, double& value) {
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) {
        return false;
    }
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (*begin == '+') {  // from_chars takes '-' only
        ++begin;
        if (begin == end || (*begin != '.' && (*begin < '0' || *begin > '9'))) return false;
    }
    double parsed = 0;
    const auto [stop, status] = std::from_chars(begin, end, parsed, std::chars_format::general);
    if (status != std::errc() || stop != end || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool ParseSeconds(const std::string& text, double maxSeconds, double& seconds) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
    if (value <= 0 || value > maxSeconds) return false;
    seconds = value;
    return true;
}

std::string VersionLine(const std::string& program) {
    return program + " " + QUORVELLE_VERSION + "\n";
}

std::string UsageErrorLine(const std::string& program, const std::string& error) {
    return program + ": " + error + " (see --help)\n";
}

}  // namespace qv
