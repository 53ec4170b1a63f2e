// A run's report: the runs chosen from the CSV files, the statistics, the summary and Allan
// tables as text and as CSV, and the picture.
#include "report/report_run.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "files/capture_bitmap.h"

namespace qv {

namespace {

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

// The statistics of the finite values of `v` from index `from` on.
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

// ---------------------------------------------------------------------------------------------
// The run

// The seconds' run: the file's last. False with one line in `error` when there is none.
bool SelectSecondRun(const ReportSource& o, ReportRuns& r, std::vector<std::string>& notes,
                     std::string& error) {
    if (!ReadCsvRuns(o.Readouts, kSecondWanted, r.SecondRuns, notes, error)) return false;
    const CsvRun& sec = r.SecondRuns.back();
    r.Sec = &sec;
    if (r.SecondRuns.size() > 1) {
        notes.push_back(
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
        notes.push_back(o.Readouts + ": no column " + Joined(missingFine) +
                        " (a file from before the fine PPS timing?): the fine panels are left out");
    }
    if (!sec.Has("freq_error_ppm")) {
        notes.push_back(o.Readouts +
                        ": no column freq_error_ppm: the classic frequency error is left out");
    }
    const std::vector<double>& ts = sec.Column("t_s");
    r.Start = sec.Time.front() - ts.front();
    if (!IsTimeSinceStart(ts.front())) {
        notes.push_back(o.Readouts + ": t_s " + Shortest(ts.front()) + " on line " +
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
void SelectIqRun(const ReportSource& o, ReportRuns& r, std::vector<std::string>& notes) {
    if (o.Periods.empty()) return;
    std::string error;
    if (!ReadCsvRuns(o.Periods, kPeriodWanted, r.PeriodRuns, notes, error)) {
        return notes.push_back(error + ": the I/Q panels are left out");
    }
    for (const CsvRun& run : r.PeriodRuns) {
        if (run.IsoTime == r.Sec->IsoTime && run.Time.front() <= r.End + 1 &&
            run.Time.back() >= r.Start) {
            r.Iq = &run;
        }
    }
    if (r.Iq == nullptr) {
        return notes.push_back(o.Periods + ": no rows in the time of " + o.Readouts + "'s run (" +
                               StartText(r.Start, r.Sec->IsoTime) + ", " +
                               Duration(r.End - r.Start) +
                               "): not the I/Q file of that run, its panels are left out");
    }
    if (r.PeriodRuns.size() > 1) {
        notes.push_back(o.Periods + ": " + std::to_string(r.PeriodRuns.size()) +
                        " runs in the file: the report shows the one from line " +
                        std::to_string(r.Iq->FirstLine) + ", in the time of the readouts' run");
    }
    for (const char* name : {"phase_deg", "level_db"}) {
        if (!r.Iq->Has(name)) notes.push_back(o.Periods + ": no column " + std::string(name));
    }
    r.End = std::max(r.End, r.Iq->Time.back());
}

// ---------------------------------------------------------------------------------------------
// The numbers

// The fine PPS edges of one series, the longest (said in a note when there are several).
std::vector<double> CardEdges(const ReportSource& o, const CsvRun& sec,
                              std::vector<std::string>& notes) {
    std::vector<double> edgeFrames = sec.Column("pps_edge_frame");
    if (!sec.Has("pps_series")) return edgeFrames;
    int count = 0, chosen = 0;
    const std::vector<double> noSlips;
    edgeFrames = OneSeriesEdges(
        edgeFrames, sec.Column("pps_series"),
        sec.Has("pps_slip_frames") ? sec.Column("pps_slip_frames") : noSlips, count, chosen);
    if (count > 1) {
        notes.push_back(o.Readouts + ": " + std::to_string(count) +
                        " series of fine PPS edges (a new pulse shape or timing method each): the "
                        "Allan deviation is of the longest, series " +
                        std::to_string(chosen));
    }
    return edgeFrames;
}

ReportNumbers Statistics(const ReportSource& o, const ReportRuns& r,
                         std::vector<std::string>& notes) {
    const CsvRun& sec = *r.Sec;
    const CsvRun* iq = r.Iq;
    ReportNumbers n;
    n.Period = iq != nullptr ? IntegrationPeriod(iq->Column("t_s")) : 0;
    // The edges count the card's frames at its own rate, which a run at 8000 does not state.
    const double deviceRate = DeviceRateOf(sec.Column("device_rate_hz"));
    const std::vector<double> cardX =
        r.Fine ? CardPhase(CardEdges(o, sec, notes), deviceRate) : std::vector<double>{};
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

}  // namespace

bool MakeReport(const ReportSource& source, Report& report, std::vector<std::string>& notes,
                std::string& error) {
    report.Runs = ReportRuns();
    if (!SelectSecondRun(source, report.Runs, notes, error)) return false;
    SelectIqRun(source, report.Runs, notes);
    report.Numbers = Statistics(source, report.Runs, notes);
    return true;
}

// ---------------------------------------------------------------------------------------------
// The text

void PrintReport(const ReportSource& o, const Report& report, std::ostream& out) {
    const ReportRuns& r = report.Runs;
    const ReportNumbers& n = report.Numbers;
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

// The Allan tables of the card and of the signal (when there), one row per tau.
std::string AdevCsvText(const Report& report) {
    const ReportNumbers& n = report.Numbers;
    std::string text =
        "source,tau_s,adev,adev_low,adev_high,terms,edf,noise,mdev,mdev_low,mdev_high,mdev_terms,"
        "mdev_edf,mdev_noise,tdev_s\n";
    AdevRows(text, "card", n.CardAllan);
    if (n.Signal) AdevRows(text, "signal", n.SignalAllan);
    return text;
}

// ---------------------------------------------------------------------------------------------
// The picture

ReportPicture ReportPictureOf(const ReportSource& o, const Report& report) {
    const ReportRuns& r = report.Runs;
    const ReportNumbers& n = report.Numbers;
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

bool ReportPng(const std::string& readouts, const std::string& periods, std::string& png,
               std::string& error) {
    ReportSource source;
    source.Readouts = readouts;
    source.Periods = periods;
    Report report;
    std::vector<std::string> notes;  // what the picture leaves out it says itself
    return MakeReport(source, report, notes, error) &&
           EncodePng(DrawReport(ReportPictureOf(source, report)), png, error);
}

}  // namespace qv
