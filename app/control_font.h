// The controls' font: a face and pixel size at which every caption, every read-out at its
// longest and the device list's longest entry fit their boxes of the control table, at the
// window's UI scale. Measured with FLTK's fl_width, so it needs an open display.
#pragma once

#include <string>
#include <vector>

namespace qv {

// One text a control shows and the room its box leaves for it [pixels, at the UI scale].
struct Caption {
    std::string Text;
    int Width;   // for the text (the box less its frame, insets and check mark)
    int Height;  // for all its lines
    bool Wraps;  // a two-line label: words wrap at Width
};

// Every text of the controls, with the room it has at `scale` (1, 2, ...) and font size
// `size` [pixels]: captions, read-outs at their longest realistic values, entry fields'
// initial texts and the device list's longest entry.
std::vector<Caption> ControlCaptions(int scale, int size);

// Whether `caption` fits its room in FLTK's current font (fl_font).
bool CaptionFits(const Caption& caption);

struct ControlFont {
    int Face;  // Fl_Font
    int Size;  // [pixels]
};

// The largest size from 10 * scale pixels down (to 6 * scale at the least) at which every
// caption fits, in the plain sans face or else a condensed one.
ControlFont ChooseControlFont(int scale);

}  // namespace qv
