// quorvelle-report: options, the run's summary and Allan tables as text, and the picture.
#include "tools/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "dsp/allan_deviation.h"
#include "files/capture_bitmap.h"
#include "files/output_check.h"
#include "tools/report_data.h"
#include "tools/report_plot.h"

namespace qv {

namespace {

constexpr const char* kProgram = "quorvelle-report";

constexpr const char* kUsage =
    "Usage: quorvelle-report [--text] [--rf-frequency HZ] --output OUT.png READOUTS.csv "
    "[IQ.csv]\n"
    "\n"
    "Draws a whole run from the CSV files of the window or quorvelle-batch (--csv, and\n"
    "--iq-csv for IQ.csv) into one PNG picture: the card's frequency error (classic and fine),\n"
    "the fine PPS edge residuals, the overlapping Allan deviation with its confidence\n"
    "intervals, and the received phase and level over the run, against UTC (or stream) time.\n"
    "A file that holds several runs is reported for its last run.\n"
    "\n"
    "  --output OUT.png       the picture to write (replaced)\n"
    "  --text                 also print the run's summary and the Allan tables on stdout\n"
    "  --rf-frequency HZ      the received carrier's radio frequency [Hz]: with IQ.csv, the\n"
    "                         Allan deviation of the signal's phase as well\n"
    "  --help                 this text\n"
    "  --version              the program's version\n";

const std::vector<std::string> kSecondWanted = {
    "t_s",          "freq_error_ppm", "pps_edge_frame", "card_ppm_fine",  "pps_residual_us",
    "lock_freq_hz", "click_position", "pps_series",     "pps_slip_frames"};
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
    double RfHz = 0;  // 0: not given
    std::string Output, Readouts, Periods;
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

void AllanTable(std::ostream& out, const std::string& title, const std::vector<AllanPoint>& ps) {
    out << title << "\n";
    out << "  tau_s      adev        terms   low         high        edf      noise\n";
    for (const AllanPoint& p : ps) {
        std::string line = "  " + Fixed(p.Tau, 0);
        line.resize(13, ' ');
        line += Scientific(p.Deviation, 4);
        line.resize(25, ' ');
        line += std::to_string(p.Terms);
        line.resize(33, ' ');
        line += Scientific(p.Low, 4);
        line.resize(45, ' ');
        line += Scientific(p.High, 4);
        line.resize(57, ' ');
        line += Fixed(p.Freedom, 1);
        line.resize(66, ' ');
        line += p.Noise == AllanNoise::WhitePhase ? "white PM" : "white FM";
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
            } else if (arg == "--output") {
                TakeOptionValue(argc, argv, i, o.Output, error, false);
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

}  // namespace

int RunReport(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Options o;
    const int parsed = ParseOptions(argc, argv, o, out, err);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;
    auto note = [&](const std::string& line) { err << kProgram << ": " << line << "\n"; };
    auto fail = [&](const std::string& line) {
        note(line);
        return 1;
    };

    // The picture is checked before the work, as the batch tool checks its outputs; the input
    // as the output is bad usage, as there.
    for (const std::string& input : {o.Readouts, o.Periods}) {
        if (!input.empty() && SameFile(o.Output, input)) {
            err << UsageErrorLine(kProgram, "--output " + o.Output + " is the input file " + input);
            return 2;
        }
    }
    std::string error;
    if (!CheckWritable(OutputPath{"--output", o.Output}, error)) {
        return fail("--output " + o.Output + ": " + error);
    }

    // ------------------------------------------------------------------------------------------
    // The seconds' run: the file's last.
    std::vector<CsvRun> secondRuns;
    std::vector<std::string> notes;
    const bool read = ReadCsvRuns(o.Readouts, kSecondWanted, secondRuns, notes, error);
    for (const std::string& n : notes) note(n);
    if (!read) return fail(error);
    const CsvRun& sec = secondRuns.back();
    if (secondRuns.size() > 1) {
        note(o.Readouts + ": " + std::to_string(secondRuns.size()) +
             " runs in the file (t_s starts again): the report shows the last, from line " +
             std::to_string(sec.FirstLine));
    }
    std::vector<std::string> missingFine;
    for (const std::string& name : kFineColumns) {
        if (!sec.Has(name)) missingFine.push_back(name);
    }
    const bool fine = missingFine.empty();
    if (!fine) {
        note(o.Readouts + ": no column " + Joined(missingFine) +
             " (a file from before the fine PPS timing?): the fine panels are left out");
    }
    if (!sec.Has("freq_error_ppm")) {
        note(o.Readouts + ": no column freq_error_ppm: the classic frequency error is left out");
    }
    const std::vector<double>& ts = sec.Column("t_s");
    double runStart = sec.Time.front() - ts.front();
    if (!IsTimeSinceStart(ts.front())) {
        note(o.Readouts + ": t_s " + Shortest(ts.front()) + " on line " +
             std::to_string(sec.FirstLine) +
             " is no time since the run's start: the run is drawn from that row");
        runStart = sec.Time.front();
    }
    double runEnd = sec.Time.back();

    // ------------------------------------------------------------------------------------------
    // The I/Q run: the last one that overlaps the seconds' run in time.
    std::vector<CsvRun> periodRuns;
    const CsvRun* iq = nullptr;
    if (!o.Periods.empty()) {
        notes.clear();
        const bool periodsRead = ReadCsvRuns(o.Periods, kPeriodWanted, periodRuns, notes, error);
        for (const std::string& n : notes) note(n);
        if (!periodsRead) {
            note(error + ": the I/Q panels are left out");
        } else {
            for (const CsvRun& run : periodRuns) {
                if (run.IsoTime == sec.IsoTime && run.Time.front() <= runEnd + 1 &&
                    run.Time.back() >= runStart) {
                    iq = &run;
                }
            }
            if (iq == nullptr) {
                note(o.Periods + ": no rows in the time of " + o.Readouts + "'s run (" +
                     StartText(runStart, sec.IsoTime) + ", " + Duration(runEnd - runStart) +
                     "): not the I/Q file of that run, its panels are left out");
            } else {
                if (periodRuns.size() > 1) {
                    note(o.Periods + ": " + std::to_string(periodRuns.size()) +
                         " runs in the file: the report shows the one from line " +
                         std::to_string(iq->FirstLine) + ", in the time of the readouts' run");
                }
                for (const char* name : {"phase_deg", "level_db"}) {
                    if (!iq->Has(name)) note(o.Periods + ": no column " + std::string(name));
                }
                runEnd = std::max(runEnd, iq->Time.back());
            }
        }
    }

    // ------------------------------------------------------------------------------------------
    // The numbers
    const int period = iq != nullptr ? IntegrationPeriod(iq->Column("t_s")) : 0;
    std::vector<double> edgeFrames = fine ? sec.Column("pps_edge_frame") : std::vector<double>{};
    if (fine && sec.Has("pps_series")) {
        int count = 0, chosen = 0;
        const std::vector<double> noSlips;
        edgeFrames = OneSeriesEdges(
            edgeFrames, sec.Column("pps_series"),
            sec.Has("pps_slip_frames") ? sec.Column("pps_slip_frames") : noSlips, count, chosen);
        if (count > 1) {
            note(o.Readouts + ": " + std::to_string(count) +
                 " series of fine PPS edges (a new pulse shape or timing method each): the Allan "
                 "deviation is of the longest, series " +
                 std::to_string(chosen));
        }
    }
    const std::vector<double> cardX = fine ? CardPhase(edgeFrames) : std::vector<double>{};
    const std::vector<AllanPoint> cardAllan = OverlappingAllanDeviation(cardX, 1.0);
    std::vector<AllanPoint> signalAllan;
    const bool signal = iq != nullptr && o.RfHz > 0 && iq->Has("phase_deg") && period > 0;
    if (signal) {
        signalAllan = OverlappingAllanDeviation(
            SignalPhase(iq->Time, iq->Column("phase_deg"), period, o.RfHz), period);
    }
    std::vector<double> unwrapped =
        iq != nullptr ? UnwrapDegrees(iq->Column("phase_deg")) : std::vector<double>{};

    const Stats lock = StatsOf(sec.Column("lock_freq_hz"));
    const Stats click = StatsOf(sec.Column("click_position"));
    const std::vector<double>& classicPpm = sec.Column("freq_error_ppm");
    const size_t lastMinute = classicPpm.size() > 60 ? classicPpm.size() - 60 : 0;
    const Stats classic = StatsOf(classicPpm, lastMinute);
    const Stats finePpm = StatsOf(sec.Column("card_ppm_fine"));
    const Stats residual = StatsOf(sec.Column("pps_residual_us"));
    const Stats edges = StatsOf(sec.Column("pps_edge_frame"));

    const std::string startText = StartText(runStart, sec.IsoTime);
    const bool lengthKnown = IsTimeSinceStart(ts.back());
    const std::string lengthText =
        (lengthKnown ? Fixed(ts.back(), 0) + " s (" + Duration(ts.back()) + ")"
                     : "unknown (t_s ends at " + Shortest(ts.back()) + " s)") +
        ", " + std::to_string(sec.Rows()) + " second rows" +
        (iq != nullptr ? ", " + std::to_string(iq->Rows()) + " I/Q rows" : std::string());
    const std::string settingsText =
        "lock frequency " + (lock.Count > 0 ? Fixed(lock.Last, 4) + " Hz" : std::string("-")) +
        ", click position " + (click.Count > 0 ? Fixed(click.Last, 0) : std::string("-")) +
        ", integration period " + (period > 0 ? std::to_string(period) + " s" : std::string("-")) +
        (o.RfHz > 0 ? ", RF " + Fixed(o.RfHz, 0) + " Hz" : std::string());
    const std::string columnsText = std::string("columns: classic") +
                                    (fine ? " and fine" : " only (no fine PPS timing)") +
                                    (iq != nullptr ? ", I/Q" : "");

    if (o.Text) {
        out << "run: " << o.Readouts << (iq != nullptr ? " and " + o.Periods : "") << "\n";
        out << "start: " << startText << "\n";
        out << "length: " << lengthText << "\n";
        out << "settings: " << settingsText << "\n";
        out << columnsText << "\n";
        if (classic.Count > 0) {
            out << "card frequency error, classic: last " << Fixed(classic.Last, 4)
                << " ppm; over the last " << classic.Count << " s mean " << Fixed(classic.Mean, 4)
                << " ppm, standard deviation " << Fixed(classic.Deviation, 4) << " ppm\n";
        }
        if (fine) {
            out << "card frequency error, fine: last " << Fixed(finePpm.Last, 6) << " ppm\n";
            out << "fine PPS edges: " << edges.Count << " of " << sec.Rows()
                << " seconds; residual RMS " << Fixed(residual.Rms, 4) << " us over "
                << residual.Count << " s\n";
        }
        if (iq != nullptr) {
            const Stats phase = StatsOf(unwrapped), level = StatsOf(iq->Column("level_db"));
            out << "received phase (unwrapped): " << Fixed(phase.Min, 1) << " to "
                << Fixed(phase.Max, 1) << " deg, last " << Fixed(phase.Last, 1) << " deg\n";
            out << "received level: mean " << Fixed(level.Mean, 2) << " dB, " << Fixed(level.Min, 2)
                << " to " << Fixed(level.Max, 2) << " dB\n";
        }
        if (fine) {
            AllanTable(out,
                       "Allan deviation of the card (fine PPS edges, tau0 = 1 s; 68 % chi-squared "
                       "interval):",
                       cardAllan);
        }
        if (signal) {
            AllanTable(out,
                       "Allan deviation of the signal (I/Q phase at " + Fixed(o.RfHz, 0) +
                           " Hz, tau0 = " + std::to_string(period) +
                           " s; 68 % chi-squared interval):",
                       signalAllan);
        }
    }

    // ------------------------------------------------------------------------------------------
    // The picture
    ReportPicture picture;
    picture.Title = {
        "GPS QuorVelle run of " + startText + ", " + (lengthKnown ? "" : "length ") + lengthText,
        settingsText + "; " + columnsText, o.Readouts + (iq != nullptr ? ", " + o.Periods : "")};
    picture.Start = runStart;
    picture.End = std::max(runEnd, runStart + 1);
    picture.IsoTime = sec.IsoTime;
    const std::string noFine = "no fine PPS timing in " + o.Readouts;
    const std::string noIq = o.Periods.empty() ? "no I/Q file given" : "no I/Q rows of this run";
    TimePanel a{"(a) card frequency error", "ppm", {}, "no frequency error in " + o.Readouts};
    a.Series.push_back({"classic freq_error_ppm", kClassicColour, &sec.Time, &classicPpm});
    if (fine) {
        a.Series.push_back(
            {"fine card_ppm_fine", kFineColour, &sec.Time, &sec.Column("card_ppm_fine"), true});
    }
    a.Robust = true;
    TimePanel b{"(b) fine PPS edge residuals", "us", {}, noFine};
    b.Robust = true;
    if (fine) b.Series.push_back({"", kFineColour, &sec.Time, &sec.Column("pps_residual_us")});
    TimePanel d{"(d) received phase, unwrapped", "deg", {}, noIq};
    TimePanel e{"(e) received level", "dB", {}, noIq};
    if (iq != nullptr) {
        d.Series.push_back({"", kPhaseColour, &iq->Time, &unwrapped});
        e.Series.push_back({"", kLevelColour, &iq->Time, &iq->Column("level_db")});
    }
    picture.Panels = {a, b, d, e};
    if (fine) picture.Allan.push_back({"card (fine PPS edges)", kCardColour, cardAllan});
    if (signal) {
        picture.Allan.push_back(
            {"signal at " + Fixed(o.RfHz, 0) + " Hz", kSignalColour, signalAllan});
    }
    picture.AllanMissing = fine ? "too short for an Allan deviation" : noFine;
    const Surface surface = DrawReport(picture);
    if (!WritePng(surface, o.Output, error)) return fail(error);
    out << "picture: " << o.Output << "\n";
    return 0;
}

}  // namespace qv
