// quorvelle-report's picture: title, time panels with min/max decimation, the Allan deviation's
// and modified Allan deviation's log-log panel, the time deviation's, and their table.
#include "report/report_plot.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "common/trig.h"
#include "display/text.h"
#include "report/report_data.h"

namespace qv {

namespace {

// ---------------------------------------------------------------------------------------------
// Geometry and colours

constexpr int kWidth = 1200, kHeight = 800;         // [pixels]
constexpr int kDotsPerInch = 96;                    // the labels' size as on the chart
constexpr int kLabelPoints = 8, kTitlePoints = 11;  // the chart's label font; the title's
constexpr int kTimeLeft = 80, kTimeRight = 790;     // time panels' plot area, x [pixels]
constexpr int kPanelTop = 66, kPanelStep = 182;     // first panel's title row; panel to panel
constexpr int kPlotOffset = 16, kPlotHeight = 132;  // plot area below the panel's title row
// The log-log panels on the right: (c) ADEV and MDEV, both fractional frequency on one axis, so
// that their ratio shows the noise type; (f) TDEV below, in seconds, on an axis of its own. Each
// has its title row and, below it, the vertical axis' title above the tick labels.
constexpr int kAllanLeft = 892, kAllanRight = 1180;
constexpr int kAllanTop = 97, kAllanBottom = 262;         // (c)
constexpr int kTdevTop = 331, kTdevBottom = 438;          // (f)
constexpr int kAxisTitleRise = 17, kPanelTitleRise = 31;  // above a log panel's top [pixels]
constexpr int kTableTop = 480, kLineStep = 12;

const Colour kFrameText = MakeColour(128, 0, 0);  // the chart's frame texts
const Colour kAxis = MakeColour(64, 64, 64);
const Colour kGrid = MakeColour(192, 192, 192);
const Colour kMissingText = MakeColour(128, 128, 128);

constexpr double kLn10 = 2.302585092994045684018;

int LabelHeight() { return MakeLabelFont(kLabelPoints, kDotsPerInch).PixelHeight; }

void Text(Surface& s, int x, int y, const std::string& text, Colour colour, int points) {
    SelectFont(s, MakeLabelFont(points, kDotsPerInch));
    s.TextColour = colour;
    DrawText(s, x, y, text);
}

int Width(const std::string& text, int points) {
    return TextWidth(MakeLabelFont(points, kDotsPerInch).PixelHeight, text);
}

// A line that includes its end point.
void Line(Surface& s, int x0, int y0, int x1, int y1, Colour colour,
          PenStyle style = PenStyle::Solid) {
    SelectPen(s, Pen{colour, style});
    MoveTo(s, x0, y0);
    LineTo(s, x1, y1);
    if (style == PenStyle::Solid) SetPixel(s, x1, y1, colour);
}

void Frame(Surface& s, int left, int top, int right, int bottom) {
    Line(s, left, top, right, top, kAxis);
    Line(s, right, top, right, bottom, kAxis);
    Line(s, right, bottom, left, bottom, kAxis);
    Line(s, left, bottom, left, top, kAxis);
}

// To the nearest pixel, halves up. A position far off every surface (and NaN) is held at
// +-kFarPixel, so that no conversion overflows and sums with a panel's coordinates stay ints.
constexpr int kFarPixel = 1 << 28;
int Round(double v) {
    if (!(v > -kFarPixel)) return -kFarPixel;
    if (v > kFarPixel) return kFarPixel;
    return static_cast<int>(std::floor(v + 0.5));
}

// 10^k by exact powers of ten (divisions correctly rounded for negative k).
double PowerOfTen(int k) {
    double p = 1;
    for (int i = 0; i < (k < 0 ? -k : k); ++i) p *= 10;
    return k < 0 ? 1 / p : p;
}

// The decade k with 10^k <= v < 10^(k+1), for v within the finite doubles.
int DecadeOf(double v) {
    const double log = Log10(v);
    int k = std::isfinite(log) ? static_cast<int>(std::floor(std::clamp(log, -330.0, 310.0))) : 0;
    if (PowerOfTen(k) > v) --k;
    if (PowerOfTen(k + 1) <= v) ++k;
    return k;
}

// ---------------------------------------------------------------------------------------------
// Linear axes

constexpr double kFarValue = 1e300;  // values beyond are drawn at the axis' end
// The narrowest value range an axis spans, relative to the values' magnitude (about 500 units
// in the last place of a double), and the magnitude below which values count as zero (its
// powers of ten stay normal doubles).
constexpr double kLeastRelativeRange = 1e-13, kNearZero = 1e-280;
// [ticks] The most a value axis has, and the most a time axis has at two days apart; bounds on
// the tick loops whatever the values.
constexpr int kMostValueTicks = 64, kMostTimeTicks = 64;

struct Scale {
    double Low = 0, High = 1;  // the values at the ends of the axis
    double Step = 1;           // between ticks
    int Decimals = 0;          // of the tick labels
};

Scale NiceScale(double low, double high, int ticks) {
    Scale sc;
    // Values near the largest double: an axis that still has a finite length.
    low = std::clamp(low, -kFarValue, kFarValue);
    high = std::clamp(high, -kFarValue, kFarValue);
    // Equal values, or values apart only in their last bits, are widened about them as one
    // value: a step of the axis must still change the values it is added to.
    const double magnitude = std::max(std::fabs(low), std::fabs(high));
    if (!(high - low > magnitude * kLeastRelativeRange)) {
        const double pad = magnitude < kNearZero ? 1 : magnitude * 0.1;
        low -= pad;
        high += pad;
    }
    const double pad = (high - low) * 0.05;
    low -= pad;
    high += pad;
    const double raw = (high - low) / ticks;
    const int k = DecadeOf(raw);
    const double decade = PowerOfTen(k);
    double step = decade;
    for (const double f : {1.0, 2.0, 5.0, 10.0}) {
        step = f * decade;
        if (step >= raw) break;
    }
    sc.Step = step;
    sc.Low = std::floor(low / step) * step;
    sc.High = std::ceil(high / step) * step;
    sc.Decimals = step >= 1 ? 0 : -DecadeOf(step * 1.0000001);
    if (step / PowerOfTen(-sc.Decimals) < 0.99) ++sc.Decimals;
    return sc;
}

int ValueY(const Scale& sc, double v, int top, int bottom) {
    return bottom - Round((v - sc.Low) / (sc.High - sc.Low) * (bottom - top));
}

// Time ticks: whole minutes or hours of the day, about eight across the panel; two days apart
// for longer runs, up to kMostTimeTicks of them; beyond, whole days in steps of 1, 2 and 5
// times a power of ten, about eight again (a run of many months, or a damaged file).
double TimeStep(double span) {
    const double steps[] = {1,   2,   5,    10,   20,   30,    60,    120,   300,
                            600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    for (const double step : steps) {
        if (span / step <= 8) return step;
    }
    constexpr double kTwoDays = 172800;
    if (!(span / kTwoDays > kMostTimeTicks)) return kTwoDays;
    double step = kTwoDays;
    for (double decade = 86400; decade < 1e300; decade *= 10) {
        for (const double f : {1.0, 2.0, 5.0}) {
            step = f * decade;
            if (span / step <= 8) return step;
        }
    }
    return step;
}

// ---------------------------------------------------------------------------------------------
// Time panels

// The largest time step between neighbouring values that is still drawn as a line: three times
// the series' median step, so that a missing stretch shows as a gap.
double JoinLimit(const std::vector<double>& t, const std::vector<double>& v) {
    std::vector<double> steps;
    double last = std::numeric_limits<double>::quiet_NaN();
    for (size_t i = 0; i < t.size() && i < v.size(); ++i) {
        if (!std::isfinite(v[i])) continue;
        if (!std::isnan(last)) steps.push_back(t[i] - last);
        last = t[i];
    }
    if (steps.empty()) return 0;
    std::nth_element(steps.begin(), steps.begin() + static_cast<long>(steps.size() / 2),
                     steps.end());
    return 3 * steps[steps.size() / 2];
}

// Each pixel column gets a line from the least to the greatest value that falls into it, so
// that a spike of one row among thousands still shows; neighbouring values are joined.
void DrawSeries(Surface& s, const TimeSeries& series, const Scale& sc, double start, double end,
                int top, int bottom) {
    const int columns = kTimeRight - kTimeLeft - 1;
    struct Column {
        bool Used = false;
        double Min = 0, Max = 0, First = 0, Last = 0;
        double FirstTime = 0, LastTime = 0;
    };
    std::vector<Column> cols(static_cast<size_t>(columns));
    const std::vector<double>& t = *series.Time;
    const std::vector<double>& v = *series.Values;
    for (size_t i = 0; i < t.size() && i < v.size(); ++i) {
        if (!std::isfinite(v[i])) continue;
        const int c = Round((t[i] - start) / (end - start) * (columns - 1));
        if (c < 0 || c >= columns) continue;
        Column& col = cols[static_cast<size_t>(c)];
        if (!col.Used) {
            col = {true, v[i], v[i], v[i], v[i], t[i], t[i]};
        } else {
            col.Min = std::min(col.Min, v[i]);
            col.Max = std::max(col.Max, v[i]);
            col.Last = v[i];
            col.LastTime = t[i];
        }
    }
    auto y = [&](double value) {
        return std::clamp(ValueY(sc, value, top, bottom), top + 1, bottom - 1);
    };
    const double joinLimit = JoinLimit(t, v);
    int lastColumn = -1;
    for (int c = 0; c < columns; ++c) {
        const Column& col = cols[static_cast<size_t>(c)];
        if (!col.Used) continue;
        const int x = kTimeLeft + 1 + c;
        for (const int shift : series.Bold ? std::vector<int>{-1, 0, 1} : std::vector<int>{0}) {
            if (lastColumn >= 0) {
                const Column& before = cols[static_cast<size_t>(lastColumn)];
                if (col.FirstTime - before.LastTime <= joinLimit) {
                    Line(s, kTimeLeft + 1 + lastColumn, y(before.Last) + shift, x,
                         y(col.First) + shift, series.Colour);
                }
            }
            Line(s, x, y(col.Max) + shift, x, y(col.Min) + shift, series.Colour);
        }
        lastColumn = c;
    }
}

// The 1st and 99th percentiles of the finite values, widened by half their distance on each
// side and kept within the extremes.
void RobustRange(const TimePanel& panel, double& low, double& high) {
    std::vector<double> all;
    for (const TimeSeries& series : panel.Series) {
        for (const double v : *series.Values) {
            if (std::isfinite(v)) all.push_back(v);
        }
    }
    if (all.size() < 100) return;
    std::sort(all.begin(), all.end());
    const double p1 = all[all.size() / 100], p99 = all[all.size() - 1 - all.size() / 100];
    const double widen = (p99 - p1) / 2;
    low = std::max(low, p1 - widen);
    high = std::min(high, p99 + widen);
}

// Time ticks below the plot area, their grid lines, and the date at each midnight after the
// start.
void DrawTimeTicks(Surface& s, const ReportPicture& p, int top, int bottom) {
    const double span = p.End - p.Start;
    const double step = TimeStep(span);
    const int columns = kTimeRight - kTimeLeft - 1;
    // Should the times be too large for a step to change them (a damaged file), the first tick
    // is the only one.
    int timeTicks = 0;
    for (double t = std::ceil(p.Start / step) * step; t <= p.End && timeTicks <= kMostTimeTicks;
         t += step, ++timeTicks) {
        const int x = kTimeLeft + 1 + Round((t - p.Start) / span * (columns - 1));
        Line(s, x, top + 1, x, bottom - 1, kGrid, PenStyle::Dot);
        Line(s, x, bottom, x, bottom + 3, kAxis);
        const std::string label = AxisTimeText(t, step < 60);
        Text(s, x - Width(label, kLabelPoints) / 2, bottom + 4, label, kAxis, kLabelPoints);
        const double ofDay = t - std::floor(t / 86400) * 86400;
        if (ofDay == 0 && t - p.Start > step / 2) {
            const std::string date = AxisDateText(t, p.IsoTime);
            Text(s, x + 4, top + 2, date, kAxis, kLabelPoints);
        }
        if (t + step == t) break;
    }
}

// The legend on the title row, right-aligned: a short line of each labelled series' colour.
void DrawLegend(Surface& s, const TimePanel& panel, int titleTop) {
    int legendRight = kTimeRight;
    for (auto series = panel.Series.rbegin(); series != panel.Series.rend(); ++series) {
        if (series->Label.empty()) continue;
        const int w = Width(series->Label, kLabelPoints);
        const int x = legendRight - w;
        const int y = titleTop + LabelHeight() / 2;
        FillRect(s, x - 22, y - 1, 16, 3, series->Colour);
        Text(s, x, titleTop, series->Label, series->Colour, kLabelPoints);
        legendRight = x - 36;
    }
}

void DrawTimePanel(Surface& s, const ReportPicture& p, const TimePanel& panel, int titleTop) {
    const int top = titleTop + kPlotOffset, bottom = top + kPlotHeight;
    Text(s, kTimeLeft, titleTop, panel.Title + (panel.Unit.empty() ? "" : " [" + panel.Unit + "]"),
         kFrameText, kLabelPoints);

    // The value range over every series.
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (const TimeSeries& series : panel.Series) {
        for (const double v : *series.Values) {
            if (!std::isfinite(v)) continue;
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    const bool any = low <= high;
    if (any && panel.Robust) RobustRange(panel, low, high);

    DrawTimeTicks(s, p, top, bottom);

    if (any) {
        const Scale sc = NiceScale(low, high, 4);
        int valueTicks = 0;
        for (double v = sc.Low; v <= sc.High + sc.Step / 2 && valueTicks < kMostValueTicks;
             v += sc.Step, ++valueTicks) {
            const int y = ValueY(sc, v, top, bottom);
            if (y > top && y < bottom)
                Line(s, kTimeLeft + 1, y, kTimeRight - 1, y, kGrid, PenStyle::Dot);
            Line(s, kTimeLeft - 3, y, kTimeLeft, y, kAxis);
            const std::string label = ValueTickLabel(v, sc.Step, sc.Decimals);
            Text(s, kTimeLeft - 5 - Width(label, kLabelPoints), y - LabelHeight() / 2, label, kAxis,
                 kLabelPoints);
        }
        for (const TimeSeries& series : panel.Series) {
            DrawSeries(s, series, sc, p.Start, p.End, top, bottom);
        }
    } else {
        const std::string& why = panel.Missing.empty() ? std::string("no values") : panel.Missing;
        Text(s, (kTimeLeft + kTimeRight - Width(why, kLabelPoints)) / 2,
             (top + bottom - LabelHeight()) / 2, why, kMissingText, kLabelPoints);
    }
    Frame(s, kTimeLeft, top, kTimeRight, bottom);
    DrawLegend(s, panel, titleTop);
}

// ---------------------------------------------------------------------------------------------
// The Allan deviation panel and its table

// m = 1, 10, 100, ...
bool IsDecade(int64_t m) {
    while (m >= 10 && m % 10 == 0) m /= 10;
    return m == 1;
}

// Every decade in one style: 1e-9, 1e0, 1e3.
std::string DecadeLabel(int k) { return "1e" + std::to_string(k); }

// A log-log panel's axes: whole decades from X0 to X1 of tau [s] and from Y0 to Y1 of the
// deviation, over the plot area from Top to Bottom between kAllanLeft and kAllanRight.
struct LogAxes {
    int X0 = 0, X1 = 1, Y0 = 0, Y1 = 1;
    int Top = kAllanTop, Bottom = kAllanBottom;

    int X(double tau) const {
        return kAllanLeft + Round((Log10(tau) - X0) / (X1 - X0) * (kAllanRight - kAllanLeft));
    }
    int Y(double dev) const {
        return Bottom - Round((Log10(dev) - Y0) / (Y1 - Y0) * (Bottom - Top));
    }
};

// One marker of a log panel: a deviation at tau with its interval's ends (Low 0 or less: none;
// High +inf: none).
struct LogMark {
    double Tau = 0, Value = 0, Low = 0, High = 0;
};

// ADEV's and MDEV's marks, or TDEV's (its interval is MDEV's scaled by tau / sqrt(3)).
LogMark AdevMark(const AllanPoint& p) { return {p.Tau, p.Deviation, p.Low, p.High}; }
LogMark MdevMark(const AllanPoint& p) { return {p.Tau, p.ModDeviation, p.ModLow, p.ModHigh}; }
LogMark TdevMark(const AllanPoint& p) {
    const double scale = p.TimeDeviation / p.ModDeviation;
    return {p.Tau, p.TimeDeviation, p.ModLow * scale, p.ModHigh * scale};
}

using MarkOf = LogMark (*)(const AllanPoint&);

// The decades that hold the marks of every curve and their intervals; false when no curve has a
// mark to draw.
bool LogAxesOf(const ReportPicture& p, const std::vector<MarkOf>& kinds, LogAxes& axes) {
    double tauLow = std::numeric_limits<double>::infinity(), tauHigh = 0;
    double devLow = std::numeric_limits<double>::infinity(), devHigh = 0;
    for (const AllanCurve& curve : p.Allan) {
        for (const AllanPoint& point : curve.Points) {
            for (const MarkOf kind : kinds) {
                const LogMark mark = kind(point);
                if (!(mark.Value > 0)) continue;
                tauLow = std::min(tauLow, mark.Tau);
                tauHigh = std::max(tauHigh, mark.Tau);
                devLow = std::min(devLow, mark.Low > 0 ? mark.Low : mark.Value);
                devHigh = std::max(devHigh, std::isfinite(mark.High) ? mark.High : mark.Value);
            }
        }
    }
    if (!(tauHigh > 0)) return false;
    axes.X0 = DecadeOf(tauLow);
    axes.X1 = std::max(DecadeOf(tauHigh) + 1, axes.X0 + 1);
    axes.Y0 = DecadeOf(devLow);
    axes.Y1 = std::max(DecadeOf(devHigh) + 1, axes.Y0 + 1);
    return true;
}

// Decade grid with minor ticks at 2..9, the decades' labels and both axes' titles: tau's below
// its labels, the deviation's above the vertical axis.
void DrawLogAxes(Surface& s, const LogAxes& axes, const std::string& valueTitle) {
    const int left = kAllanLeft, right = kAllanRight, top = axes.Top, bottom = axes.Bottom;
    int labelsLeft = left;
    for (int k = axes.X0; k <= axes.X1; ++k) {
        const int x = axes.X(PowerOfTen(k));
        if (x > left && x < right) Line(s, x, top + 1, x, bottom - 1, kGrid, PenStyle::Dot);
        Line(s, x, bottom, x, bottom + 4, kAxis);
        const std::string label = DecadeLabel(k);
        Text(s, x - Width(label, kLabelPoints) / 2, bottom + 5, label, kAxis, kLabelPoints);
        for (int m = 2; m <= 9 && k < axes.X1; ++m) {
            const int xm = axes.X(m * PowerOfTen(k));
            Line(s, xm, bottom, xm, bottom + 2, kAxis);
        }
    }
    for (int k = axes.Y0; k <= axes.Y1; ++k) {
        const int y = axes.Y(PowerOfTen(k));
        if (y > top && y < bottom) Line(s, left + 1, y, right - 1, y, kGrid, PenStyle::Dot);
        Line(s, left - 4, y, left, y, kAxis);
        const std::string label = DecadeLabel(k);
        const int w = Width(label, kLabelPoints);
        labelsLeft = std::min(labelsLeft, left - 6 - w);
        Text(s, left - 6 - w, y - LabelHeight() / 2, label, kAxis, kLabelPoints);
        for (int m = 2; m <= 9 && k < axes.Y1; ++m) {
            const int ym = axes.Y(m * PowerOfTen(k));
            Line(s, left - 2, ym, left, ym, kAxis);
        }
    }
    Text(s, labelsLeft, top - kAxisTitleRise, valueTitle, kAxis, kLabelPoints);
    const std::string xLabel = "averaging time tau [s]";
    Text(s, (left + right - Width(xLabel, kLabelPoints)) / 2, bottom + 5 + LabelHeight(), xLabel,
         kAxis, kLabelPoints);
}

// A 5 x 5 square marker about (x, y): filled, or its outline only.
void Marker(Surface& s, int x, int y, Colour colour, bool filled) {
    if (filled) return FillRect(s, x - 2, y - 2, 5, 5, colour);
    FillRect(s, x - 2, y - 2, 5, 1, colour);
    FillRect(s, x - 2, y + 2, 5, 1, colour);
    FillRect(s, x - 2, y - 2, 1, 5, colour);
    FillRect(s, x + 2, y - 2, 1, 5, colour);
}

// One curve's marks joined by lines (solid between filled markers, dotted between open ones),
// each with its confidence bar.
void DrawLogCurve(Surface& s, const AllanCurve& curve, MarkOf kind, bool filled,
                  const LogAxes& axes) {
    const int top = axes.Top, bottom = axes.Bottom;
    int lastX = 0, lastY = 0;
    bool joined = false;
    for (const AllanPoint& point : curve.Points) {
        const LogMark mark = kind(point);
        if (!(mark.Value > 0)) continue;
        const int x = axes.X(mark.Tau), y = axes.Y(mark.Value);
        const int barTop = std::isfinite(mark.High) ? axes.Y(mark.High) : top + 1;
        const int barBottom = mark.Low > 0 ? std::min(axes.Y(mark.Low), bottom - 1) : bottom - 1;
        Line(s, x, std::max(barTop, top + 1), x, barBottom, curve.Colour);
        Line(s, x - 3, barBottom, x + 3, barBottom, curve.Colour);
        if (std::isfinite(mark.High)) Line(s, x - 3, barTop, x + 3, barTop, curve.Colour);
        if (joined) {
            Line(s, lastX, lastY, x, y, curve.Colour, filled ? PenStyle::Solid : PenStyle::Dot);
        }
        Marker(s, x, y, curve.Colour, filled);
        lastX = x;
        lastY = y;
        joined = true;
    }
}

// The legend at the top right of a log panel: each curve's colour, then what filled and open
// markers are when the panel has both.
void DrawLogLegend(Surface& s, const ReportPicture& p, const LogAxes& axes, bool both) {
    const int right = kAllanRight;
    int legendY = axes.Top + 4;
    auto entry = [&](const std::string& label, Colour colour, bool filled) {
        const int w = Width(label, kLabelPoints);
        FillRect(s, right - 30 - w, legendY - 1, w + 26, LabelHeight() + 2, kWhite);
        Marker(s, right - 22 - w, legendY + LabelHeight() / 2, colour, filled);
        Text(s, right - 6 - w - 8, legendY, label, colour, kLabelPoints);
        legendY += LabelHeight() + 3;
    };
    for (const AllanCurve& curve : p.Allan) entry(curve.Label, curve.Colour, true);
    if (both) {
        entry("ADEV", kAxis, true);
        entry("MDEV", kAxis, false);
    }
}

// The table: tau and each deviation, ADEV with its interval. When the rows of a long run do not
// all fit below the panels, only the decades (m = 1, 10, 100, ...) are listed; --text and
// --adev-csv have them all, with the terms and MDEV's interval.
void DrawAllanTable(Surface& s, const ReportPicture& p) {
    size_t rows = 0;
    for (const AllanCurve& curve : p.Allan) rows += curve.Points.size() + 2;
    const size_t room = static_cast<size_t>((kHeight - kTableTop) / kLineStep) - p.Allan.size();
    const bool decadesOnly = rows > room;
    int y = kTableTop;
    constexpr int kColumns = 6;
    const int columns[kColumns] = {kAllanLeft - 40,  kAllanLeft + 0,   kAllanLeft + 52,
                                   kAllanLeft + 104, kAllanLeft + 156, kAllanLeft + 208};
    for (const AllanCurve& curve : p.Allan) {
        const std::string title =
            decadesOnly ? curve.Label + " (decades; --text lists every tau)" : curve.Label;
        Text(s, columns[0], y, title, curve.Colour, kLabelPoints);
        y += kLineStep;
        const char* heads[kColumns] = {"tau [s]", "ADEV", "low", "high", "MDEV", "TDEV [s]"};
        for (int c = 0; c < kColumns; ++c) Text(s, columns[c], y, heads[c], kAxis, kLabelPoints);
        y += kLineStep;
        for (const AllanPoint& point : curve.Points) {
            if (decadesOnly && !IsDecade(point.Factor) && &point != &curve.Points.back()) continue;
            if (y > kHeight - kLineStep) break;
            const std::string cells[kColumns] = {Fixed(point.Tau, 0),
                                                 Scientific(point.Deviation, 3),
                                                 Scientific(point.Low, 3),
                                                 Scientific(point.High, 3),
                                                 Scientific(point.ModDeviation, 3),
                                                 Scientific(point.TimeDeviation, 3)};
            for (int c = 0; c < kColumns; ++c)
                Text(s, columns[c], y, cells[c], kAxis, kLabelPoints);
            y += kLineStep;
        }
        y += kLineStep / 2;
    }
}

// One log panel: its title, and the curves of `kinds` (filled markers for the first, open for
// the second), or why there are none (then false).
bool DrawLogPanel(Surface& s, const ReportPicture& p, int top, int bottom, const std::string& title,
                  const std::string& valueTitle, const std::vector<MarkOf>& kinds) {
    const int left = kAllanLeft, right = kAllanRight;
    Text(s, left, top - kPanelTitleRise, title, kFrameText, kLabelPoints);
    LogAxes axes;
    if (!LogAxesOf(p, kinds, axes)) {
        Frame(s, left, top, right, bottom);
        const std::string why = p.AllanMissing.empty() ? "no Allan deviation" : p.AllanMissing;
        Text(s, (left + right - Width(why, kLabelPoints)) / 2, (top + bottom) / 2, why,
             kMissingText, kLabelPoints);
        return false;
    }
    axes.Top = top;
    axes.Bottom = bottom;
    DrawLogAxes(s, axes, valueTitle);
    for (const AllanCurve& curve : p.Allan) {
        for (size_t k = 0; k < kinds.size(); ++k) DrawLogCurve(s, curve, kinds[k], k == 0, axes);
    }
    DrawLogLegend(s, p, axes, kinds.size() > 1);
    Frame(s, left, top, right, bottom);
    return true;
}

void DrawAllan(Surface& s, const ReportPicture& p) {
    const bool drawn =
        DrawLogPanel(s, p, kAllanTop, kAllanBottom, "(c) overlapping ADEV and MDEV, 68 % intervals",
                     "sigma_y(tau) [fractional frequency]", {AdevMark, MdevMark});
    DrawLogPanel(s, p, kTdevTop, kTdevBottom, "(f) time deviation TDEV, 68 % intervals",
                 "TDEV sigma_x(tau) [s]", {TdevMark});
    if (drawn) DrawAllanTable(s, p);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

double Log10(double v) {
    if (!(v > 0)) return -std::numeric_limits<double>::infinity();
    return PortableLog(v) / kLn10;
}

namespace {

// The shortest scientific form that reads back as `v` ("1e+100"): what a number that does not
// fit its form becomes. At most 24 characters, so it always fits.
std::string ShortestScientific(double v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific);
    return r.ec == std::errc() ? std::string(text, r.ptr) : std::string("?");
}

}  // namespace

std::string Scientific(double v, int digits) {
    if (std::isnan(v)) return "-";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char text[40];
    const auto r =
        std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, digits - 1);
    return r.ec == std::errc() ? std::string(text, r.ptr) : ShortestScientific(v);
}

std::string ValueTickLabel(double v, double step, int decimals) {
    constexpr int kMostDecimals = 6;
    if (std::fabs(v) < step / 2) v = 0;
    if (decimals <= kMostDecimals) return Fixed(v, decimals);
    if (v == 0) return "0";
    const int exponent = DecadeOf(std::fabs(v));
    const int digits = std::clamp(exponent - DecadeOf(step * 1.0000001), 0, 3);
    return Fixed(v / PowerOfTen(exponent), digits) + "e" + std::to_string(exponent);
}

std::string Fixed(double v, int decimals) {
    if (std::isnan(v)) return "-";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    // Up to 1e63 (and fewer decimals than fill the rest) the digits fit; a number beyond is
    // written in scientific form rather than cut.
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(text, r.ptr) : ShortestScientific(v);
}

Surface DrawReport(const ReportPicture& p) {
    Surface s(kWidth, kHeight);
    FillWhite(s, 0, 0, kWidth, kHeight);
    for (size_t i = 0; i < p.Title.size(); ++i) {
        const bool first = i == 0;
        Text(s, 12, first ? 8 : 14 + static_cast<int>(i) * 14, p.Title[i], kFrameText,
             first ? kTitlePoints : kLabelPoints);
    }
    Line(s, 8, kPanelTop - 12, kWidth - 9, kPanelTop - 12, kGrid);
    for (size_t i = 0; i < p.Panels.size(); ++i) {
        DrawTimePanel(s, p, p.Panels[i], kPanelTop + static_cast<int>(i) * kPanelStep);
    }
    DrawAllan(s, p);
    return s;
}

}  // namespace qv
