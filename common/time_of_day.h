// Time of day as the program shows it (hh:mm:ss), in file names (hhmmss) and in the read-out
// log (hh:mm:ss.mmm), and the UTC date and time the live CSV rows carry; the local wall clock
// for the window and the live capture.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

constexpr int kSecondsPerDay = 86400;
constexpr int64_t kMillisecondsPerDay = 86400000;

// Milliseconds since local midnight, read from the wall clock.
int64_t LocalMillisecondsOfDay();

// 24-hour "hh:mm:ss" of a time given in milliseconds of the day (reduced modulo a day).
std::string FormatTimeOfDay(int64_t millisecondsOfDay);
// "hhmmss", the same digits without colons, for file names.
std::string FormatTimeForFileName(int64_t millisecondsOfDay);
// "hh:mm:ss.mmm" for the read-out log.
std::string FormatTimeWithMilliseconds(int64_t millisecondsOfDay);

// Milliseconds since 1970-01-01 00:00:00 UTC, read from the wall clock, moved by the offset
// below. Every wall-clock time of the programs (local or UTC) comes from here.
int64_t UnixMillisecondsNow();

// A test's offset of the wall clock: this environment variable's number of seconds (a decimal,
// perhaps negative) is added to every reading, so that a short live run can cross a midnight.
// Unset, empty or not a number within 10^11 s: no offset.
inline constexpr const char* kWallClockOffsetVariable = "QUORVELLE_TEST_CLOCK_OFFSET";
int64_t WallClockOffsetMilliseconds();
// ISO 8601 UTC with the date and milliseconds, "2026-12-07T16:30:01.250Z", of a time given in
// milliseconds since 1970-01-01 00:00:00 UTC.
std::string FormatIsoUtc(int64_t unixMilliseconds);

// Parses "hh:mm:ss" (00..23, 00..59, 00..59); returns false for anything else.
bool ParseTimeOfDay(const std::string& text, int64_t& millisecondsOfDay);

}  // namespace qv
