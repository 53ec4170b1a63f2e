// The window's icon as plain pixels, so that only the FLTK layer needs to know how a window
// shows it (Fl_RGB_Image with depth 4, then Fl_Window::icon).
#pragma once

namespace qv {

constexpr int kWindowIconSize = 48;  // [pixels] width and height

// Straight RGBA, 4 bytes a pixel, rows from the top: the installed 48 x 48 icon's pixels.
extern const unsigned char kWindowIconRgba[kWindowIconSize * kWindowIconSize * 4];

}  // namespace qv
