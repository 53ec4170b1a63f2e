// quorvelle-report: options, the summary and Allan tables as text and as CSV, and the picture.
#include "tools/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "dsp/allan_deviation.h"
#include "files/capture_bitmap.h"
#include "files/output_check.h"
#include "files/whole_file.h"
#include "tools/report_data.h"
#include "tools/report_plot.h"

namespace qv {

namespace {

constexpr const char* kProgram = "quorvelle-report";

constexpr const char* kUsage =
    "Usage: quorvelle-report [--text] [--day] [--rf-frequency HZ] [--adev-csv FILE]\n"
    "       --output OUT.png READOUTS.csv [IQ.csv]\n"
    "\n"
    "Draws a whole run from the CSV files of the window or quorvelle-batch (--csv, and\n"
    "--iq-csv for IQ.csv) into one PNG picture: the card's frequency error (classic and fine),\n"
    "the fine PPS edge residuals, the overlapping Allan and modified Allan deviation with\n"
    "their confidence intervals and the time deviation, and the received phase and level over\n"
    "the run, against UTC (or stream) time.\n"
    "A file that holds several runs is reported for its last run.\n"
    "\n"
    "  --output OUT.png       the picture to write (replaced)\n"
    "  --text                 also print the run's summary and the Allan tables on stdout\n"
    "  --day                  the files hold one day of a longer run (quorvelle-batch --daily\n"
    "                         writes them so): the report starts at the day's midnight, or\n"
    "                         at the run's start when the run began that day\n"
    "  --adev-csv FILE        also write the Allan tables as CSV (replaced): a header row, then\n"
    "                         one row per curve and tau with the columns\n"
    "                           source      card (fine PPS edges) or signal (I/Q phase)\n"
    "                           tau_s       averaging time [s]\n"
    "                           adev        overlapping Allan deviation\n"
    "                           adev_low    its 68 % chi-squared interval's lower end\n"
    "                           adev_high   upper end (inf: not bounded)\n"
    "                           terms       second differences used\n"
    "                           edf         the interval's equivalent degrees of freedom\n"
    "                           noise       white PM or white FM, from the slope of adev: the\n"
    "                                       noise edf is worked out for\n"
    "                           mdev        overlapping modified Allan deviation\n"
    "                           mdev_low    its 68 % chi-squared interval's lower end\n"
    "                           mdev_high   upper end (inf: not bounded)\n"
    "                           mdev_terms  windows of tau / tau0 second differences used\n"
    "                           mdev_edf    the interval's equivalent degrees of freedom\n"
    "                           mdev_noise  white PM or white FM, from the slope of mdev\n"
    "                           tdev_s      time deviation tau / sqrt(3) * mdev [s]\n"
    "                         (an empty cell: no value, gaps leave no window)\n"
    "  --rf-frequency HZ      the received carrier's radio frequency [Hz]: with IQ.csv, the\n"
    "                         Allan deviation of the signal's phase as well\n"
    "  --help                 this text\n"
    "  --version              the program's version\n";

const std::vector<std::string> kSecondWanted = {
    "t_s",          "freq_error_ppm", "pps_edge_frame", "card_ppm_fine",   "pps_residual_us",
    "lock_freq_hz", "click_position", "pps_series",     "pps_slip_frames", "device_rate_hz"};
const std::vector<std::string> kFineColumns = {"pps_edge_frame", "card_ppm_fine",
                                               "pps_residual_us"};
const std::vector<std::string> kPeriodWanted = {"t_s", "phase_deg", "level_db"};

const Colour kClassicColour = MakeColour(255, 0, 0);  // the chart's phase dots
const Colour kFineColour = MakeColour(0, 128, 0);     // the chart's phase labels
const Colour kPhaseColour = MakeColour(255, 0, 0);
const Colour kLevelColour = MakeColour(0, 0, 255);  // the chart's level dots
const Colour kCardColour = MakeColour(200, 0, 0);
const Colour kSignalColour = MakeColour(0, 0, 255);

struct Options {
    bool Text = false;
    bool Day = false;  // --day: the run's part on the first row's day
    double RfHz = 0;   // 0: not given
    std::string Output, Readouts, Periods;
    std::string AdevCsv;  // empty: not asked for
};

// Mean, standard deviation, RMS, last value and count of the finite values of `v` from
// index `from` on.
struct Stats {
    int64_t Count = 0;
    double Mean = NAN, Deviation = NAN, Rms = NAN, Last = NAN, Min = NAN, Max = NAN;
};

Stats StatsOf(const std::vector<double>& v, size_t from = 0) {
    Stats st;
    long double sum = 0, squares = 0;
    for (size_t i = from; i < v.size(); ++i) {
        if (!std::isfinite(v[i])) continue;
        sum += v[i];
        squares += static_cast<long double>(v[i]) * v[i];
        st.Last = v[i];
        st.Min = st.Count == 0 ? v[i] : std::min(st.Min, v[i]);
        st.Max = st.Count == 0 ? v[i] : std::max(st.Max, v[i]);
        ++st.Count;
    }
    if (st.Count == 0) return st;
    const long double mean = sum / st.Count;
    st.Mean = static_cast<double>(mean);
    st.Rms = static_cast<double>(std::sqrt(squares / st.Count));
    const long double variance = squares / st.Count - mean * mean;
    st.Deviation = static_cast<double>(std::sqrt(variance > 0 ? variance : 0.0L));
    return st;
}

// [s] The longest run whose t_s is taken as the time since its start: a century. A t_s below 0
// or beyond is no such time (a damaged or foreign file).
constexpr double kLongestRun = 100 * 365.25 * 86400;

bool IsTimeSinceStart(double ts) { return ts >= 0 && ts <= kLongestRun; }

// The shortest text that reads back as `v` ("-1199", "1e+100").
std::string Shortest(double v) {
    char text[32];  // the longest double is 24 characters
    const auto r = std::to_chars(text, text + sizeof text, v);
    return r.ec == std::errc() ? std::string(text, r.ptr) : std::string("?");
}

// A length of time as "hh:mm:ss", from a day on "N d hh:mm:ss", "-" before a negative one; in
// seconds when longer than 10^15 s (then no whole count of it overflows).
std::string Duration(double seconds) {
    if (seconds < 0) return "-" + Duration(-seconds);
    if (!(seconds < 1e15)) return Fixed(seconds, 0) + " s";
    const int64_t whole = static_cast<int64_t>(std::floor(seconds + 0.5));
    std::string text = AxisTimeText(static_cast<double>(whole % 86400), true);
    if (whole >= 86400) text = std::to_string(whole / 86400) + " d " + text;
    return text;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string StartText(double start, bool iso) {
    return iso ? AxisDateText(start, true) + " " + AxisTimeText(start, true) + " UTC"
               : AxisTimeText(start, true) + " stream time";
}

std::string NoiseName(AllanNoise noise) {
    return noise == AllanNoise::WhitePhase ? "white PM" : "white FM";
}

void AllanTable(std::ostream& out, const std::string& title, const std::vector<AllanPoint>& ps) {
    out << title << "\n";
    out << "  (mdev: modified Allan deviation, its interval's edf for the noise mdev_noise names; "
           "tdev_s: time deviation tau / sqrt(3) * mdev)\n";
    out << "  tau_s      adev        terms   low         high        edf      noise     mdev     "
           "   mdev_low    mdev_high   mdev_edf mdev_noise tdev_s\n";
    // Where each column after the first begins; a cell is cut at the next column's start.
    constexpr size_t kColumnStarts[] = {13, 25, 33, 45, 57, 66, 76, 88, 100, 112, 121, 132};
    for (const AllanPoint& p : ps) {
        const std::string cells[] = {Fixed(p.Tau, 0),
                                     Scientific(p.Deviation, 4),
                                     std::to_string(p.Terms),
                                     Scientific(p.Low, 4),
                                     Scientific(p.High, 4),
                                     Fixed(p.Freedom, 1),
                                     NoiseName(p.Noise),
                                     Scientific(p.ModDeviation, 4),
                                     Scientific(p.ModLow, 4),
                                     Scientific(p.ModHigh, 4),
                                     p.ModTerms > 0 ? Fixed(p.ModFreedom, 1) : "-",
                                     p.ModTerms > 0 ? NoiseName(p.ModNoise) : "-",
                                     Scientific(p.TimeDeviation, 4)};
        std::string line = "  ";
        for (size_t k = 0; k < std::size(kColumnStarts); ++k) {
            line += cells[k];
            line.resize(kColumnStarts[k], ' ');
        }
        line += cells[std::size(kColumnStarts)];
        out << line << "\n";
    }
    if (ps.empty()) out << "  (too few points: a run of at least 3 points is needed)\n";
}

// Parses the command line; 0 to go on, else the exit status (with what to print done).
int ParseOptions(int argc, char** argv, Options& o, std::ostream& out, std::ostream& err) {
    std::string error;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc && error.empty(); ++i) {
        const std::string arg = argv[i];
        if (EndsOptions(arg, optionsEnded)) continue;
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--help" || arg == "-h") {
                out << kUsage;
                return -1;
            }
            if (arg == "--version") {
                out << VersionLine(kProgram);
                return -1;
            }
            if (arg == "--text") {
                o.Text = true;
            } else if (arg == "--day") {
                o.Day = true;
            } else if (arg == "--output") {
                TakeOptionValue(argc, argv, i, o.Output, error, false);
            } else if (arg == "--adev-csv") {
                TakeOptionValue(argc, argv, i, o.AdevCsv, error, false);
            } else if (arg == "--rf-frequency") {
                std::string text;
                if (TakeOptionValue(argc, argv, i, text, error, false) &&
                    (!ParsePlainNumber(text, o.RfHz) || !(o.RfHz > 0) || !std::isfinite(o.RfHz))) {
                    error = "--rf-frequency " + text + ": not a frequency above 0 Hz";
                }
            } else {
                error = "unknown option " + arg;
            }
            continue;
        }
        files.push_back(arg);
    }
    if (error.empty() && files.empty()) error = "no input: give READOUTS.csv (and IQ.csv)";
    if (error.empty() && files.size() > 2) {
        error = "more than two input files (" + files[2] + ")";
    }
    if (error.empty() && o.Output.empty()) error = "no picture to write: give --output OUT.png";
    if (error.empty() && o.RfHz > 0 && files.size() < 2) {
        error = "--rf-frequency needs the --iq-csv file IQ.csv";
    }
    if (!error.empty()) {
        err << UsageErrorLine(kProgram, error);
        return 2;
    }
    o.Readouts = files[0];
    if (files.size() > 1) o.Periods = files[1];
    return 0;
}

