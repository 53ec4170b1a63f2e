// The rules every toolkit's window follows.
#include "app/window_rules.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/window.h"
#include "capture/device_list.h"

namespace qv {

namespace {

constexpr int kLabelLineHeight = 15;  // [pixels] a one-line label of the control table

// The nearest whole pixel, halves up, so that a scaling's rectangles do not depend on the
// rounding mode.
int Nearest(double pixels) { return static_cast<int>(std::floor(pixels + 0.5)); }

// ---------------------------------------------------------------------------------------------
// The two bands of the window at a window scaling

// One axis of a band: table pixels to client pixels, the panels' spans [table pixels,
// half-open, ascending] at the panel scale and the rest at the control scale, table 0 at
// `Origin` [client pixels, unrounded].
struct BandAxis {
    double Controls;
    int Panels;
    double Origin;
    std::vector<std::pair<int, int>> Spans;

    double Pixel(double t) const {
        double covered = 0;
        for (const auto& [a, b] : Spans) covered += std::clamp(t, double(a), double(b)) - a;
        return Origin + Controls * t + (Panels - Controls) * covered;
    }
    // The table point of client pixel `p`: the largest t whose pixel rounds to p or less, and
    // within a panel's span its whole panel pixels (the panel starts at its rounded pixel).
    int Table(int p) const {
        double from = 0, fromPixel = Origin;
        for (const auto& [a, b] : Spans) {
            const int start = Nearest(Pixel(a));
            if (p < start) break;
            if (p < start + Panels * (b - a)) return a + DivideDown(p - start, Panels);
            from = b;
            fromPixel = Pixel(b);
        }
        return static_cast<int>(from + std::ceil((p + 0.5 - fromPixel) / Controls)) - 1;
    }
};

bool IsPanel(const ControlSpec& c) { return c.Kind == ControlKind::Panel; }

// The lower band is the chart's.
const ControlSpec& Chart() { return *FindControl(IDDISPLAY); }
bool InUpperBand(const ControlSpec& c) { return c.Y < Chart().Y; }

// The control's height as laid out: the device list closed.
int LaidOutHeight(const ControlSpec& c) {
    return c.Kind == ControlKind::DeviceList ? kDeviceListClosedHeight : c.H;
}

BandAxis UpperX(const WindowScaling& s) {
    BandAxis axis{s.Controls, s.Panels, 0, {}};
    for (const ControlSpec& c : kControls) {
        if (IsPanel(c) && InUpperBand(c)) axis.Spans.emplace_back(c.X, c.X + c.W);
    }
    std::sort(axis.Spans.begin(), axis.Spans.end());
    return axis;
}

// Across the upper band's panels (`panels`), or beside them.
BandAxis UpperY(const WindowScaling& s, bool panels) {
    BandAxis axis{s.Controls, s.Panels, 0, {}};
    if (!panels) return axis;
    for (const ControlSpec& c : kControls) {
        if (IsPanel(c) && InUpperBand(c)) axis.Spans = {{c.Y, c.Y + c.H}};
    }
    return axis;
}

// [pixels, unrounded] the foot of the upper band's lowest control or panel.
double UpperFoot(const WindowScaling& s) {
    const BandAxis y = UpperY(s, true);
    double foot = 0;
    for (const ControlSpec& c : kControls) {
        if (!InUpperBand(c)) continue;
        foot = std::max(foot, IsPanel(c) ? y.Pixel(c.Y) + s.Panels * c.H
                                         : s.Controls * (c.Y + LaidOutHeight(c)));
    }
    return foot;
}

// The lower band: the chart where the upper band's foot leaves it, the table's gap between them
// at the control scale.
BandAxis LowerX(const WindowScaling& s) {
    const ControlSpec& chart = Chart();
    return {s.Controls, s.Panels, 0, {{chart.X, chart.X + chart.W}}};
}
BandAxis LowerY(const WindowScaling& s) {
    const ControlSpec& chart = Chart();
    const double top = UpperFoot(s) + s.Controls * (chart.Y - UpperFoot(WindowScaling{}));
    return {s.Controls, s.Panels, top - s.Controls * chart.Y, {{chart.Y, chart.Y + chart.H}}};
}

}  // namespace

UiScale ChooseUiScale(int givenScale, int dotsPerInch, int screenDotsPerInch, int workWidth,
                      int workHeight, int menuBarHeight) {
    if (screenDotsPerInch >= 50 && screenDotsPerInch <= 600) dotsPerInch = screenDotsPerInch;
    // The ratio to 96 rounded half up: (dpi + 48) / 96 in whole numbers.
    const int screenScale = std::max(1, (dotsPerInch + 48) / 96);
    int scale = givenScale > 0 ? givenScale : screenScale;
    const int windowHeight = menuBarHeight + kClientHeight + kStatusLineHeight;
    while (givenScale == 0 && scale > 1 &&
           (kClientWidth * scale > workWidth || windowHeight * scale > workHeight)) {
        --scale;
    }
    if (scale > 1 || screenScale > 1) dotsPerInch = 96;
    return {scale, dotsPerInch};
}

WindowScaling ChooseWindowScaling(int givenScale, int dotsPerInch, int screenDotsPerInch,
                                  int workWidth, int workHeight, int menuBarHeight) {
    if (givenScale > 0) {
        const UiScale whole = ChooseUiScale(givenScale, dotsPerInch, screenDotsPerInch, workWidth,
                                            workHeight, menuBarHeight);
        return {double(whole.Scale), whole.Scale, whole.DotsPerInch};
    }
    const int screen =
        screenDotsPerInch >= 50 && screenDotsPerInch <= 600 ? screenDotsPerInch : dotsPerInch;
    WindowScaling s;
    const int wholeScale = std::max(1, (screen + 48) / 96);  // the ratio to 96, rounded half up
    s.Controls = std::max(1.0, screen / 96.0);
    s.Panels = wholeScale;
    auto fits = [&] {
        const ClientLayout client = ClientSize(s);
        return client.Width <= workWidth &&
               menuBarHeight + client.TableHeight + client.StatusHeight <= workHeight;
    };
    while (s.Panels > 1 && !fits()) --s.Panels;
    // As ChooseUiScale: magnified, or where the panels had to stay small, they are drawn as at
    // 96 dots per inch.
    s.DotsPerInch = s.Panels > 1 || wholeScale > 1 ? 96 : screen;
    return s;
}

PixelRect ControlRect(const ControlSpec& c, const WindowScaling& s) {
    const int w = std::min(c.W, kClientWidth - c.X);
    const bool upper = InUpperBand(c);
    const BandAxis x = upper ? UpperX(s) : LowerX(s);
    const BandAxis y = upper ? UpperY(s, IsPanel(c)) : LowerY(s);
    const int left = Nearest(x.Pixel(c.X)), top = Nearest(y.Pixel(c.Y));
    if (IsPanel(c)) return {left, top, w * s.Panels, c.H * s.Panels};
    return {left, top, Nearest(x.Pixel(c.X + w)) - left, Nearest(y.Pixel(c.Y + c.H)) - top};
}

ClientLayout ClientSize(const WindowScaling& s) {
    const double width = std::max(UpperX(s).Pixel(kClientWidth), LowerX(s).Pixel(kClientWidth));
    return {Nearest(width), Nearest(LowerY(s).Pixel(kClientHeight)),
            Nearest(s.Controls * kStatusLineHeight)};
}

TablePoint TablePointAt(int x, int y, const WindowScaling& s) {
    for (const ControlSpec& c : kControls) {
        if (!IsPanel(c)) continue;
        const PixelRect r = ControlRect(c, s);
        if (x >= r.X && x < r.X + r.W && y >= r.Y && y < r.Y + r.H) {
            return {c.X + DivideDown(x - r.X, s.Panels), c.Y + DivideDown(y - r.Y, s.Panels)};
        }
    }
    if (y >= ControlRect(Chart(), s).Y) return {LowerX(s).Table(x), LowerY(s).Table(y)};
    // Above the chart: in a panel's column the rows below it are beside no panel of the table.
    const BandAxis across = UpperX(s);
    const int tableX = across.Table(x);
    bool column = false;
    for (const auto& [a, b] : across.Spans) column = column || (tableX >= a && tableX < b);
    return {tableX, std::min(UpperY(s, column).Table(y), Chart().Y - 1)};
}

int DivideDown(int value, int divisor) {
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

PixelRect ControlRect(const ControlSpec& c, int scale) {
    return {c.X * scale, c.Y * scale, std::min(c.W, kClientWidth - c.X) * scale, c.H * scale};
}

bool LabelWraps(const ControlSpec& c) {
    return c.Kind == ControlKind::Label && c.H >= 2 * kLabelLineHeight;
}

PanelId PanelOf(const ControlSpec& c) {
    return c.Id == IDGRAPH ? PanelId::Scope : c.Id == IDVECTOR ? PanelId::Vector : PanelId::Chart;
}

const Surface& PanelSurface(const Display& screen, PanelId panel) {
    switch (panel) {
        case PanelId::Scope:
            return screen.ScopePanel;
        case PanelId::Vector:
            return screen.VectorPanel;
        case PanelId::Chart:
            break;
    }
    return screen.ChartPanel;
}

bool SurfaceFillsPanel(const Surface& s, int boxWidth, int boxHeight, int scale) {
    return !s.Pixels.empty() && s.Width * scale == boxWidth - 2 * scale &&
           s.Height * scale == boxHeight - 2 * scale;
}

std::vector<Caption> ControlCaptions(int scale, int size, const CaptionInsets& insets) {
    return ControlCaptions(WindowScaling{double(scale), scale, 96}, size, insets);
}

std::vector<Caption> ControlCaptions(const WindowScaling& scaling, int size,
                                     const CaptionInsets& insets) {
    const double scale = scaling.Controls;
    auto room = [&](const PixelRect& r, const CaptionInset& inset) {
        return r.W - inset.Pixels - Nearest(inset.PerScale * scale) - inset.PerFontSize * size;
    };
    std::vector<Caption> captions;
    for (const ControlSpec& c : kControls) {
        const PixelRect r = ControlRect(c, scaling);
        switch (c.Kind) {
            case ControlKind::Label: {
                const char* longest = LongestReadout(c.Id);
                captions.push_back({longest != nullptr ? longest : c.Text, room(r, insets.Label),
                                    r.H, LabelWraps(c)});
                break;
            }
            case ControlKind::Button:
                captions.push_back({c.Text, room(r, insets.Button), r.H, false});
                break;
            case ControlKind::Check:
            case ControlKind::Option:
                captions.push_back({c.Text, room(r, insets.Mark), r.H, false});
                break;
            case ControlKind::Entry:
                captions.push_back({c.Text, room(r, insets.Entry), r.H, false});
                break;
            case ControlKind::DeviceList:
                captions.push_back({kSimulatorEntryName, room(r, insets.DeviceList),
                                    Nearest(kDeviceListClosedHeight * scale), false});
                break;
            case ControlKind::Panel:
            case ControlKind::GroupBox:
                break;
        }
    }
    return captions;
}

ControlFont SearchControlFont(int scale, const FontSearch& search, const CaptionsFit& fit) {
    return SearchControlFont(WindowScaling{double(scale), scale, 96}, search, fit);
}

ControlFont SearchControlFont(const WindowScaling& scaling, const FontSearch& search,
                              const CaptionsFit& fit) {
    const int largest = Nearest(search.LargestSize * scaling.Controls);
    const int smallest = Nearest(search.SmallestSize * scaling.Controls);
    for (int size = largest; size >= smallest; --size) {
        const std::vector<Caption> captions = ControlCaptions(scaling, size, search.Insets);
        for (int face = 0; face < search.FaceCount; ++face) {
            if (fit({face, size}, captions)) return {face, size};
        }
    }
    return {search.FallbackFace, smallest};
}

}  // namespace qv
