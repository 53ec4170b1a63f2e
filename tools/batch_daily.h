// quorvelle-batch --daily: a station's files in a folder per day, DIR/YYYY/MM/DD, closed and
// synced at each midnight and continued in the next day's folder, and a report of every
// finished day beside its files, made on a thread of its own while the chain goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "capture/day_folders.h"
#include "chain/chain_host.h"
#include "report/day_report.h"
#include "tools/batch_run.h"

namespace qv {

// The folder "DIR/YYYY/MM/DD" of the day that `unixMilliseconds` [ms since 1970-01-01 00:00
// UTC] falls on.
std::string DayFolder(const std::string& dir, int64_t unixMilliseconds);

// The chain's host of a --daily run: before each call that writes, a new day on `now` closes the
// finished day's files (the I/Q file finished and synced, the CSV files synced, the log closed),
// opens the new day's and starts the finished day's report on a thread of its own (the one
// before it finished first); then the call goes to the run's usual host. A row, record or line thus
// lands in the day of its own time: a period that spans midnight is in the day it closes. `o`'s
// files are the current day's.
class DailyRun final : public ChainHost {
public:
    // `now` gives the time the rows are written at [ms since 1970-01-01]: the stream's (its
    // start date 1970-01-01) or, live, the wall clock's in UTC. `lineBuffered` and `deviceRate`
    // are the log's and the --csv file's as without --daily; the day folders' lines go to `out`.
    DailyRun(const std::string& dir, std::function<int64_t()> now, const RunClock& clock,
             RunOutputs& o, bool lineBuffered, int deviceRate, std::ostream& out,
             std::ostream& err);
    ~DailyRun();
    DailyRun(const DailyRun&) = delete;
    DailyRun& operator=(const DailyRun&) = delete;

    // The first day's folder and files; false after one error line.
    bool Open();
    // The settings with the current day's paths in them, for starting the chain ("Save I,Q to
    // file?" on).
    ChainSettings DaySettings(const ChainSettings& chain) const;
    // The last day closed and reported, at the run's end (RunOutputs::BeforeClose), every
    // report finished; false when any day's file could not be written (each failure said on
    // `err` when it happened, a report's when it has finished).
    bool Finish();

    void SetReadout(Readout id, const std::string& text) override;
    int64_t MillisecondsOfDay() override { return host_.MillisecondsOfDay(); }
    void ChartCaptured(const Surface& capture, int64_t millisecondsOfDay) override;
    void IqRecordAdded(const std::string& iqText, const std::string& record) override;
    void SecondEnded(const Measurement& m, const SecondValues& values) override;
    void PeriodClosed(const PeriodValues& values) override;
    void Warn(const std::string& text) override { host_.Warn(text); }
    void StatusChanged(const SignalStatus& status) override;

private:
    // A new day on the clock: the finished one closed and reported, the new one opened.
    void Check();
    bool OpenDay();
    void CloseDay();
    // The report of the day whose files are `files`, on the report thread.
    void StartReport(DayReportFiles files);
    // The report thread finished, and what it has to say said on `err`.
    void JoinReport();

    // parameters
    RunClock clock_;
    RunOutputs& o_;
    bool lineBuffered_;
    int deviceRate_;  // [frames/s]
    std::ostream& out_;
    std::ostream& err_;
    RunHost host_;

    // state
    DayFolders days_;         // the current day's folder and number
    bool dayOpen_ = false;    // the current day's files were opened
    bool iqCreated_ = false;  // the current day's I/Q file was created (perhaps failing)
    bool failed_ = false;     // a day's file could not be written
    // The finished day's report; what it says and its failure wait for the join, so that the
    // thread touches nothing the chain's thread uses.
    DayReportWorker reports_;
};

}  // namespace qv
