// A finished day's report on a worker thread.
#include "report/day_report.h"

#include <sstream>
#include <utility>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "capture/day_folders.h"
#include "files/capture_bitmap.h"
#include "files/whole_file.h"
#include "report/report_run.h"

namespace qv {

DayReportFiles DayReportFilesOf(const DayFolders& days) {
    return {days.Folder(), days.Path(kDailySecondsName), days.Path(kDailyPeriodsName),
            days.Path(kDailyPictureName), days.Path(kDailyTextName)};
}

DayReportResult WriteDayReport(const DayReportFiles& files, std::string& error) {
    ReportSource source;
    source.Readouts = files.Seconds;
    source.Periods = files.Periods;
    source.Day = true;
    Report report;
    std::vector<std::string> notes;  // what the reader left out: quorvelle-report's stderr
    if (!MakeReport(source, report, notes, error) ||
        !WritePng(DrawReport(ReportPictureOf(source, report)), files.Picture, error)) {
        return DayReportResult::NoReport;
    }
    std::ostringstream text;
    PrintReport(source, report, text);
    return WriteWholeLines(files.Text, text.str(), error) ? DayReportResult::Written
                                                          : DayReportResult::TextFailed;
}

DayReportWorker::~DayReportWorker() {
    if (thread_.joinable()) thread_.join();
}

void DayReportWorker::Start(DayReportFiles files) {
    if (thread_.joinable()) thread_.join();
    files_ = std::move(files);
    finished_ = false;
    thread_ = std::thread([this] {
        result_ = WriteDayReport(files_, error_);
#ifdef __GLIBC__
        // The report's tens of megabytes (a day's rows) are freed, but the allocator would keep
        // most of them resident for the rest of the day, and the next day's report could add
        // its own beside them: given back now, a station's memory stays that of one day.
        malloc_trim(0);
#endif
        finished_ = true;
    });
}

bool DayReportWorker::Take(std::string& said) {
    said.clear();
    if (!thread_.joinable()) return true;
    thread_.join();
    finished_ = false;  // taken: the next check of Finished waits for the next report
    switch (result_) {
        case DayReportResult::Written:
            return true;
        case DayReportResult::NoReport:
            said = "warning: no report of " + files_.Folder + ": " + error_;
            return true;
        case DayReportResult::TextFailed:
            said = error_;
            return false;
    }
    return true;
}

}  // namespace qv
