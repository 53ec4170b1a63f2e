// The measurement's traces and dots on the panel surfaces.
#include "display/traces.h"

#include <cmath>

#include "common/numbers.h"

namespace qv {

namespace {

const Colour kPhaseDotColour = MakeColour(255, 0, 0);
const Colour kLevelDotColour = MakeColour(0, 0, 255);
const Colour kTickColour = MakeColour(255, 0, 0);

// The chart trace's ring column of chart column x (0..767).
int RingColumn(const Display& d, int x) {
    const int column = x + d.ChartScroll;
    return column >= kChartWidth ? column - kChartWidth : column;
}

// A 2 x 2 dot at chart columns 740..741 (ring columns x and the one after it) covering the rows
// ROUND(top - offset) and ROUND(top + 1 - offset), set in the order (740, lower), (741, upper),
// (740, upper), (741, lower). Each row is rounded from its own difference, as a tie may round
// either way.
void PlotDot(Surface& s, int x, int top, long double offset, Colour colour) {
    const int lowerRow = RoundToPixel((top + 1) - offset);
    const int upperRow = RoundToPixel(top - offset);
    const int next = x + 1 == kChartWidth ? 0 : x + 1;
    SetPixel(s, x, lowerRow, colour);
    SetPixel(s, next, upperRow, colour);
    SetPixel(s, x, upperRow, colour);
    SetPixel(s, next, lowerRow, colour);
}

}  // namespace

void DrawPpsTrace(Display& d, int k, long double pps) {
    const int x = kPpsTracePixelsPerSample * k;
    const int y = RoundToPixel(kPpsTraceZeroY - kPpsTracePixelsPerFullScale * pps);
    TracePoint(d.ScopeWorkSurface, d.ScopeLastX, d.ScopeLastY, x, y, k == 0);
}

void DrawClickTrace(Display& d, int n, long double i, long double q) {
    const int x = kClickTracePixelsPerSample * n;
    const int y =
        RoundToPixel(kClickTraceZeroY - kClickTracePixelsPerFullScale * std::sqrt(i * i + q * q));
    TracePoint(d.ScopeWorkSurface, d.ClickTraceX, d.ClickTraceY, x, y, n == 0);
}

void ShowScope(Display& d) {
    BlockCopy(d.ScopeWorkSurface, 0, 0, kScopeSurfaceSize, kScopeSurfaceSize, d.ScopePanel, 0, 0);
    BlockCopy(d.ScopeBackSurface, 0, 0, kScopeSurfaceSize, kScopeSurfaceSize, d.ScopeWorkSurface, 0,
              0);
}

void ShowVectorscope(Display& d) {
    BlockCopy(d.VectorSurface, 0, 0, kVectorSecondCopy, kVectorSecondCopy, d.VectorPanel, 0, 0);
}

void PlotPeriod(Display& d, long double phase, long double level) {
    Surface& trace = d.ChartTraceSurface;
    const int x = RingColumn(d, kPeriodDotX);
    if (d.Drawing) {
        PlotDot(trace, x, kPhaseZeroRow, kPhasePixelsPerRadian * phase, kPhaseDotColour);
        PlotDot(trace, x, kPhaseZeroRow + kPhaseCopyOffset, kPhasePixelsPerRadian * phase,
                kPhaseDotColour);
        PlotDot(trace, x, kLevelZeroRow, level, kLevelDotColour);
    }
    d.TickCount = (d.TickCount + 1) % kTickEvery;
    if (d.TickCount == 0 && d.Drawing) {
        for (int y = kTickBottom; y >= kTickTop; --y) SetPixel(trace, x, y, kTickColour);
    }
}

void ScrollChart(Display& d, int integrationSeconds, const std::string& now, bool showNow) {
    // Every column moves one to the left and the rightmost keeps its pixels: the ring turns by
    // one column, and the column that comes round to the right edge takes the pixels of the one
    // that was there.
    Surface& trace = d.ChartTraceSurface;
    const int lastBefore = RingColumn(d, kChartWidth - 1);
    d.ChartScroll = d.ChartScroll + 1 == kChartWidth ? 0 : d.ChartScroll + 1;
    const int last = RingColumn(d, kChartWidth - 1);
    if (trace.Width == kChartWidth) {
        for (int y = 0; y < trace.Height; ++y) {
            Colour* row = &trace.Pixels[static_cast<size_t>(y) * kChartWidth];
            row[last] = row[lastBefore];
        }
    }
    // Without panels no one sees the chart panel, and a capture composes the chart afresh. The
    // panel owed before is owed no more: this one shows the chart as it now is.
    if (!d.PanelsShown) return;
    d.ChartPanelOwed = true;
    d.ChartPanelTime = now;
    d.ChartPanelSeconds = integrationSeconds;
    if (showNow) ShowChartPanel(d);
}

bool CountChartColumn(Display& d) {
    d.ChartColumn = (d.ChartColumn + 1) % kChartColumns;
    return d.ChartColumn == kCaptureColumn;
}

}  // namespace qv
