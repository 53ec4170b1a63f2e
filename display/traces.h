// What the measurement draws as it runs: the PPS and RF click traces on the click scope, the
// vectorscope dots, and each closed period's dots and tick on the chart; with the scales that
// turn its values into pixels.
#pragma once

#include <string>

#include "common/numbers.h"
#include "display/display.h"

namespace qv {

// Click scope, PPS trace (lower half): 17 output samples around the held PPS edge, 8 pixels
// apart, y = 130 - 32 * PPS value.
constexpr int kPpsTraceSamples = 17;         // [output samples] on the trace
constexpr int kPpsTraceEdgeSample = 6;       // [output samples] the held PPS edge, from the first
constexpr int kPpsTracePixelsPerSample = 8;  // [pixels]
constexpr int kPpsTraceZeroY = 130;          // [pixels] y of a zero PPS value
constexpr int kPpsTracePixelsPerFullScale = 32;
constexpr int kPpsEdgeMarkerX = kPpsTracePixelsPerSample * kPpsTraceEdgeSample;  // [pixels]

// Click scope, RF click trace (upper half): the filtered click's magnitude at the first 64
// samples after the PPS edge, 2 pixels apart, y = 50 - 160 * sqrt(I^2 + Q^2). The click
// position marker uses the same 2 pixels per sample.
constexpr int kClickTraceSamples = 64;         // [output samples] n = 0 .. 63
constexpr int kClickTracePixelsPerSample = 2;  // [pixels]
constexpr int kClickTraceZeroY = 50;           // [pixels] y of a zero magnitude
constexpr int kClickTracePixelsPerFullScale = 160;

// Chart: each closed period's dots go into columns 740 and 741 before the scroll; phase at 11
// pixels per radian with 0 rad between rows 177 and 178, drawn twice 65 rows apart; level at
// 1 pixel per dB with -35 dB on row 13 (the "  0dB" line); a tick every 10 periods.
constexpr int kPeriodDotX = 740;  // [pixels]
constexpr long double kPhasePixelsPerRadian = 11;
constexpr int kPhaseZeroRow = 177;    // [pixels] 0 rad lies between this row and the next
constexpr int kPhaseCopyOffset = 65;  // [pixels] second copy of the phase band
constexpr int kLevelZeroRow = -23;    // [pixels] where 0 dB would lie, above the chart
constexpr int kTickTop = 332, kTickBottom = 339;  // [pixels]
constexpr int kTickEvery = 10;                    // [periods]

// One point of a click-scope trace, drawn as a polyline with the pen selected in the surface:
// the first point only sets (lastX, lastY); every point is joined to the previous one, end
// point excluded, and becomes the new previous point.
inline void TracePoint(Surface& s, int& lastX, int& lastY, int x, int y, bool first) {
    if (first) {
        lastX = x;
        lastY = y;
    }
    MoveTo(s, lastX, lastY);
    LineTo(s, x, y);
    lastX = x;
    lastY = y;
}

// The PPS trace's point for trace sample k (0 .. 16) with PPS value `pps` [full scale].
void DrawPpsTrace(Display& d, int k, long double pps);
// The RF click trace's point for sample n (0 .. 63) after the PPS edge with the filtered click
// vector (i, q) [full scale].
void DrawClickTrace(Display& d, int n, long double i, long double q);
// Once a second: the scope's traces shown on its panel, and the working surface reset to the
// background for the next second.
void ShowScope(Display& d);

// The vectorscope's dot for the running sums (vectorI, vectorQ), divided by the magnification.
// Inline: it comes with every sample, and a call would store both sums as arguments.
inline void PlotVectorPoint(Display& d, long double vectorI, long double vectorQ) {
    // Dividing by 1 changes nothing, so the default magnification skips the two divisions.
    if (d.VectorMagnification != 1) {
        const long double magnification = d.VectorMagnification;
        vectorI = vectorI / magnification;
        vectorQ = vectorQ / magnification;
    }
    SetPixel(d.VectorSurface, RoundToPixel(vectorI + kVectorCentre),
             RoundToPixel(kVectorCentre - vectorQ), kBlack);
}
// Once a second: the vectorscope shown on its panel.
void ShowVectorscope(Display& d);

// A closed period's phase [rad] and level [dB] dots, and every tenth period a tick.
void PlotPeriod(Display& d, long double phase, long double level);
// The chart scrolled one column (after the period's PlotPeriod) and, while panels are shown,
// its panel owed with the frame of `now`: `showNow` pays it at once, for a host that shows
// the panel; ShowChartPanel pays it when it is wanted.
void ScrollChart(Display& d, int integrationSeconds, const std::string& now, bool showNow);
// Counts a closed period on the chart; true when the chart has filled (739 periods since it
// was last cleared).
bool CountChartColumn(Display& d);

}  // namespace qv