void Note(std::ostream& err, const std::string& line) { err << kProgram << ": " << line << "\n"; }

// ---------------------------------------------------------------------------------------------
// The run

// The run the report shows: the readouts file's last, and the I/Q file's run in its time.
struct ReportRuns {
    std::vector<CsvRun> SecondRuns, PeriodRuns;
    const CsvRun* Sec = nullptr;  // the seconds' run
    const CsvRun* Iq = nullptr;   // its I/Q run; none when not given or not found
    bool Fine = false;            // with the fine PPS timing's columns
    double Start = 0, End = 0;    // [s, as CsvRun keeps them]
    double Before = 0;            // [s] of the run before Start (--day: the days before)
};

// The seconds' run: the file's last. False after the line saying why there is none.
bool SelectSecondRun(const Options& o, ReportRuns& r, std::ostream& err) {
    std::vector<std::string> notes;
    std::string error;
    const bool read = ReadCsvRuns(o.Readouts, kSecondWanted, r.SecondRuns, notes, error);
    for (const std::string& n : notes) Note(err, n);
    if (!read) return Note(err, error), false;
    const CsvRun& sec = r.SecondRuns.back();
    r.Sec = &sec;
    if (r.SecondRuns.size() > 1) {
        Note(err,
             o.Readouts + ": " + std::to_string(r.SecondRuns.size()) +
                 " runs in the file (t_s starts again): the report shows the last, from line " +
                 std::to_string(sec.FirstLine));
    }
    std::vector<std::string> missingFine;
    for (const std::string& name : kFineColumns) {
        if (!sec.Has(name)) missingFine.push_back(name);
    }
    r.Fine = missingFine.empty();
    if (!r.Fine) {
        Note(err, o.Readouts + ": no column " + Joined(missingFine) +
                      " (a file from before the fine PPS timing?): the fine panels are left out");
    }
    if (!sec.Has("freq_error_ppm")) {
        Note(err,
             o.Readouts + ": no column freq_error_ppm: the classic frequency error is left out");
    }
    const std::vector<double>& ts = sec.Column("t_s");
    r.Start = sec.Time.front() - ts.front();
    if (!IsTimeSinceStart(ts.front())) {
        Note(err, o.Readouts + ": t_s " + Shortest(ts.front()) + " on line " +
                      std::to_string(sec.FirstLine) +
                      " is no time since the run's start: the run is drawn from that row");
        r.Start = sec.Time.front();
    }
    if (o.Day) {
        // Stream time is counted from the run's first midnight, UTC from 1970's: either way a
        // day starts at a whole multiple of a day's seconds.
        const double midnight = std::floor(sec.Time.front() / 86400) * 86400;
        if (midnight > r.Start) {
            r.Before = midnight - r.Start;
            r.Start = midnight;
        }
    }
    r.End = sec.Time.back();
    return true;
}

