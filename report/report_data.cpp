// quorvelle-report's input: reading the CSV files, choosing runs, building the phase series.
#include "report/report_data.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "common/os.h"
#include "common/time_of_day.h"
#include "dsp/integration.h"
#include "files/whole_file.h"

namespace qv {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";
constexpr double kSecondsPerDayD = 86400;
constexpr long double kOffGrid = 0.25L;           // [s] from a whole number of seconds
constexpr long double kLargestCardError = 0.02L;  // a card's rate may be this far off nominal
// [points] The longest gap in a phase series that is kept as a gap; a longer jump (a row from
// another time) is left out rather than filling memory with missing points.
constexpr long double kLongestGap = 1e6L;
// [days] The farthest day from 1970 (or from a stream's first) that has a date: about 27000
// years, within the years (+-32767) of the standard calendar.
constexpr double kFarthestDay = 1e7;

// Whole digits at text[at .. at+count) into `value`.
bool Digits(const std::string& text, size_t at, size_t count, int64_t& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "hh:mm:ss" or "hh:mm:ss.fff" starting at `at` and ending the text (or before a final 'Z' when
// `zulu`).
bool ClockTime(const std::string& text, size_t at, bool zulu, double& seconds) {
    int64_t h = 0, m = 0, s = 0;
    if (!Digits(text, at, 2, h) || text.size() < at + 8 || text[at + 2] != ':' ||
        !Digits(text, at + 3, 2, m) || text[at + 5] != ':' || !Digits(text, at + 6, 2, s) ||
        h > 23 || m > 59 || s > 60) {
        return false;
    }
    size_t end = text.size();
    if (zulu) {
        if (end == 0 || text[end - 1] != 'Z') return false;
        --end;
    }
    double fraction = 0;
    size_t pos = at + 8;
    if (pos < end) {
        if (text[pos] != '.' || pos + 1 == end) return false;
        double scale = 0.1;
        for (++pos; pos < end; ++pos) {
            if (text[pos] < '0' || text[pos] > '9') return false;
            fraction += (text[pos] - '0') * scale;
            scale /= 10;
        }
    }
    seconds = static_cast<double>(h * 3600 + m * 60 + s) + fraction;
    return true;
}

bool ParseCell(const char* begin, const char* end, double& value) {
    if (begin == end) {
        value = kNaN;
        return true;
    }
    if (*begin == '+') ++begin;
    const auto [stop, status] = std::from_chars(begin, end, value);
    if (status == std::errc::result_out_of_range && stop == end) return true;  // huge or tiny
    return status == std::errc() && stop == end;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
}

std::string Plural(int64_t n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Into (-180, 180]; fmod is exact, so any finite difference is wrapped at once.
double WrapDegrees(double d) {
    d = std::fmod(d, 360.0);
    if (d > 180) d -= 360;
    if (d <= -180) d += 360;
    return d;
}

}  // namespace

const std::vector<double>& CsvRun::Column(const std::string& name) const {
    const auto at = std::find(Wanted.begin(), Wanted.end(), name);
    return Values[static_cast<size_t>(at - Wanted.begin())];
}

bool CsvRun::Has(const std::string& name) const {
    const auto at = std::find(Wanted.begin(), Wanted.end(), name);
    return at != Wanted.end() && Present[static_cast<size_t>(at - Wanted.begin())];
}

bool ParseRowTime(const std::string& text, double& seconds, bool& iso) {
    if (text.size() >= 11 && text[4] == '-' && text[10] == 'T') {
        int64_t y = 0, m = 0, d = 0;
        double ofDay = 0;
        if (!Digits(text, 0, 4, y) || !Digits(text, 5, 2, m) || text[7] != '-' ||
            !Digits(text, 8, 2, d) || m < 1 || m > 12 || d < 1 || d > 31 ||
            !ClockTime(text, 11, true, ofDay)) {
            return false;
        }
        // Days from 1970-01-01 (a day past the month's end counts on into the next month).
        using namespace std::chrono;
        const sys_days date{year{static_cast<int>(y)} / month{static_cast<unsigned>(m)} /
                            day{static_cast<unsigned>(d)}};
        seconds = static_cast<double>(date.time_since_epoch().count()) * kSecondsPerDayD + ofDay;
        iso = true;
        return true;
    }
    iso = false;
    return ClockTime(text, 0, false, seconds);
}

std::string AxisTimeText(double seconds, bool withSeconds) {
    if (!std::isfinite(seconds)) return withSeconds ? "--:--:--" : "--:--";
    // The second of the day before any conversion: fmod is exact, so a time of any size keeps
    // its time of day and no cast overflows.
    double ofDay = std::fmod(std::floor(seconds + 0.5), kSecondsPerDayD);
    if (ofDay < 0) ofDay += kSecondsPerDayD;
    const std::string text = FormatTimeOfDay(static_cast<int64_t>(ofDay) * 1000);
    return withSeconds ? text : text.substr(0, 5);
}

std::string AxisDateText(double seconds, bool iso) {
    const double dayNumber = std::floor((seconds + 0.5) / kSecondsPerDayD);
    if (!(std::fabs(dayNumber) <= kFarthestDay)) return "day ?";
    const auto day = static_cast<int64_t>(dayNumber);
    if (!iso) return "day " + std::to_string(day + 1);
    const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{day}}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

namespace {

// The whole of a regular file (a FIFO or a device could keep the read waiting for ever); false
// with one line in `error` when it cannot be read or is empty.
bool ReadWholeText(const std::string& path, std::string& text, std::string& error) {
    os::FileKind found{};
    const char* kind = os::KindOfName(path, found) && found != os::FileKind::Folder
                           ? NotAFileKind(found)
                           : nullptr;
    if (kind != nullptr) {
        error = path + ": cannot open: " + kind + ", not a regular file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    // Read straight into the text, in pieces: a day's readouts file is some megabytes, and a
    // string stream would hold it twice over while it doubles, then once more for its copy.
    text.clear();
    std::error_code unknown;
    const std::uintmax_t size = std::filesystem::file_size(path, unknown);
    if (!unknown) text.reserve(static_cast<size_t>(size));
    char piece[1 << 16];
    while (in.read(piece, sizeof piece) || in.gcount() > 0) {
        text.append(piece, static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) {
        error = path + ": cannot read";
        return false;
    }
    if (!text.empty()) return true;
    error = path + ": empty file, no header row";
    return false;
}

// Lines, each without its LF (and a CR before it). A last line without its LF was cut off: it
// is left out and `cutOff` set. A UTF-8 byte-order mark before the header (a file saved by a
// spreadsheet) is no text.
std::vector<std::string_view> SplitLines(const std::string& text, bool& cutOff) {
    std::vector<std::string_view> lines;
    size_t start = text.starts_with(kByteOrderMark) ? std::string_view(kByteOrderMark).size() : 0;
    cutOff = false;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            cutOff = true;
            break;
        }
        std::string_view line(text.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The header row: its names, and where time, t_s and each wanted column are (-1: missing).
struct CsvHeader {
    std::vector<std::string_view> Names;
    int Time = -1, Ts = -1;
    std::vector<int> Wanted;
};

// False with one line in `error` when the header lacks time or t_s.
bool IndexHeader(const std::string& path, std::string_view line,
                 const std::vector<std::string>& wanted, CsvHeader& h, std::string& error) {
    h.Names = SplitFields(line);
    auto indexOf = [&h](const std::string& name) -> int {
        for (size_t i = 0; i < h.Names.size(); ++i) {
            if (h.Names[i] == name) return static_cast<int>(i);
        }
        return -1;
    };
    h.Time = indexOf("time");
    h.Ts = indexOf("t_s");
    if (h.Time < 0 || h.Ts < 0) {
        error = path + ": not a quorvelle CSV file: no column " +
                (h.Time < 0 && h.Ts < 0 ? std::string("time or t_s")
                 : h.Time < 0           ? std::string("time")
                                        : std::string("t_s")) +
                " in its header row";
        return false;
    }
    for (const std::string& name : wanted) h.Wanted.push_back(indexOf(name));
    return true;
}

// What the row loop left out, counted for one note each, with the first one's place.
struct LeftOut {
    int64_t BadLength = 0, BadLengthLine = 0, BadCells = 0, BadCellLine = 0;
    std::string BadCellColumn;

    void BadCell(const CsvHeader& h, int column, int64_t lineNumber) {
        if (BadCells++ > 0) return;
        BadCellLine = lineNumber;
        BadCellColumn = std::string(h.Names[static_cast<size_t>(column)]);
    }

    void AddNotes(const std::string& path, std::vector<std::string>& notes) const {
        if (BadLength > 0) {
            notes.push_back(path + ": " + Plural(BadLength, "row", "rows") +
                            " with the wrong number of fields left out (the first at line " +
                            std::to_string(BadLengthLine) + ")");
        }
        if (BadCells > 0) {
            notes.push_back(path + ": " +
                            Plural(BadCells, "cell that is not a number or a time",
                                   "cells that are not numbers or times") +
                            " left out (the first at line " + std::to_string(BadCellLine) +
                            ", column " + BadCellColumn + ")");
        }
    }
};

// The rows into runs: a new run where t_s starts again or the kind of time changes; stream
// time of day, which wraps at midnight, counted on.
class RowLoop {
public:
    RowLoop(const CsvHeader& h, const std::vector<std::string>& wanted, std::vector<CsvRun>& runs)
        : h_(h), wanted_(wanted), runs_(runs) {}

    void Add(std::string_view line, int64_t lineNumber) {
        const std::vector<std::string_view> fields = SplitFields(line);
        if (fields.size() != h_.Names.size()) {
            if (line.empty()) return;
            if (Skipped.BadLength++ == 0) Skipped.BadLengthLine = lineNumber;
            return;
        }
        double ts = kNaN, time = kNaN;
        bool iso = false;
        const std::string_view tsText = fields[static_cast<size_t>(h_.Ts)];
        const std::string timeText(fields[static_cast<size_t>(h_.Time)]);
        if (!ParseCell(tsText.data(), tsText.data() + tsText.size(), ts) || !std::isfinite(ts)) {
            Skipped.BadCell(h_, h_.Ts, lineNumber);
            return;  // a row without its place in the run cannot be drawn
        }
        if (!ParseRowTime(timeText, time, iso)) {
            Skipped.BadCell(h_, h_.Time, lineNumber);
            return;
        }
        CsvRun& run = RunOf(ts, iso, time, lineNumber);
        run.Time.push_back(time);
        run.TimeText.push_back(timeText);
        for (size_t w = 0; w < wanted_.size(); ++w) {
            double value = kNaN;
            if (h_.Wanted[w] >= 0) {
                const std::string_view cell = fields[static_cast<size_t>(h_.Wanted[w])];
                if (wanted_[w] == "t_s") {
                    value = ts;
                } else if (!ParseCell(cell.data(), cell.data() + cell.size(), value)) {
                    Skipped.BadCell(h_, h_.Wanted[w], lineNumber);
                    value = kNaN;
                }
            }
            run.Values[w].push_back(value);
        }
    }

    LeftOut Skipped;

private:
    // The row's run, a new one when it starts one; `time` counted on past midnight.
    CsvRun& RunOf(double ts, bool iso, double& time, int64_t lineNumber) {
        if (runs_.empty() || ts < lastTs_ || iso != runIso_) {
            runs_.emplace_back();
            CsvRun& run = runs_.back();
            run.Wanted = wanted_;
            for (const int index : h_.Wanted) run.Present.push_back(index >= 0);
            run.Values.resize(wanted_.size());
            run.IsoTime = iso;
            run.FirstLine = lineNumber;
            runIso_ = iso;
            dayShift_ = 0;
            lastTime_ = kNaN;
        }
        if (!iso && !std::isnan(lastTime_) && time + dayShift_ < lastTime_ - kSecondsPerDayD / 2) {
            dayShift_ += kSecondsPerDayD;
        }
        time += dayShift_;
        lastTs_ = ts;
        lastTime_ = time;
        return runs_.back();
    }

    const CsvHeader& h_;
    const std::vector<std::string>& wanted_;
    std::vector<CsvRun>& runs_;
    double lastTs_ = kNaN, lastTime_ = kNaN, dayShift_ = 0;
    bool runIso_ = false;
};

}  // namespace

bool ReadCsvRuns(const std::string& path, const std::vector<std::string>& wanted,
                 std::vector<CsvRun>& runs, std::vector<std::string>& notes, std::string& error) {
    runs.clear();
    std::string text;
    if (!ReadWholeText(path, text, error)) return false;
    bool cutOff = false;
    const std::vector<std::string_view> lines = SplitLines(text, cutOff);
    if (cutOff && lines.empty()) {
        error = path + ": no whole header row (the file ends inside its first line)";
        return false;
    }
    if (cutOff)
        notes.push_back(path + ": the last line is cut off (a run that was killed?): left out");

    CsvHeader header;
    if (!IndexHeader(path, lines[0], wanted, header, error)) return false;
    RowLoop rows(header, wanted, runs);
    for (size_t li = 1; li < lines.size(); ++li) rows.Add(lines[li], static_cast<int64_t>(li) + 1);
    rows.Skipped.AddNotes(path, notes);
    if (runs.empty()) {
        error = path + ": no rows to report";
        return false;
    }
    return true;
}

std::vector<double> OneSeriesEdges(const std::vector<double>& edgeFrames,
                                   const std::vector<double>& series,
                                   const std::vector<double>& slips, int& count, int& chosen) {
    // Series numbers only grow: count each one's edges in the order they come.
    std::vector<std::pair<double, size_t>> sizes;
    for (size_t k = 0; k < edgeFrames.size() && k < series.size(); ++k) {
        if (!std::isfinite(edgeFrames[k]) || !std::isfinite(series[k])) continue;
        if (sizes.empty() || sizes.back().first != series[k]) sizes.push_back({series[k], 0});
        ++sizes.back().second;
    }
    count = static_cast<int>(sizes.size());
    chosen = 0;
    std::vector<double> edges(edgeFrames.size(), kNaN);
    if (sizes.empty()) return edges;
    const auto longest =
        std::max_element(sizes.begin(), sizes.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    chosen = static_cast<int>(longest->first);
    long double slipped = 0;
    for (size_t k = 0; k < edgeFrames.size() && k < series.size(); ++k) {
        if (!std::isfinite(edgeFrames[k]) || series[k] != longest->first) continue;
        if (k < slips.size() && std::isfinite(slips[k])) slipped += slips[k];
        edges[k] = static_cast<double>(edgeFrames[k] - slipped);
    }
    return edges;
}

double DeviceRateOf(const std::vector<double>& rates) {
    for (auto r = rates.rbegin(); r != rates.rend(); ++r) {
        if (std::isfinite(*r) && *r > 0) return *r;
    }
    return kNominalFramesPerSecond;
}

std::vector<double> CardPhase(const std::vector<double>& edgeFrames, double nominalRate) {
    std::vector<double> x;
    long double first = 0, previous = 0;
    int64_t previousSecond = 0;
    const long double nominal = nominalRate;  // [frames/s]
    long double framesPerSecond = nominal;    // from the last pair of consecutive edges
    bool started = false;
    for (const double edge : edgeFrames) {
        if (!std::isfinite(edge)) continue;
        const long double e = edge;
        if (!started) {
            first = previous = e;
            started = true;
            x.push_back(0);
            continue;
        }
        const long double steps = (e - previous) / framesPerSecond;
        const int64_t gap = steps > 0 && steps < kLongestGap ? std::llround(steps) : 0;
        // An edge in a second already counted, or off the seconds' grid (a second pulse within
        // the second), is not a second's edge.
        if (!(steps > 0.5L && steps < kLongestGap) ||
            std::fabs(steps - static_cast<long double>(gap)) > kOffGrid) {
            continue;
        }
        const int64_t second = previousSecond + gap;
        const long double rate = e - previous;
        if (gap == 1 && std::fabs(rate / nominal - 1) < kLargestCardError) {
            framesPerSecond = rate;
        }
        x.resize(static_cast<size_t>(second), kNaN);
        x.push_back(static_cast<double>((e - first - nominal * static_cast<long double>(second)) /
                                        nominal));
        previous = e;
        previousSecond = second;
    }
    return x;
}

std::vector<double> UnwrapDegrees(const std::vector<double>& phaseDeg) {
    std::vector<double> out(phaseDeg.size(), kNaN);
    double last = kNaN, unwrapped = 0;
    for (size_t i = 0; i < phaseDeg.size(); ++i) {
        const double p = phaseDeg[i];
        if (!std::isfinite(p)) continue;
        unwrapped = std::isnan(last) ? p : unwrapped + WrapDegrees(p - last);
        last = p;
        out[i] = unwrapped;
    }
    return out;
}

std::vector<double> SignalPhase(const std::vector<double>& time,
                                const std::vector<double>& phaseDeg, double period, double rfHz) {
    std::vector<double> x;
    if (period <= 0 || time.empty()) return x;
    const std::vector<double> unwrapped = UnwrapDegrees(phaseDeg);
    const double t0 = time[0];
    for (size_t i = 0; i < time.size(); ++i) {
        if (std::isnan(unwrapped[i])) continue;
        const double slot = std::floor((time[i] - t0) / period + 0.5);
        if (!(slot < static_cast<double>(static_cast<int64_t>(x.size())) + kLongestGap)) continue;
        if (slot < static_cast<double>(x.size())) continue;  // a row in a slot already taken
        x.resize(static_cast<size_t>(slot), kNaN);
        x.push_back(unwrapped[i] / 360.0 / rfHz);
    }
    return x;
}

int IntegrationPeriod(const std::vector<double>& ts) {
    std::vector<double> steps;
    for (size_t i = 1; i < ts.size(); ++i) {
        if (!std::isnan(ts[i]) && !std::isnan(ts[i - 1])) steps.push_back(ts[i] - ts[i - 1]);
    }
    if (steps.empty()) return 0;
    std::nth_element(steps.begin(), steps.begin() + static_cast<long>(steps.size() / 2),
                     steps.end());
    const double median = steps[steps.size() / 2];
    if (median < 0.5) return 1;
    // Longer than any integration time: not rows of one (and no int holds it).
    if (!(median < kMaxIntegrationSeconds + 0.5)) return 0;
    return static_cast<int>(std::floor(median + 0.5));
}

}  // namespace qv
