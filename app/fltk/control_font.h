// The controls' font in FLTK: a face and pixel size at which every caption, every read-out at
// its longest and the device list's longest entry fit their boxes of the control table, at the
// window's UI scale. Measured with FLTK's fl_width, so it needs an open display.
#pragma once

#include "app/window_rules.h"

namespace qv {

constexpr int kFltkLabelInset = 3;  // [pixels] FLTK draws a label this far inside its box

// The room FLTK's controls take from their boxes: a label's inset, a button's or entry field's
// frame (2 pixels each side) and inset, a check mark one font size square with 2 pixels either
// side, the device list's 20-pixel drop-down button. FLTK draws them the same at every scale.
inline constexpr CaptionInsets kFltkCaptionInsets{
    .Label = {.Pixels = 2 * kFltkLabelInset},
    .Button = {.Pixels = 2 * (2 + kFltkLabelInset)},
    .Mark = {.Pixels = 2 * 2 + 2 * kFltkLabelInset, .PerFontSize = 1},
    .Entry = {.Pixels = 2 * (2 + kFltkLabelInset)},
    .DeviceList = {.Pixels = 20 + 2 * (2 + kFltkLabelInset)},
};

// Whether `caption` fits its room in FLTK's current font (fl_font).
bool CaptionFits(const Caption& caption);

// The largest size from 10 * scale pixels down (to 6 * scale at the least) at which every
// caption fits, in the plain sans face or else a condensed one. Face is an Fl_Font.
ControlFont ChooseControlFont(int scale);

}  // namespace qv