// The I/Q run: the last one that overlaps the seconds' run in time. Without one, a note says
// why and the I/Q panels are left out.
void SelectIqRun(const Options& o, ReportRuns& r, std::ostream& err) {
    if (o.Periods.empty()) return;
    std::vector<std::string> notes;
    std::string error;
    const bool read = ReadCsvRuns(o.Periods, kPeriodWanted, r.PeriodRuns, notes, error);
    for (const std::string& n : notes) Note(err, n);
    if (!read) return Note(err, error + ": the I/Q panels are left out");
    for (const CsvRun& run : r.PeriodRuns) {
        if (run.IsoTime == r.Sec->IsoTime && run.Time.front() <= r.End + 1 &&
            run.Time.back() >= r.Start) {
            r.Iq = &run;
        }
    }
    if (r.Iq == nullptr) {
        return Note(err, o.Periods + ": no rows in the time of " + o.Readouts + "'s run (" +
                             StartText(r.Start, r.Sec->IsoTime) + ", " + Duration(r.End - r.Start) +
                             "): not the I/Q file of that run, its panels are left out");
    }
    if (r.PeriodRuns.size() > 1) {
        Note(err, o.Periods + ": " + std::to_string(r.PeriodRuns.size()) +
                      " runs in the file: the report shows the one from line " +
                      std::to_string(r.Iq->FirstLine) + ", in the time of the readouts' run");
    }
    for (const char* name : {"phase_deg", "level_db"}) {
        if (!r.Iq->Has(name)) Note(err, o.Periods + ": no column " + std::string(name));
    }
    r.End = std::max(r.End, r.Iq->Time.back());
}

