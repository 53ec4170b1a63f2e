// quorvelle-batch --daily: the day folders, the switch at midnight and each day's report.
#include "tools/batch_daily.h"

#include <sstream>
#include <utility>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "files/iq_file.h"
#include "files/whole_file.h"
#include "tools/report.h"

namespace qv {

namespace {

// The report's text without its last "picture: PATH" line, which names the file beside it.
std::string ReportText(const std::string& out) {
    const size_t picture = out.rfind("picture: ");
    return picture == std::string::npos ? out : out.substr(0, picture);
}

// quorvelle-report --text --day on a finished day's CSV files: report.png and report.txt in
// `folder` under `number`. A day too short for a report (no second closed) is a warning in
// `lines`; a report that cannot be written is an error there and false.
bool ReportDay(const std::string& folder, int number, std::string& lines) {
    const auto path = [&](const char* name) {
        return InFolder(folder, NumberedName(name, number));
    };
    std::vector<std::string> words = {"quorvelle-report",
                                      "--text",
                                      "--day",
                                      "--output",
                                      path(kDailyPictureName),
                                      path(kDailySecondsName),
                                      path(kDailyPeriodsName)};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::ostringstream text, notes;
    if (RunReport(static_cast<int>(words.size()), argv.data(), text, notes) != 0) {
        std::string note = notes.str();
        note = note.substr(0, note.find('\n'));
        lines += "quorvelle-batch: warning: no report of " + folder + ": " + note + "\n";
        return true;
    }
    std::string error;
    if (WriteWholeLines(path(kDailyTextName), ReportText(text.str()), error)) return true;
    lines += "quorvelle-batch: " + error + "\n";
    return false;
}

}  // namespace

DailyRun::DailyRun(const std::string& dir, std::function<int64_t()> now, const RunClock& clock,
                   RunOutputs& o, bool lineBuffered, int deviceRate, std::ostream& out,
                   std::ostream& err)
    : clock_(clock),
      o_(o),
      lineBuffered_(lineBuffered),
      deviceRate_(deviceRate),
      out_(out),
      err_(err),
      host_(clock, o, err),
      days_(dir,
            {kDailyIqName, kDailyLogName, kDailySecondsName, kDailyPeriodsName, kDailyPictureName,
             kDailyTextName},
            std::move(now)) {
#ifdef __GLIBC__
    // Blocks of a quarter megabyte and more (a day report's columns, the day's texts) each in
    // a mapping of their own, which freeing gives back at once: otherwise the allocator raises
    // this bound after the first report and keeps the next ones' blocks in its heap, where a
    // few that stay in use hold the pages around them for the rest of the run.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

DailyRun::~DailyRun() { JoinReport(); }

bool DailyRun::Open() { return OpenDay(); }

ChainSettings DailyRun::DaySettings(const ChainSettings& chain) const {
    ChainSettings s = chain;
    s.IqPath = days_.Path(kDailyIqName);
    s.LogPath = days_.Path(kDailyLogName);
    s.CsvPath = days_.Path(kDailySecondsName);
    s.IqCsvPath = days_.Path(kDailyPeriodsName);
    return s;
}

bool DailyRun::OpenDay() {
    std::string error;
    if (!days_.Open(error)) {
        err_ << "quorvelle-batch: " << error << "\n" << std::flush;
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
    if (iqCreated_ && !o_.Iq.Finish()) failed_ = true;
    iqCreated_ = false;
    if (!o_.Csv.Close()) failed_ = true;
    std::string error;
    if (!o_.Log.Close(error)) failed_ = true;
    if (!error.empty()) err_ << "quorvelle-batch: " << error << "\n";
}

void DailyRun::StartReport(const std::string& folder, int number) {
    JoinReport();  // one report at a time: a day's is done long before the next midnight
    out_ << "day: " << folder << "\n" << std::flush;
    reporter_ = std::thread([this, folder, number] {
        reportFailed_ = !ReportDay(folder, number, reportLines_);
#ifdef __GLIBC__
        // The report's tens of megabytes (a day's rows) are freed, but the allocator would keep
        // most of them resident for the rest of the day, and the next day's report could add
        // its own beside them: given back now, a station's memory stays that of one day.
        malloc_trim(0);
#endif
    });
}

void DailyRun::JoinReport() {
    if (!reporter_.joinable()) return;
    reporter_.join();
    err_ << reportLines_ << std::flush;
    if (reportFailed_) failed_ = true;
    reportLines_.clear();
    reportFailed_ = false;
}

void DailyRun::Check() {
    if (!days_.DayChanged()) return;
    // The report after the switch, so that the next day's files are open first.
    const bool finished = dayOpen_;
    const std::string folder = days_.Folder();
    const int number = days_.Number();
    CloseDay();
    OpenDay();
    if (finished) StartReport(folder, number);
}

bool DailyRun::Finish() {
    CloseDay();
    if (dayOpen_) StartReport(days_.Folder(), days_.Number());
    dayOpen_ = false;
    JoinReport();
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
