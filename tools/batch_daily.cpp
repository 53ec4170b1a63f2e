// quorvelle-batch --daily: the day folders, the switch at midnight and each day's report.
#include "tools/batch_daily.h"

#include <utility>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "files/iq_file.h"

namespace qv {

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

void DailyRun::StartReport(DayReportFiles files) {
    JoinReport();  // one report at a time: a day's is done long before the next midnight
    out_ << "day: " << files.Folder << "\n" << std::flush;
    reports_.Start(std::move(files));
}

void DailyRun::JoinReport() {
    std::string said;
    if (!reports_.Take(said)) failed_ = true;
    if (!said.empty()) err_ << "quorvelle-batch: " << said << "\n" << std::flush;
}

void DailyRun::Check() {
    if (!days_.DayChanged()) return;
    // The report after the switch, so that the next day's files are open first.
    const bool finished = dayOpen_;
    DayReportFiles files = DayReportFilesOf(days_);
    CloseDay();
    OpenDay();
    if (finished) StartReport(std::move(files));
}

bool DailyRun::Finish() {
    CloseDay();
    if (dayOpen_) StartReport(DayReportFilesOf(days_));
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
