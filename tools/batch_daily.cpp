// quorvelle-batch --daily: the day folders, the switch at midnight and each day's report.
#include "tools/batch_daily.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <utility>
#include <vector>

#include "common/time_of_day.h"
#include "files/iq_file.h"
#include "files/whole_file.h"
#include "tools/report.h"

namespace qv {

namespace {

constexpr const char* kDayNames[] = {kDailyIqName,      kDailyLogName,     kDailySecondsName,
                                     kDailyPeriodsName, kDailyPictureName, kDailyTextName};

// [days since 1970-01-01] of a time in milliseconds since then, rounded down.
int64_t DayOf(int64_t unixMilliseconds) {
    const int64_t day = unixMilliseconds / kMillisecondsPerDay;
    return unixMilliseconds < 0 && day * kMillisecondsPerDay != unixMilliseconds ? day - 1 : day;
}

// The lowest number from 1 under which none of a day's names is taken in `folder`: a station
// started again, or a clock stepped back, never replaces a file of the day. 0 when every number
// up to kMostNumberedNames is taken.
int FreeNumber(const std::string& folder) {
    for (int number = 1; number <= kMostNumberedNames; ++number) {
        bool taken = false;
        for (const char* name : kDayNames) {
            std::error_code error;
            const auto path = std::filesystem::path(folder) / NumberedName(name, number);
            taken = taken || std::filesystem::symlink_status(path, error).type() !=
                                 std::filesystem::file_type::not_found;
        }
        if (!taken) return number;
    }
    return 0;
}

// `name` in `folder`, the folder's text as given (a Windows path keeps its backslashes, and
// messages name the folder as the user wrote it); '/' separates on both systems.
std::string InFolder(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

// A day's file `name` under the day's number in `folder`.
std::string PathOfDay(const std::string& folder, int number, const char* name) {
    return InFolder(folder, NumberedName(name, number));
}

// The report's text without its last "picture: PATH" line, which names the file beside it.
std::string ReportText(const std::string& out) {
    const size_t picture = out.rfind("picture: ");
    return picture == std::string::npos ? out : out.substr(0, picture);
}

}  // namespace

std::string DayFolder(const std::string& dir, int64_t unixMilliseconds) {
    using namespace std::chrono;
    const year_month_day date{sys_days{days{DayOf(unixMilliseconds)}}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02u/%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return InFolder(dir, text);
}

DailyRun::DailyRun(const std::string& dir, std::function<int64_t()> now, const RunClock& clock,
                   RunOutputs& o, bool lineBuffered, int deviceRate, std::ostream& out,
                   std::ostream& err)
    : dir_(dir),
      now_(std::move(now)),
      clock_(clock),
      o_(o),
      lineBuffered_(lineBuffered),
      deviceRate_(deviceRate),
      out_(out),
      err_(err),
      host_(clock, o, err) {}

bool DailyRun::Open() {
    day_ = DayOf(now_());
    return OpenDay(day_);
}

ChainSettings DailyRun::DaySettings(const ChainSettings& chain) const {
    ChainSettings s = chain;
    s.IqPath = DayPath(kDailyIqName);
    s.LogPath = DayPath(kDailyLogName);
    s.CsvPath = DayPath(kDailySecondsName);
    s.IqCsvPath = DayPath(kDailyPeriodsName);
    return s;
}

std::string DailyRun::DayPath(const char* name) const { return PathOfDay(folder_, number_, name); }

bool DailyRun::OpenDay(int64_t day) {
    folder_ = DayFolder(dir_, day * kMillisecondsPerDay);
    dayIq_ = IqTextHeader();
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (error) {
        err_ << "quorvelle-batch: --daily " << folder_
             << ": cannot create the folder: " << error.message() << "\n"
             << std::flush;
        failed_ = true;
        return dayOpen_ = false;
    }
    number_ = FreeNumber(folder_);
    if (number_ == 0) {
        err_ << "quorvelle-batch: --daily " << folder_ << ": every name of the day's files up to "
             << NumberedName(kDailyIqName, kMostNumberedNames) << " is taken\n"
             << std::flush;
        failed_ = true;
        return dayOpen_ = false;
    }
    const ChainSettings s = DaySettings(ChainSettings{});
    const bool logOpened = OpenLogAndIq(s, lineBuffered_, clock_, o_, err_);
    iqCreated_ = logOpened;  // the I/Q file comes after the log
    dayOpen_ = logOpened && OpenCsvOutputs(s, clock_, o_, err_, deviceRate_);
    if (!dayOpen_) failed_ = true;
    return dayOpen_;
}

void DailyRun::CloseDay() {
    // Whatever opened is closed, also after a day whose opening failed part-way.
    if (iqCreated_ && !o_.Iq.Finish(dayIq_)) failed_ = true;
    iqCreated_ = false;
    if (!o_.Csv.Close()) failed_ = true;
    std::string error;
    const bool failureShown = o_.Log.HasFailed();  // said when it happened
    if (!o_.Log.Close(error)) {
        if (!failureShown) err_ << "quorvelle-batch: " << error << "\n";
        failed_ = true;
    }
}

// quorvelle-report --text on the finished day's CSV files, in-process: report.png and
// report.txt. A day too short for a report (no second closed) is said as a warning; the run's
// files are whole.
void DailyRun::WriteReport(const std::string& folder, int number) {
    out_ << "day: " << folder << "\n" << std::flush;
    std::vector<std::string> words = {"quorvelle-report",
                                      "--text",
                                      "--output",
                                      PathOfDay(folder, number, kDailyPictureName),
                                      PathOfDay(folder, number, kDailySecondsName),
                                      PathOfDay(folder, number, kDailyPeriodsName)};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::ostringstream text, notes;
    if (RunReport(static_cast<int>(words.size()), argv.data(), text, notes) != 0) {
        std::string note = notes.str();
        note = note.substr(0, note.find('\n'));
        err_ << "quorvelle-batch: warning: no report of " << folder << ": " << note << "\n";
        return;
    }
    std::string error;
    if (!WriteWholeLines(PathOfDay(folder, number, kDailyTextName), ReportText(text.str()),
                         error)) {
        err_ << "quorvelle-batch: " << error << "\n";
        failed_ = true;
    }
}

void DailyRun::Check() {
    const int64_t day = DayOf(now_());
    if (day == day_) return;
    // The report after the switch, so that the next day's files are open first.
    const bool finished = dayOpen_;
    const std::string folder = folder_;
    const int number = number_;
    CloseDay();
    day_ = day;
    OpenDay(day);
    if (finished) WriteReport(folder, number);
}

bool DailyRun::Finish() {
    CloseDay();
    if (dayOpen_) WriteReport(folder_, number_);
    dayOpen_ = false;
    return !failed_;
}

void DailyRun::SetReadout(Readout id, const std::string& text) {
    Check();
    host_.SetReadout(id, text);
}

void DailyRun::ChartCaptured(const Surface& capture, int64_t millisecondsOfDay) {
    Check();
    host_.ChartCaptured(capture, millisecondsOfDay);
}

void DailyRun::IqRecordAdded(const std::string& iqText, const std::string& record) {
    Check();
    dayIq_ += record;
    // A day whose folder could not be made has no I/Q file to fail again.
    if (iqCreated_) host_.IqRecordAdded(iqText, record);
}

void DailyRun::SecondEnded(const Measurement& m, const SecondValues& values) {
    Check();
    host_.SecondEnded(m, values);
}

void DailyRun::PeriodClosed(const PeriodValues& values) {
    Check();
    host_.PeriodClosed(values);
}

void DailyRun::StatusChanged(const SignalStatus& status) {
    Check();
    host_.StatusChanged(status);
}

}  // namespace qv
