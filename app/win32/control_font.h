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

// The largest size from 11 * scale pixels (8 points at 96 dots per inch) down to 8 * scale at
// which every caption fits, in the first face of the dialog fonts that fits it.
ControlFont ChooseControlFont(int scale);

HFONT CreateControlFont(const ControlFont& font);

}  // namespace qv
