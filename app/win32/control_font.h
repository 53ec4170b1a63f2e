// The controls' font in Win32: the dialog font's face at 8 points, measured with GDI to fit the
// control table, else smaller, else a narrower face; made a GDI font.
#pragma once

#include <windows.h>
// wingdi's printer query: in this program DeviceCapabilities is the capture's device record.
#undef DeviceCapabilities

#include "app/window_rules.h"

namespace qv {

// Whether `caption` fits its room in the font selected into the measuring context.
bool CaptionFits(const Caption& caption);

// The largest size from 11 pixels (8 points at 96 dots per inch) down to 8, times the control
// scale and rounded, at which every caption fits, in the first face of the dialog fonts that
// fits it.
ControlFont ChooseControlFont(const WindowScaling& scaling);

HFONT CreateControlFont(const ControlFont& font);

// [pixels] the height of a line of `font`, as a control lays out its text.
int ControlFontLineHeight(HFONT font);

// [pixels at 96 dots per inch] the check box's or option's mark, as the system's controls draw
// it without visual styles.
constexpr int kCheckMarkSize = 13;

}  // namespace qv
