// quorvelle-report's picture: panels of values over the run's time and the Allan deviation's
// log-log plot, drawn with the chart's raster and label font.
#pragma once

#include <string>
#include <vector>

#include "display/raster.h"
#include "dsp/allan_deviation.h"

namespace qv {

// One line of a time panel: values against times [s, as CsvRun keeps them]; NaN is no value.
struct TimeSeries {
    std::string Label;  // for the legend; empty: no legend
    qv::Colour Colour = kBlack;
    const std::vector<double>* Time = nullptr;
    const std::vector<double>* Values = nullptr;
    bool Bold = false;  // drawn three pixels high, over the thinner lines drawn before it
};

struct TimePanel {
    std::string Title;  // "(a) card frequency error"
    std::string Unit;   // of the vertical axis, "ppm"
    std::vector<TimeSeries> Series;
    std::string Missing;  // what the panel says instead, when it has nothing to draw
    // The vertical range from the bulk of the values (1st to 99th percentile, widened by half
    // its width) rather than from the extremes, which then show at the edge: a settling
    // transient does not flatten a day of read-outs.
    bool Robust = false;
};

struct AllanCurve {
    std::string Label;
    qv::Colour Colour = kBlack;
    std::vector<AllanPoint> Points;
};

struct ReportPicture {
    std::vector<std::string> Title;  // the first line large, the others small
    double Start = 0, End = 0;       // the time axis [s, as CsvRun keeps them]
    bool IsoTime = false;            // dates for midnight ticks: ISO or "day N"
    std::vector<TimePanel> Panels;   // drawn one below the other, on the left
    std::vector<AllanCurve> Allan;   // drawn on the right, with their table below
    std::string AllanMissing;        // said in the Allan panel when it has no curve
};

// The whole picture, 1200 x 800 pixels on white.
Surface DrawReport(const ReportPicture& picture);

// Decimal logarithm through PortableLog, so that pixel positions are the same bits on every
// system; minus infinity for v <= 0.
double Log10(double v);

// A number for a table or an axis label: `digits` significant digits in scientific notation
// ("3.46e-06"), or `decimals` after the point in fixed notation; "-" for NaN, "inf" for +inf.
// A number too long for its form (fixed from 1e63 on) is its shortest scientific form.
std::string Scientific(double v, int digits);
std::string Fixed(double v, int decimals);
// A value axis' tick label at `v` with ticks `step` apart: `decimals` fixed decimals, a value
// within half a step of 0 as 0; steps below a millionth (a noise-free run's residuals) in the
// log axes' style, "8e-12", which fits beside the axis where twelve decimals would not.
std::string ValueTickLabel(double v, double step, int decimals);

}  // namespace qv
