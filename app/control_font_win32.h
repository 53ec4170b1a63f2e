// The controls' font as a GDI font, at the face and size ChooseControlFont picked on Windows.
#pragma once

#include <windows.h>

#include "app/control_font.h"

// wingdi's printer query: in this program DeviceCapabilities is the capture's device record.
#undef DeviceCapabilities

namespace qv {

HFONT CreateControlFont(const ControlFont& font);

}  // namespace qv
