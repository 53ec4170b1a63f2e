// The measurement's traces and dots on the panel surfaces.
#include "display/traces.h"

#include <cmath>

#include "common/numbers.h"

namespace qv {

namespace {

const Colour kPhaseDotColour = MakeColour(255, 0, 0);
const Colour kLevelDotColour = MakeColour(0, 0, 255);
const Colour kTickColour = MakeColour(255, 0, 0);

// A 2 x 2 dot at x = 740..741 covering the rows ROUND(top - offset) and
// ROUND(top + 1 - offset), set in the order (740, lower), (741, upper), (740, upper),
// (741, lower). Each row is rounded from its own difference, as a tie may round either way.
void PlotDot(Surface& s, int top, long double offset, Colour colour) {
    const int lowerRow = RoundToPixel((top + 1) - offset);
    const int upperRow = RoundToPixel(top - offset);
    SetPixel(s, kPeriodDotX, lowerRow, colour);
    SetPixel(s, kPeriodDotX + 1, upperRow, colour);
    SetPixel(s, kPeriodDotX, upperRow, colour);
    SetPixel(s, kPeriodDotX + 1, lowerRow, colour);
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

void PlotVectorPoint(Display& d, long double vectorI, long double vectorQ) {
    // Dividing by 1 changes nothing, so the default magnification skips the two divisions.
    if (d.VectorMagnification != 1) {
        const long double magnification = d.VectorMagnification;
        vectorI = vectorI / magnification;
        vectorQ = vectorQ / magnification;
    }
    SetPixel(d.VectorSurface, RoundToPixel(vectorI + kVectorCentre),
             RoundToPixel(kVectorCentre - vectorQ), kBlack);
}

void ShowVectorscope(Display& d) {
    BlockCopy(d.VectorSurface, 0, 0, kVectorSecondCopy, kVectorSecondCopy, d.VectorPanel, 0, 0);
}

void PlotPeriod(Display& d, long double phase, long double level) {
    Surface& trace = d.ChartTraceSurface;
    if (d.Drawing) {
        PlotDot(trace, kPhaseZeroRow, kPhasePixelsPerRadian * phase, kPhaseDotColour);
        PlotDot(trace, kPhaseZeroRow + kPhaseCopyOffset, kPhasePixelsPerRadian * phase,
                kPhaseDotColour);
        PlotDot(trace, kLevelZeroRow, level, kLevelDotColour);
    }
    d.TickCount = (d.TickCount + 1) % kTickEvery;
    if (d.TickCount == 0 && d.Drawing) {
        for (int y = kTickBottom; y >= kTickTop; --y) SetPixel(trace, kPeriodDotX, y, kTickColour);
    }
}

void ScrollChart(Display& d, int integrationSeconds, const std::string& now) {
    Surface& trace = d.ChartTraceSurface;
    BlockCopy(trace, 1, 0, kChartWidth, kChartHeight, trace, 0, 0);
    // Without panels no one sees the chart panel, and a capture composes the chart afresh.
    if (!d.PanelsShown) return;
    ComposeChart(d, integrationSeconds, now);
    BlockCopy(d.ChartComposeSurface, 0, 0, kChartWidth, kChartHeight, d.ChartPanel, 0, 0);
}

bool CountChartColumn(Display& d) {
    d.ChartColumn = (d.ChartColumn + 1) % kChartColumns;
    return d.ChartColumn == kCaptureColumn;
}

}  // namespace qv
