// quorvelle-report's input: the --csv and --iq-csv files of a run read into columns of numbers,
// one run chosen from files that hold several, and the series the report draws and tabulates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dsp/allan_deviation.h"

namespace qv {

constexpr double kNominalFramesPerSecond = 8000;  // [frames/s] a run's without device_rate_hz

// The columns asked for, read from one run of a CSV file. A cell that is empty, missing or not
// a number is NaN.
struct CsvRun {
    std::vector<std::string> Wanted;          // the column names asked for
    std::vector<bool> Present;                // per wanted column: in the header
    std::vector<std::vector<double>> Values;  // per wanted column, per row
    std::vector<double> Time;  // per row: [s] since 1970 (live runs) or since the run's first
                               // midnight (stream time of day, counted on past midnight)
    std::vector<std::string> TimeText;  // per row, as written
    bool IsoTime = false;               // times are ISO 8601 UTC with the date
    int64_t FirstLine = 0;              // the file's line number of the run's first row
    int64_t Rows() const { return static_cast<int64_t>(Time.size()); }
    const std::vector<double>& Column(const std::string& name) const;
    bool Has(const std::string& name) const;
};

// Reads `path`, which must have the columns time and t_s; `wanted` are the others the report
// uses. Rows of several runs (t_s starting again) are split: `runs` gets each, in file order.
// Everything the reader had to leave out (a cut-off last line, rows of the wrong length, cells
// that are not numbers, missing columns) is one line each in `notes`. False with one line in
// `error` when the file cannot be read, is empty, or lacks time or t_s.
bool ReadCsvRuns(const std::string& path, const std::vector<std::string>& wanted,
                 std::vector<CsvRun>& runs, std::vector<std::string>& notes, std::string& error);

// Seconds of the UTC day (or of the stream's day) of a `time` cell: "hh:mm:ss.mmm" or
// "YYYY-MM-DDThh:mm:ss.mmmZ" (then `iso` is set and the result counts from 1970). False for
// anything else.
bool ParseRowTime(const std::string& text, double& seconds, bool& iso);

// "hh:mm" (or "hh:mm:ss" when `withSeconds`) of a time as CsvRun keeps it, and the date it
// falls on: "2026-12-07" for ISO times, "day 2" for stream time past its first midnight. Any
// double has a text: "--:--" when not finite, "day ?" beyond the calendar's years.
std::string AxisTimeText(double seconds, bool withSeconds);
std::string AxisDateText(double seconds, bool iso);

// The phase x_k [s] of the card's PPS edges, one point per GPS second from the first edge, NaN
// for seconds without an edge: the edge's time error against a card of exactly its nominal
// `framesPerSecond` (the CSV's device_rate_hz; 8000 without it). Edges are given in device
// frames; their GPS seconds are counted from the spacing of consecutive edges, so skipped
// seconds stay gaps.
std::vector<double> CardPhase(const std::vector<double>& edgeFrames,
                              double framesPerSecond = kNominalFramesPerSecond);

// The nominal rate [frames/s] of a run's device frames: the last device_rate_hz of `rates` that
// is a rate at all, 8000 without one (a file from an 8000 Hz input has no such column).
double DeviceRateOf(const std::vector<double>& rates);

// The edges of one series of the fine PPS timing (one method and pulse shape: two series are
// never mixed in one Allan deviation): the longest, the others' rows NaN, each edge less the
// sample slips its series had found up to it. `series` and `slips` as the CSV's pps_series and
// pps_slip_frames (NaN where empty); `count` the series there were, `chosen` the one kept.
std::vector<double> OneSeriesEdges(const std::vector<double>& edgeFrames,
                                   const std::vector<double>& series,
                                   const std::vector<double>& slips, int& count, int& chosen);

// The phase x_j [s] of the received carrier from I/Q rows: `phaseDeg` unwrapped, over 360 and
// over `rfHz`, one point per `period` [s] from the first row (by `time`), NaN where rows are
// missing.
std::vector<double> SignalPhase(const std::vector<double>& time,
                                const std::vector<double>& phaseDeg, double period, double rfHz);

// The phase in degrees without its 360-degree jumps (NaN cells stay NaN and are stepped over).
std::vector<double> UnwrapDegrees(const std::vector<double>& phaseDeg);

// The integration period [whole s] of I/Q rows: their median spacing in `t_s`, rounded; 0 when
// there are fewer than two rows or the spacing is longer than any integration time.
int IntegrationPeriod(const std::vector<double>& ts);

}  // namespace qv
