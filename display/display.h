// The panels' off-screen surfaces, the panel buffers that stand for the window, and the
// drawing of the panels' fixed content (chart frame, click-scope background, empty I/Q panel).
#pragma once

#include <string>

#include "display/raster.h"

namespace qv {

constexpr int kScopeSurfaceSize = 170;   // [pixels] both scope surfaces and the I/Q surface
constexpr int kChartWidth = 768;         // [pixels]
constexpr int kChartHeight = 340;        // [pixels]
constexpr int kVectorCentre = 85;        // [pixels] origin of the I/Q plane
constexpr int kVectorSecondCopy = 167;   // [pixels] square shown once a second
constexpr int kVectorRepaintCopy = 168;  // [pixels] square shown at a repaint
constexpr int kChartColumns = 740;       // periods on the chart
constexpr int kCaptureColumn = 739;      // automatic capture when the column count reaches this

// Panel controls: outer size; the drawable client area is 2 pixels smaller (sunken border).
constexpr int kScopePanelWidth = 128, kScopePanelHeight = 170;
constexpr int kVectorPanelSize = 170;
constexpr int kChartPanelWidth = 768, kChartPanelHeight = 340;

struct Rect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

struct Display {
    // parameters
    int DotsPerInch = 96;  // screen resolution for the label fonts
    // false: the chain draws nothing into the surfaces (a batch run that writes no picture,
    // and to measure what drawing costs)
    bool Drawing = true;
    // false: no scope or I/Q panel is ever shown (a batch run that writes no panels), so the
    // chain leaves out what only they show: the scope's traces, the vectorscope's dots and the
    // chart panel's copy at each period. The chart, which a capture or a chart file shows, is
    // drawn all the same.
    bool PanelsShown = true;

    // state
    Surface ScopeBackSurface;  // scope background with the click-position marker
    Surface ScopeWorkSurface;  // background plus the current second's traces
    Surface VectorSurface;     // I/Q axes, labels and the vectorscope dots
    // The chart's dots and ticks as a ring of columns, so that a scroll moves no pixels: chart
    // column x is column (x + ChartScroll) mod 768 of this surface. CopyChartTrace gives the
    // chart as it stands.
    Surface ChartTraceSurface;
    int ChartScroll = 0;  // [pixels, 0..767] ring column of the chart's column 0
    // The chart panel owed since the last scroll, when its host did not show it at once: the
    // chart composed with the frame of that scroll's time and integration time. ShowChartPanel
    // pays it; what changes the chart's picture otherwise (a clear, a start) pays it first.
    bool ChartPanelOwed = false;
    std::string ChartPanelTime;   // hh:mm:ss the owed panel's frame says
    int ChartPanelSeconds = 0;    // [s] the owed panel's integration time
    Surface ChartComposeSurface;  // trace with the chart frame drawn over it
    Surface CaptureSurface;       // the composed chart at a capture
    // What the panel windows show: their client areas.
    Surface ScopePanel;
    Surface VectorPanel;
    Surface ChartPanel;
    Rect ScopeRect;               // the scope panel's client rectangle
    int VectorMagnification = 1;  // divisor M of the vectorscope: 1, 10, 100 or 1000
    std::string ChartStartTime;   // hh:mm:ss of the last start or clear; empty before
    int ChartColumn = 0;          // closed periods modulo 740 since the chart was last cleared
    int TickCount = 0;            // closed periods modulo 10, never reset
    // [pixels] the previous point of the PPS trace and the end of the last RF click segment
    int ScopeLastX = 0, ScopeLastY = 0;
    int ClickTraceX = 0, ClickTraceY = 0;
};

// Panel-buffer and surface creation with the start-up drawing (first four creation steps):
// empty I/Q panel, white chart surfaces with the frame, scope background.
void CreateDisplaySurfaces(Display& d, int integrationSeconds, const std::string& now);
// The last two creation steps: the trace pen into ScopeWorkSurface, the white CaptureSurface.
void CompleteDisplaySurfaces(Display& d);

// Empty I/Q panel; restarts the chart column. The caller zeroes the vectorscope sums.
void ClearVectorscope(Display& d);

// The chart's grid, labels and text line, drawn onto `target`.
void DrawChartFrame(Display& d, Surface& target, int integrationSeconds, const std::string& now);
// The chart's trace as it stands onto `target` at (0, 0), clipped to it.
void CopyChartTrace(const Display& d, Surface& target);
// Trace onto ChartComposeSurface with the frame drawn over it.
void ComposeChart(Display& d, int integrationSeconds, const std::string& now);
// The chart composed afresh and copied onto CaptureSurface, ready to be written to a file.
void ComposeCapture(Display& d, int integrationSeconds, const std::string& now);
// The owed chart panel composed and copied onto ChartPanel; nothing when none is owed.
void ShowChartPanel(Display& d);
// "Clear display": restart the column count and the start time, white trace and capture.
void ClearChart(Display& d, int integrationSeconds, const std::string& now);

// The scope background within rectangle r of surface s (start-up geometry).
void DrawScopeBackground(Display& d, Surface& s, Rect r);
// The scope background on ScopeBackSurface over the whole scope control (128 x 170), not only
// its client area as at start-up.
void RedrawScopeBackground(Display& d);
// Dotted click-position marker on ScopeBackSurface at x = 2 * clickPosition.
void DrawClickMarker(Display& d, int clickPosition);

// At the window's close: the scope surfaces are deleted (drawing on them does nothing after).
void ReleaseDisplaySurfaces(Display& d);

// Copies every surface to its panel as a repaint does, dropping the unfinished second's traces.
void RepaintPanels(Display& d, int integrationSeconds, const std::string& now);

}  // namespace qv
