// quorvelle-batch --daily: a station's files in a folder per day, DIR/YYYY/MM/DD, closed and
// synced at each midnight and continued in the next day's folder, and a report of every
// finished day beside its files.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "chain/chain_host.h"
#include "tools/batch_run.h"

namespace qv {

// The fixed names of a day folder's files; a name already taken gets "-2", "-3", ... before
// its extension, one number for the whole set so that a day's files still match.
inline constexpr const char* kDailyIqName = "iq.txt";
inline constexpr const char* kDailyLogName = "readouts.tsv";
inline constexpr const char* kDailySecondsName = "seconds.csv";
inline constexpr const char* kDailyPeriodsName = "periods.csv";
inline constexpr const char* kDailyPictureName = "report.png";
inline constexpr const char* kDailyTextName = "report.txt";

// The folder "DIR/YYYY/MM/DD" of the day that `unixMilliseconds` [ms since 1970-01-01 00:00
// UTC] falls on.
std::string DayFolder(const std::string& dir, int64_t unixMilliseconds);

// The chain's host of a --daily run: before each call that writes, a new day on `now` closes the
// finished day's files (the I/Q file finished and synced, the CSV files synced, the log closed),
// opens the new day's and writes the finished day's report; then the call goes to the run's
// usual host. A row, record or line thus lands in the day of its own time: a period that spans
// midnight is in the day it closes. `o`'s files are the current day's.
class DailyRun final : public ChainHost {
public:
    // `now` gives the time the rows are written at [ms since 1970-01-01]: the stream's (its
    // start date 1970-01-01) or, live, the wall clock's in UTC. `lineBuffered` and `deviceRate`
    // are the log's and the --csv file's as without --daily; the day folders' lines go to `out`.
    DailyRun(const std::string& dir, std::function<int64_t()> now, const RunClock& clock,
             RunOutputs& o, bool lineBuffered, int deviceRate, std::ostream& out,
             std::ostream& err);

    // The first day's folder and files; false after one error line.
    bool Open();
    // The settings with the current day's paths in them, for starting the chain ("Save I,Q to
    // file?" on).
    ChainSettings DaySettings(const ChainSettings& chain) const;
    // The last day closed and reported, at the run's end (RunOutputs::BeforeClose); false when
    // any day's file could not be written (each failure said on `err` when it happened).
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
    bool OpenDay(int64_t day);
    void CloseDay();
    void WriteReport(const std::string& folder, int number);
    std::string DayPath(const char* name) const;

    // parameters
    std::string dir_;
    std::function<int64_t()> now_;
    RunClock clock_;
    RunOutputs& o_;
    bool lineBuffered_;
    int deviceRate_;  // [frames/s]
    std::ostream& out_;
    std::ostream& err_;
    RunHost host_;

    // state
    int64_t day_ = -1;        // [days since 1970-01-01] of the files open now; -1 before Open
    bool dayOpen_ = false;    // the current day's files were opened
    bool iqCreated_ = false;  // the current day's I/Q file was created (perhaps failing)
    std::string folder_;      // the current day's folder
    int number_ = 1;          // the current day's files' number: 1 is the plain names
    std::string dayIq_;       // the current day's I/Q text: header and records so far
    bool failed_ = false;     // a day's file could not be written
};

}  // namespace qv
