// The rules every toolkit's window follows.
#include "app/window_rules.h"

#include <algorithm>

#include "app/window.h"
#include "capture/device_list.h"

namespace qv {

namespace {

constexpr int kLabelLineHeight = 15;  // [pixels] a one-line label of the control table

int InsetWidth(const CaptionInset& inset, int scale, int size) {
    return inset.Pixels + inset.PerScale * scale + inset.PerFontSize * size;
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
    auto room = [&](const PixelRect& r, const CaptionInset& inset) {
        return r.W - InsetWidth(inset, scale, size);
    };
    std::vector<Caption> captions;
    for (const ControlSpec& c : kControls) {
        const PixelRect r = ControlRect(c, scale);
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
                                    kDeviceListClosedHeight * scale, false});
                break;
            case ControlKind::Panel:
            case ControlKind::GroupBox:
                break;
        }
    }
    return captions;
}

ControlFont SearchControlFont(int scale, const FontSearch& search, const CaptionsFit& fit) {
    for (int size = search.LargestSize * scale; size >= search.SmallestSize * scale; --size) {
        const std::vector<Caption> captions = ControlCaptions(scale, size, search.Insets);
        for (int face = 0; face < search.FaceCount; ++face) {
            if (fit({face, size}, captions)) return {face, size};
        }
    }
    return {search.FallbackFace, search.SmallestSize * scale};
}

}  // namespace qv
