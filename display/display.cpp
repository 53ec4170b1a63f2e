// The panels' surfaces and their fixed content: chart frame, click-scope background, I/Q panel.
#include "display/display.h"

#include "common/numbers.h"
#include "display/text.h"
#include "display/traces.h"

namespace qv {

namespace {

constexpr int kSmallLabelPoints = 8;   // scope labels and all chart text
constexpr int kLargeLabelPoints = 10;  // I/Q labels

const Colour kScopeDividerColour = MakeColour(192, 0, 0);
const Colour kYellow = MakeColour(255, 255, 0);
const Colour kCyan = MakeColour(0, 255, 255);
const Colour kAxisGreen = MakeColour(0, 255, 0);
const Colour kRed = MakeColour(255, 0, 0);
const Colour kPhaseLabelColour = MakeColour(0, 128, 0);
const Colour kLevelColour = MakeColour(128, 0, 0);
const Colour kPhaseGridColour = MakeColour(0, 192, 0);
const Colour kLevelGridColour = MakeColour(192, 0, 0);

void Line(Surface& s, int x0, int y0, int x1, int y1) {
    MoveTo(s, x0, y0);
    LineTo(s, x1, y1);
}

// The left edge of the chart's ticks and start-time text of `width` pixels: x = 560 while
// 10 x T has at most five digits (the cell then ends at most 2 pixels past the chart, which
// costs the last digit its rightmost column of ink, as it always has). A longer text (T of
// 10000 s and more) would lose the start time's last digits: it ends at the chart's edge.
int TicksTextLeft(int width) {
    constexpr int kLeft = 560, kFurthestEnd = kChartWidth + 2;  // [pixels]
    return kLeft + width <= kFurthestEnd ? kLeft : kChartWidth - width;
}

void Label(Display& d, Surface& s, int points, Colour colour, int x, int y, std::string_view text) {
    s.TextColour = colour;
    SelectFont(s, MakeLabelFont(points, d.DotsPerInch));
    DrawText(s, x, y, text);
}

}  // namespace

void CreateDisplaySurfaces(Display& d, int integrationSeconds, const std::string& now) {
    d.ChartPanelOwed = false;
    d.ScopePanel = Surface(kScopePanelWidth - 2, kScopePanelHeight - 2);
    d.ScopeRect = Rect{0, 0, d.ScopePanel.Width, d.ScopePanel.Height};

    d.VectorPanel = Surface(kVectorPanelSize - 2, kVectorPanelSize - 2);
    d.VectorSurface = Surface(kScopeSurfaceSize, kScopeSurfaceSize);
    ClearVectorscope(d);

    d.ChartPanel = Surface(kChartPanelWidth - 2, kChartPanelHeight - 2);
    d.ChartTraceSurface = Surface(kChartWidth, kChartHeight);
    FillWhite(d.ChartTraceSurface, 0, 0, kChartWidth, kChartHeight);
    d.ChartComposeSurface = Surface(kChartWidth, kChartHeight);
    FillWhite(d.ChartComposeSurface, 0, 0, kChartWidth, kChartHeight);
    DrawChartFrame(d, d.ChartComposeSurface, integrationSeconds, now);

    d.ScopeBackSurface = Surface(kScopeSurfaceSize, kScopeSurfaceSize);
    d.ScopeWorkSurface = Surface(kScopeSurfaceSize, kScopeSurfaceSize);
    DrawScopeBackground(d, d.ScopeBackSurface, d.ScopeRect);
}

void CompleteDisplaySurfaces(Display& d) {
    // Stays selected for the program's life: both click traces are drawn with it.
    SelectPen(d.ScopeWorkSurface, Pen{kCyan, PenStyle::Solid});
    d.CaptureSurface = Surface(kChartWidth, kChartHeight);
    FillWhite(d.CaptureSurface, 0, 0, kChartWidth, kChartHeight);
}

void ClearVectorscope(Display& d) {
    d.ChartColumn = 0;
    Surface& s = d.VectorSurface;
    FillWhite(s, 0, 0, kVectorRepaintCopy, kVectorRepaintCopy);
    SelectPen(s, Pen{kAxisGreen, PenStyle::Solid});
    Line(s, 0, kVectorCentre, kScopeSurfaceSize, kVectorCentre);
    Line(s, kVectorCentre, 0, kVectorCentre, kScopeSurfaceSize);
    Label(d, s, kLargeLabelPoints, kRed, 86, 1, "IntQ");
    DrawText(s, 144, 86, "IntI");
}

void DrawChartFrame(Display& d, Surface& target, int integrationSeconds, const std::string& now) {
    Label(d, target, kSmallLabelPoints, kPhaseLabelColour, 740, 138, " 180");
    DrawText(target, 740, 170, "   0");
    DrawText(target, 740, 203, "-180");

    Label(d, target, kSmallLabelPoints, kLevelColour, 735, 5, "  0dB");
    DrawText(target, 735, 37, "-30dB");
    DrawText(target, 735, 70, "-60dB");
    DrawText(target, 735, 103, "-90dB");

    SelectPen(target, Pen{kPhaseGridColour, PenStyle::Dot});
    for (int y : {145, 177, 210}) Line(target, 0, y, 736, y);
    SelectPen(target, Pen{kLevelGridColour, PenStyle::Dot});
    for (int y : {13, 45, 77, 109}) Line(target, 0, y, 731, y);

    const long long t = integrationSeconds;
    const std::string ticks =
        "Ticks at " + FormatBlankSigned(10 * t) + " secs     Start time = " + d.ChartStartTime;
    DrawText(target, TicksTextLeft(TextWidth(target.SelectedFont.PixelHeight, ticks)), 315, ticks);
    DrawText(target, 10, 315, "Current time = " + now);
    DrawText(target, 300, 315, "Integration time = " + FormatBlankSigned(t) + " secs");
}

void CopyChartTrace(const Display& d, Surface& target) {
    // The chart's columns 0 .. split - 1 lie at the ring's end, the rest at its start.
    const int split = kChartWidth - d.ChartScroll;
    BlockCopy(d.ChartTraceSurface, d.ChartScroll, 0, split, kChartHeight, target, 0, 0);
    BlockCopy(d.ChartTraceSurface, 0, 0, d.ChartScroll, kChartHeight, target, split, 0);
}

void ComposeChart(Display& d, int integrationSeconds, const std::string& now) {
    CopyChartTrace(d, d.ChartComposeSurface);
    DrawChartFrame(d, d.ChartComposeSurface, integrationSeconds, now);
}

void ComposeCapture(Display& d, int integrationSeconds, const std::string& now) {
    ComposeChart(d, integrationSeconds, now);
    BlockCopy(d.ChartComposeSurface, 0, 0, kChartWidth, kChartHeight, d.CaptureSurface, 0, 0);
}

void ShowChartPanel(Display& d) {
    if (!d.ChartPanelOwed) return;
    d.ChartPanelOwed = false;
    ComposeChart(d, d.ChartPanelSeconds, d.ChartPanelTime);
    BlockCopy(d.ChartComposeSurface, 0, 0, kChartWidth, kChartHeight, d.ChartPanel, 0, 0);
}

void ClearChart(Display& d, int integrationSeconds, const std::string& now) {
    ShowChartPanel(d);  // the panel keeps showing the chart as it was
    d.ChartColumn = 0;
    d.ChartStartTime = now;
    DrawChartFrame(d, d.ChartComposeSurface, integrationSeconds, now);
    FillWhite(d.ChartTraceSurface, 0, 0, kChartWidth, kChartHeight);
    FillWhite(d.CaptureSurface, 0, 0, kChartWidth, kChartHeight);
}

void DrawScopeBackground(Display& d, Surface& s, Rect r) {
    const int w = r.Right, h = r.Bottom;
    FillBlack(s, r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
    const int m = h / 2;
    SelectPen(s, Pen{kScopeDividerColour, PenStyle::Solid});
    Line(s, 0, m, w, m);
    SelectPen(s, Pen{kYellow, PenStyle::Solid});
    Line(s, kPpsEdgeMarkerX, h, kPpsEdgeMarkerX, RoundToPixel(h / 2.0L));
    Label(d, s, kSmallLabelPoints, kYellow, 1, m - 15, "RF click");
    DrawText(s, 1, h - 15, "PPS click");
}

void RedrawScopeBackground(Display& d) {
    DrawScopeBackground(d, d.ScopeBackSurface, Rect{0, 0, kScopePanelWidth, kScopePanelHeight});
}

void DrawClickMarker(Display& d, int clickPosition) {
    Surface& s = d.ScopeBackSurface;
    Pen previous = SelectPen(s, Pen{kYellow, PenStyle::Dot});
    const int x = kClickTracePixelsPerSample * clickPosition;
    Line(s, x, RoundToPixel(d.ScopeRect.Bottom / 2.0L), x, d.ScopeRect.Top);
    SelectPen(s, previous);
}

void ReleaseDisplaySurfaces(Display& d) {
    d.ScopeBackSurface = Surface();
    d.ScopeWorkSurface = Surface();
}

void RepaintPanels(Display& d, int integrationSeconds, const std::string& now) {
    d.ChartPanelOwed = false;  // the chart panel is drawn afresh below
    const int w = d.ScopeRect.Right, h = d.ScopeRect.Bottom;
    BlockCopy(d.ScopeBackSurface, 0, 0, w, h, d.ScopeWorkSurface, 0, 0);
    BlockCopy(d.ScopeWorkSurface, 0, 0, w, h, d.ScopePanel, 0, 0);
    BlockCopy(d.VectorSurface, 0, 0, kVectorRepaintCopy, kVectorRepaintCopy, d.VectorPanel, 0, 0);
    CopyChartTrace(d, d.ChartPanel);
    DrawChartFrame(d, d.ChartPanel, integrationSeconds, now);
}

}  // namespace qv