// ---------------------------------------------------------------------------------------------
// The numbers

// What the report says of the run: the Allan deviations, the received phase, the statistics
// and the lines that describe the run.
struct ReportNumbers {
    int Period = 0;       // [s] of the I/Q rows; 0: not known
    bool Signal = false;  // the signal's Allan deviation is there (IQ.csv and --rf-frequency)
    std::vector<AllanPoint> CardAllan, SignalAllan;
    std::vector<double> Unwrapped;  // the received phase [deg], per I/Q row
    Stats Lock, Click, Classic, FinePpm, Residual, Edges;
    bool LengthKnown = false;  // t_s is a time since the run's start to its end
    std::string Start, Length, Settings, Columns;
};

// The fine PPS edges of one series, the longest (said in a note when there are several).
std::vector<double> CardEdges(const Options& o, const CsvRun& sec, std::ostream& err) {
    std::vector<double> edgeFrames = sec.Column("pps_edge_frame");
    if (!sec.Has("pps_series")) return edgeFrames;
    int count = 0, chosen = 0;
    const std::vector<double> noSlips;
    edgeFrames = OneSeriesEdges(
        edgeFrames, sec.Column("pps_series"),
        sec.Has("pps_slip_frames") ? sec.Column("pps_slip_frames") : noSlips, count, chosen);
    if (count > 1) {
        Note(err, o.Readouts + ": " + std::to_string(count) +
                      " series of fine PPS edges (a new pulse shape or timing method each): the "
                      "Allan deviation is of the longest, series " +
                      std::to_string(chosen));
    }
    return edgeFrames;
}

