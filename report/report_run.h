// A run's report from its CSV files (--csv, and --iq-csv): the run chosen from the files, its
// statistics and Allan deviations, the summary and Allan tables as text, and the picture.
// quorvelle-report, the daily reports and the status pages of the batch tool and the window
// all make theirs here.
#pragma once

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "dsp/allan_deviation.h"
#include "report/report_data.h"
#include "report/report_plot.h"

namespace qv {

// The files a report is made of and what is known of them besides.
struct ReportSource {
    std::string Readouts;  // the seconds' CSV file (--csv)
    std::string Periods;   // the I/Q CSV file (--iq-csv); empty: none
    double RfHz = 0;       // [Hz] the received carrier's radio frequency; 0: not known
    bool Day = false;      // the files hold one day of a longer run: from the day's midnight
};

// The run the report shows: the readouts file's last, and the I/Q file's run in its time.
struct ReportRuns {
    std::vector<CsvRun> SecondRuns, PeriodRuns;
    const CsvRun* Sec = nullptr;  // the seconds' run
    const CsvRun* Iq = nullptr;   // its I/Q run; none when not given or not found
    bool Fine = false;            // with the fine PPS timing's columns
    double Start = 0, End = 0;    // [s, as CsvRun keeps them]
    double Before = 0;            // [s] of the run before Start (Day: the days before)
};

// Mean, standard deviation, RMS, last value, extremes and count of a column's finite values.
struct Stats {
    int64_t Count = 0;
    double Mean = NAN, Deviation = NAN, Rms = NAN, Last = NAN, Min = NAN, Max = NAN;
};

// What the report says of the run: the Allan deviations, the received phase, the statistics
// and the lines that describe the run.
struct ReportNumbers {
    int Period = 0;       // [s] of the I/Q rows; 0: not known
    bool Signal = false;  // the signal's Allan deviation is there (I/Q file and RfHz)
    std::vector<AllanPoint> CardAllan, SignalAllan;
    std::vector<double> Unwrapped;  // the received phase [deg], per I/Q row
    Stats Lock, Click, Classic, FinePpm, Residual, Edges;
    bool LengthKnown = false;  // t_s is a time since the run's start to its end
    std::string Start, Length, Settings, Columns;
};

// A run read and worked out. Runs points into its own columns: it is made in place, not copied.
struct Report {
    ReportRuns Runs;
    ReportNumbers Numbers;
    Report() = default;
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;
};

// Reads the run of `source` and works out its numbers. Everything the reader left out and
// every choice made (which run of several, which series of fine edges) is one line each in
// `notes`, in the order they came. False with one line in `error` when the readouts file
// holds no run to report (unreadable, empty, without time or t_s).
bool MakeReport(const ReportSource& source, Report& report, std::vector<std::string>& notes,
                std::string& error);

// The run's summary and its Allan tables as text (quorvelle-report --text).
void PrintReport(const ReportSource& source, const Report& report, std::ostream& out);

// The Allan tables as CSV: a header row, then one row per curve and tau.
std::string AdevCsvText(const Report& report);

// The picture's title, panels and Allan curves; it points into `report`, which must outlive it.
ReportPicture ReportPictureOf(const ReportSource& source, const Report& report);

// The picture of the run in `readouts` (and `periods`, when not empty) as PNG bytes, as
// quorvelle-report would draw it: the status pages' report. False with one line in `error`
// when there is nothing to draw.
bool ReportPng(const std::string& readouts, const std::string& periods, std::string& png,
               std::string& error);

}  // namespace qv
