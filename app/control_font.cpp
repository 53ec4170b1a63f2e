// The controls' font, measured to fit the control table.
#include "app/control_font.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>

#include "app/controls.h"
#include "capture/device_list.h"

namespace qv {

namespace {

constexpr int kLabelInset = 3;    // [pixels] FLTK draws a label this far inside its box
constexpr int kFrame = 2;         // [pixels] a button's or entry field's frame, each side
constexpr int kListArrow = 20;    // [pixels] the device list's drop-down button
constexpr int kLargestSize = 10;  // [pixels at scale 1] as narrow as the 8-point dialog font
constexpr int kSmallestSize = 6;  // [pixels at scale 1]

// FLTK's faces for the condensed fonts: fontconfig names, a leading space for the plain style.
// Where one is missing fontconfig substitutes another, which is measured like any.
constexpr int kCondensedFaces[] = {FL_FREE_FONT, FL_FREE_FONT + 1};

void DefineCondensedFaces() {
    static bool defined = false;
    if (defined) return;
    Fl::set_font(kCondensedFaces[0], " DejaVu Sans Condensed");
    Fl::set_font(kCondensedFaces[1], " Liberation Sans Narrow");
    defined = true;
}

}  // namespace

std::vector<Caption> ControlCaptions(int scale, int size) {
    std::vector<Caption> captions;
    for (const ControlSpec& c : kControls) {
        // A control reaching past the client area is cut at its edge.
        const int w = std::min(c.W, kClientWidth - c.X) * scale, h = c.H * scale;
        switch (c.Kind) {
            case ControlKind::Label: {
                const char* longest = LongestReadout(c.Id);
                captions.push_back({longest != nullptr ? longest : c.Text, w - 2 * kLabelInset, h,
                                    h >= 2 * size + 4});
                break;
            }
            case ControlKind::Button:
                captions.push_back({c.Text, w - 2 * (kFrame + kLabelInset), h, false});
                break;
            case ControlKind::Check:
            case ControlKind::Option:  // the mark is one font size square, 2 pixels either side
                captions.push_back({c.Text, w - size - 2 * kFrame - 2 * kLabelInset, h, false});
                break;
            case ControlKind::Entry:
                captions.push_back({c.Text, w - 2 * (kFrame + kLabelInset), h, false});
                break;
            case ControlKind::DeviceList:
                captions.push_back({kSimulatorEntryName,
                                    w - kListArrow - 2 * (kFrame + kLabelInset),
                                    kDeviceListClosedHeight * scale, false});
                break;
            case ControlKind::Panel:
            case ControlKind::GroupBox:
                break;
        }
    }
    return captions;
}

bool CaptionFits(const Caption& caption) {
    int w = caption.Wraps ? caption.Width : 0, h = 0;
    fl_measure(caption.Text.c_str(), w, h, 0);
    return w <= caption.Width && h <= caption.Height;
}

ControlFont ChooseControlFont(int scale) {
    DefineCondensedFaces();
    const int faces[] = {FL_HELVETICA, kCondensedFaces[0], kCondensedFaces[1]};
    for (int size = kLargestSize * scale; size >= kSmallestSize * scale; --size) {
        const std::vector<Caption> captions = ControlCaptions(scale, size);
        for (const int face : faces) {
            fl_font(face, size);
            if (std::all_of(captions.begin(), captions.end(), CaptionFits)) return {face, size};
        }
    }
    return {kCondensedFaces[0], kSmallestSize * scale};
}

}  // namespace qv