ReportNumbers Statistics(const Options& o, const ReportRuns& r, std::ostream& err) {
    const CsvRun& sec = *r.Sec;
    const CsvRun* iq = r.Iq;
    ReportNumbers n;
    n.Period = iq != nullptr ? IntegrationPeriod(iq->Column("t_s")) : 0;
    // The edges count the card's frames at its own rate, which a run at 8000 does not state.
    const double deviceRate = DeviceRateOf(sec.Column("device_rate_hz"));
    const std::vector<double> cardX =
        r.Fine ? CardPhase(CardEdges(o, sec, err), deviceRate) : std::vector<double>{};
    n.CardAllan = OverlappingAllanDeviation(cardX, 1.0);
    n.Signal = iq != nullptr && o.RfHz > 0 && iq->Has("phase_deg") && n.Period > 0;
    if (n.Signal) {
        n.SignalAllan = OverlappingAllanDeviation(
            SignalPhase(iq->Time, iq->Column("phase_deg"), n.Period, o.RfHz), n.Period);
    }
    if (iq != nullptr) n.Unwrapped = UnwrapDegrees(iq->Column("phase_deg"));

    n.Lock = StatsOf(sec.Column("lock_freq_hz"));
    n.Click = StatsOf(sec.Column("click_position"));
    const std::vector<double>& classicPpm = sec.Column("freq_error_ppm");
    const size_t lastMinute = classicPpm.size() > 60 ? classicPpm.size() - 60 : 0;
    n.Classic = StatsOf(classicPpm, lastMinute);
    n.FinePpm = StatsOf(sec.Column("card_ppm_fine"));
    n.Residual = StatsOf(sec.Column("pps_residual_us"));
    n.Edges = StatsOf(sec.Column("pps_edge_frame"));

    const std::vector<double>& ts = sec.Column("t_s");
    n.Start = StartText(r.Start, sec.IsoTime);
    n.LengthKnown = IsTimeSinceStart(ts.back());
    const double length = ts.back() - r.Before;
    n.Length = (n.LengthKnown ? Fixed(length, 0) + " s (" + Duration(length) + ")"
                              : "unknown (t_s ends at " + Shortest(ts.back()) + " s)") +
               ", " + std::to_string(sec.Rows()) + " second rows" +
               (iq != nullptr ? ", " + std::to_string(iq->Rows()) + " I/Q rows" : std::string());
    n.Settings =
        "lock frequency " + (n.Lock.Count > 0 ? Fixed(n.Lock.Last, 4) + " Hz" : std::string("-")) +
        ", click position " + (n.Click.Count > 0 ? Fixed(n.Click.Last, 0) : std::string("-")) +
        ", integration period " +
        (n.Period > 0 ? std::to_string(n.Period) + " s" : std::string("-")) +
        (o.RfHz > 0 ? ", RF " + Fixed(o.RfHz, 0) + " Hz" : std::string()) +
        (sec.Has("device_rate_hz") ? ", input " + Fixed(deviceRate, 0) + " frames/s" : "");
    n.Columns = std::string("columns: classic") +
                (r.Fine ? " and fine" : " only (no fine PPS timing)") +
                (iq != nullptr ? ", I/Q" : "");
    return n;
}

// ---------------------------------------------------------------------------------------------
// The text

