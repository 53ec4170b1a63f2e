// A finished day's report beside its CSV files, as `quorvelle-report --text --day` makes it,
// on a thread of its own while the measurement goes on into the next day: the day folders of
// quorvelle-batch --daily and of the window's --daily make theirs here.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace qv {

class DayFolders;

// A day's CSV files and the report made of them, all in its day folder.
struct DayReportFiles {
    std::string Folder;            // the day's folder, as the messages name it
    std::string Seconds, Periods;  // the day's --csv and --iq-csv files
    std::string Picture, Text;     // report.png and report.txt
};

// The files of the day `days` has open: its CSV files and its report's.
DayReportFiles DayReportFilesOf(const DayFolders& days);

enum class DayReportResult {
    Written,     // the picture and the text
    NoReport,    // nothing to report (a day without a second closed) or no picture written
    TextFailed,  // the picture, but its text could not be written
};

// The report of `files`' day, from the day's midnight or the run's start on (its last run).
// `error` says why when it is not Written.
DayReportResult WriteDayReport(const DayReportFiles& files, std::string& error);

// One day's report at a time on a worker thread.
class DayReportWorker {
public:
    DayReportWorker() = default;
    ~DayReportWorker();
    DayReportWorker(const DayReportWorker&) = delete;
    DayReportWorker& operator=(const DayReportWorker&) = delete;

    // Begins the report of `files`, after waiting for the one before (whose outcome Take has
    // not given is then lost: take it first).
    void Start(DayReportFiles files);
    // The report begun has finished and its outcome waits: Take does not wait.
    bool Finished() const { return finished_.load(); }
    // Waits for the report begun and gives its outcome: true with nothing in `said` when it was
    // written (or none was begun); true with "warning: no report of FOLDER: reason" when there
    // was nothing to report; false with the text's failure when its text was not written.
    bool Take(std::string& said);

private:
    std::thread thread_;
    std::atomic<bool> finished_{false};
    DayReportFiles files_;
    DayReportResult result_ = DayReportResult::Written;
    std::string error_;
};

}  // namespace qv
