// Time-of-day reading and formatting.
#include "common/time_of_day.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "common/os.h"

namespace qv {

namespace {

struct Clock {
    int Hours, Minutes, Seconds, Milliseconds;
};

Clock Split(int64_t millisecondsOfDay) {
    int64_t ms = millisecondsOfDay % kMillisecondsPerDay;
    if (ms < 0) ms += kMillisecondsPerDay;
    return {static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
            static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000)};
}

}  // namespace

int64_t LocalMillisecondsOfDay() {
    const int64_t now = UnixMillisecondsNow();
    const int64_t seconds = now / 1000;  // not before 1970: rounded down
    tm local{};
    os::LocalTime(static_cast<time_t>(seconds), local);
    return (local.tm_hour * 3600LL + local.tm_min * 60 + local.tm_sec) * 1000 + now % 1000;
}

std::string FormatTimeOfDay(int64_t millisecondsOfDay) {
    Clock c = Split(millisecondsOfDay);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", c.Hours, c.Minutes, c.Seconds);
    return buffer;
}

std::string FormatTimeForFileName(int64_t millisecondsOfDay) {
    Clock c = Split(millisecondsOfDay);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d%02d%02d", c.Hours, c.Minutes, c.Seconds);
    return buffer;
}

std::string FormatTimeWithMilliseconds(int64_t millisecondsOfDay) {
    Clock c = Split(millisecondsOfDay);
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", c.Hours, c.Minutes, c.Seconds,
                  c.Milliseconds);
    return buffer;
}

int64_t WallClockOffsetMilliseconds() {
    // Read at every call, so that a test in the same process can set it before a run.
    const char* text = std::getenv(kWallClockOffsetVariable);
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (*end != '\0' || !(std::fabs(seconds) <= 1e11)) return 0;
    return std::llround(seconds * 1000);
}

int64_t UnixMillisecondsNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() +
           WallClockOffsetMilliseconds();
}

std::string FormatIsoUtc(int64_t unixMilliseconds) {
    // Rounded down to the second, also before 1970, so the milliseconds are never negative.
    int64_t seconds = unixMilliseconds / 1000, ms = unixMilliseconds % 1000;
    if (ms < 0) ms += 1000, seconds -= 1;
    const time_t t = static_cast<time_t>(seconds);
    tm utc{};
    os::UtcTime(t, utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms));
    return buffer;
}

bool ParseTimeOfDay(const std::string& text, int64_t& millisecondsOfDay) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
    int fields[3];
    for (int f = 0; f < 3; ++f) {
        char hi = text[f * 3], lo = text[f * 3 + 1];
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return false;
        fields[f] = (hi - '0') * 10 + (lo - '0');
    }
    if (fields[0] > 23 || fields[1] > 59 || fields[2] > 59) return false;
    millisecondsOfDay = (fields[0] * 3600LL + fields[1] * 60 + fields[2]) * 1000;
    return true;
}

}  // namespace qv