// --text: the run's summary and the Allan tables.
void PrintReport(const Options& o, const ReportRuns& r, const ReportNumbers& n, std::ostream& out) {
    const CsvRun* iq = r.Iq;
    out << "run: " << o.Readouts << (iq != nullptr ? " and " + o.Periods : "") << "\n";
    out << "start: " << n.Start << "\n";
    out << "length: " << n.Length << "\n";
    out << "settings: " << n.Settings << "\n";
    out << n.Columns << "\n";
    if (n.Classic.Count > 0) {
        out << "card frequency error, classic: last " << Fixed(n.Classic.Last, 4)
            << " ppm; over the last " << n.Classic.Count << " s mean " << Fixed(n.Classic.Mean, 4)
            << " ppm, standard deviation " << Fixed(n.Classic.Deviation, 4) << " ppm\n";
    }
    if (r.Fine) {
        out << "card frequency error, fine: last " << Fixed(n.FinePpm.Last, 6) << " ppm\n";
        out << "fine PPS edges: " << n.Edges.Count << " of " << r.Sec->Rows()
            << " seconds; residual RMS " << Fixed(n.Residual.Rms, 4) << " us over "
            << n.Residual.Count << " s\n";
    }
    if (iq != nullptr) {
        const Stats phase = StatsOf(n.Unwrapped), level = StatsOf(iq->Column("level_db"));
        out << "received phase (unwrapped): " << Fixed(phase.Min, 1) << " to "
            << Fixed(phase.Max, 1) << " deg, last " << Fixed(phase.Last, 1) << " deg\n";
        out << "received level: mean " << Fixed(level.Mean, 2) << " dB, " << Fixed(level.Min, 2)
            << " to " << Fixed(level.Max, 2) << " dB\n";
    }
    if (r.Fine) {
        AllanTable(out,
                   "Allan deviation of the card (fine PPS edges, tau0 = 1 s; 68 % chi-squared "
                   "interval):",
                   n.CardAllan);
    }
    if (n.Signal) {
        AllanTable(out,
                   "Allan deviation of the signal (I/Q phase at " + Fixed(o.RfHz, 0) +
                       " Hz, tau0 = " + std::to_string(n.Period) +
                       " s; 68 % chi-squared interval):",
                   n.SignalAllan);
    }
}

// ---------------------------------------------------------------------------------------------
// --adev-csv

// A cell of the table: the shortest text that reads back as the value, empty for NaN.
std::string Cell(double v) { return std::isnan(v) ? std::string() : Shortest(v); }

void AdevRows(std::string& text, const char* source, const std::vector<AllanPoint>& ps) {
    for (const AllanPoint& p : ps) {
        text += std::string(source) + "," + Cell(p.Tau) + "," + Cell(p.Deviation) + "," +
                Cell(p.Low) + "," + Cell(p.High) + "," + std::to_string(p.Terms) + "," +
                Cell(p.Freedom) + "," + NoiseName(p.Noise) + "," + Cell(p.ModDeviation) + "," +
                Cell(p.ModLow) + "," + Cell(p.ModHigh) + "," + std::to_string(p.ModTerms) + "," +
                (p.ModTerms > 0 ? Cell(p.ModFreedom) + "," + NoiseName(p.ModNoise) : ",") + "," +
                Cell(p.TimeDeviation) + "\n";
    }
}

// The Allan tables of the card and of the signal (when there), one row per tau.
std::string AdevCsvText(const ReportNumbers& n) {
    std::string text =
        "source,tau_s,adev,adev_low,adev_high,terms,edf,noise,mdev,mdev_low,mdev_high,mdev_terms,"
        "mdev_edf,mdev_noise,tdev_s\n";
    AdevRows(text, "card", n.CardAllan);
    if (n.Signal) AdevRows(text, "signal", n.SignalAllan);
    return text;
}

// ---------------------------------------------------------------------------------------------
// The picture

// The picture's title, panels and Allan curves; it points into `r` and `n`.
ReportPicture Picture(const Options& o, const ReportRuns& r, const ReportNumbers& n) {
    const CsvRun& sec = *r.Sec;
    const CsvRun* iq = r.Iq;
    ReportPicture picture;
    picture.Title = {
        "GPS QuorVelle run of " + n.Start + ", " + (n.LengthKnown ? "" : "length ") + n.Length,
        n.Settings + "; " + n.Columns, o.Readouts + (iq != nullptr ? ", " + o.Periods : "")};
    picture.Start = r.Start;
    picture.End = std::max(r.End, r.Start + 1);
    picture.IsoTime = sec.IsoTime;
    const std::string noFine = "no fine PPS timing in " + o.Readouts;
    const std::string noIq = o.Periods.empty() ? "no I/Q file given" : "no I/Q rows of this run";
    TimePanel a{"(a) card frequency error", "ppm", {}, "no frequency error in " + o.Readouts};
    a.Series.push_back(
        {"classic freq_error_ppm", kClassicColour, &sec.Time, &sec.Column("freq_error_ppm")});
    if (r.Fine) {
        a.Series.push_back(
            {"fine card_ppm_fine", kFineColour, &sec.Time, &sec.Column("card_ppm_fine"), true});
    }
    a.Robust = true;
    TimePanel b{"(b) fine PPS edge residuals", "us", {}, noFine};
    b.Robust = true;
    if (r.Fine) b.Series.push_back({"", kFineColour, &sec.Time, &sec.Column("pps_residual_us")});
    TimePanel d{"(d) received phase, unwrapped", "deg", {}, noIq};
    TimePanel e{"(e) received level", "dB", {}, noIq};
    if (iq != nullptr) {
        d.Series.push_back({"", kPhaseColour, &iq->Time, &n.Unwrapped});
        e.Series.push_back({"", kLevelColour, &iq->Time, &iq->Column("level_db")});
    }
    picture.Panels = {a, b, d, e};
    if (r.Fine) picture.Allan.push_back({"card (fine PPS edges)", kCardColour, n.CardAllan});
    if (n.Signal) {
        picture.Allan.push_back(
            {"signal at " + Fixed(o.RfHz, 0) + " Hz", kSignalColour, n.SignalAllan});
    }
    picture.AllanMissing = r.Fine ? "too short for an Allan deviation" : noFine;
    return picture;
}

}  // namespace

int RunReport(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Options o;
    const int parsed = ParseOptions(argc, argv, o, out, err);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    // The outputs are checked before the work, as the batch tool checks its outputs; an input
    // as an output, or one file for both outputs, is bad usage, as there.
    std::vector<OutputPath> outputs = {{"--output", o.Output}};
    if (!o.AdevCsv.empty()) outputs.push_back({"--adev-csv", o.AdevCsv});
    for (const OutputPath& output : outputs) {
        for (const std::string& input : {o.Readouts, o.Periods}) {
            if (!input.empty() && SameFile(output.Path, input)) {
                err << UsageErrorLine(
                    kProgram, output.Option + " " + output.Path + " is the input file " + input);
                return 2;
            }
        }
    }
    if (!o.AdevCsv.empty() && SameFile(o.AdevCsv, o.Output)) {
        err << UsageErrorLine(kProgram,
                              "--adev-csv " + o.AdevCsv + " is the --output file " + o.Output);
        return 2;
    }
    std::string error;
    for (const OutputPath& output : outputs) {
        if (!CheckWritable(output, error)) {
            Note(err, output.Option + " " + output.Path + ": " + error);
            return 1;
        }
    }

    ReportRuns runs;
    if (!SelectSecondRun(o, runs, err)) return 1;
    SelectIqRun(o, runs, err);
    const ReportNumbers numbers = Statistics(o, runs, err);
    if (o.Text) PrintReport(o, runs, numbers, out);
    // A table that cannot be written (a full disk) is said at once; the picture is still drawn.
    bool written = true;
    if (!o.AdevCsv.empty()) {
        written = WriteWholeLines(o.AdevCsv, AdevCsvText(numbers), error);
        if (written) {
            out << "Allan table: " << o.AdevCsv << "\n";
        } else {
            Note(err, "--adev-csv " + error);
        }
    }
    if (!WritePng(DrawReport(Picture(o, runs, numbers)), o.Output, error)) {
        Note(err, error);
        return 1;
    }
    out << "picture: " << o.Output << "\n";
    return written ? 0 : 1;
}

bool ReportPng(const std::string& readouts, const std::string& periods, std::string& png,
               std::string& error) {
    Options o;
    o.Readouts = readouts;
    o.Periods = periods;
    std::ostringstream notes;
    ReportRuns runs;
    if (!SelectSecondRun(o, runs, notes)) {
        error = notes.str();
        error = error.substr(0, error.find('\n'));
        const std::string prefix = std::string(kProgram) + ": ";
        if (error.rfind(prefix, 0) == 0) error.erase(0, prefix.size());
        return false;
    }
    SelectIqRun(o, runs, notes);
    return EncodePng(DrawReport(Picture(o, runs, Statistics(o, runs, notes))), png, error);
}

}  // namespace qv
