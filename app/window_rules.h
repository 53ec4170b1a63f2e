// The rules every toolkit's window follows: the UI scale and its fitting to the screen, the
// controls' rectangles at that scale, which labels wrap, the texts the controls' font must fit
// and the order the font search tries sizes and faces in, and which surface a panel shows.
// The toolkits (app/fltk/, app/win32/) keep only their drawing and measuring calls.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/controls.h"
#include "chain/chain_host.h"
#include "display/display.h"

namespace qv {

// ---------------------------------------------------------------------------------------------
// The UI scale

struct UiScale {
    int Scale;        // every control's geometry, the bars and the fonts are this many times
                      // their table sizes; each panel pixel is shown as a square this wide
    int DotsPerInch;  // the panels are drawn as at this many dots per inch
};

// The UI scale: `givenScale` (--scale; 0: none given), or the screen's dots per inch over 96,
// rounded, at least 1. A scale from the screen shrinks until the window (its client area with
// a menu bar `menuBarHeight` and the status line, all at scale 1) fits the work area; a given
// one stays. `screenDotsPerInch` outside 50..600 is not believed: `dotsPerInch` stays. Scaled,
// or where the window had to stay small, the panels are drawn as at 96 dots per inch, so that
// their labels fit their surfaces as there, and shown magnified.
UiScale ChooseUiScale(int givenScale, int dotsPerInch, int screenDotsPerInch, int workWidth,
                      int workHeight, int menuBarHeight);

// Whole-pixel division rounding down, so that window points left of or above the client area
// map to table points outside it too.
int DivideDown(int value, int divisor);

// ---------------------------------------------------------------------------------------------
// Controls at the UI scale

struct PixelRect {
    int X, Y, W, H;  // [pixels] in the client area
};

// The control's rectangle at `scale`: a control reaching past the client area is cut at its
// edge, as the window would show it.
PixelRect ControlRect(const ControlSpec& control, int scale);

// Only a label two of the table's lines high wraps its words; a read-out stays on its one line.
bool LabelWraps(const ControlSpec& control);

// The panel a panel control shows, and that panel's surface in `screen`.
PanelId PanelOf(const ControlSpec& control);
const Surface& PanelSurface(const Display& screen, PanelId panel);

// Whether `surface`, magnified `scale` times, fills a panel box `boxWidth` x `boxHeight` pixels
// inside its one-pixel edge (itself `scale` pixels wide); a panel that does not is left blank.
bool SurfaceFillsPanel(const Surface& surface, int boxWidth, int boxHeight, int scale);

// ---------------------------------------------------------------------------------------------
// The window at the screen's own scaling (Win32)
//
// Windows scales by fractions (125 %, 150 %, 175 %): the controls, the status line and their
// font follow the screen's factor exactly, while the panels, drawn in pixels, are shown at the
// nearest whole factor so that each of their pixels stays a crisp square. The window is laid out
// in two bands, the click scope and the I/Q panel with the controls beside them, and the chart
// below: along each band the panels' spans grow at the panel scale and the rest at the control
// scale, and the chart moves down by whatever the upper band grew. With both scales equal this
// is the control table magnified, pixel for pixel.

struct WindowScaling {
    double Controls = 1;   // the controls' geometry, the status line and their font are this many
                           // times their table sizes
    int Panels = 1;        // each panel pixel is shown as a square this wide
    int DotsPerInch = 96;  // the panels are drawn as at this many dots per inch
};

// The window's scaling: `givenScale` (--scale; 0: none given) for everything, else the screen's
// dots per inch over 96 for the controls (at least 1) and the nearest whole factor for the
// panels, which shrinks until the window (its client area, a menu bar `menuBarHeight` high at
// the screen's factor, and the status line) fits the work area. `screenDotsPerInch` outside
// 50..600 is not believed: `dotsPerInch` stays. The panels' dots per inch as ChooseUiScale
// gives them for the panel scale.
WindowScaling ChooseWindowScaling(int givenScale, int dotsPerInch, int screenDotsPerInch,
                                  int workWidth, int workHeight, int menuBarHeight);

// A control's rectangle at `scaling`, cut at the client area's edge as the control table's is;
// the device list's includes its drop-down. A panel is its surface's size at the panel scale
// with its one-pixel edge.
PixelRect ControlRect(const ControlSpec& control, const WindowScaling& scaling);

// The client area at `scaling` [pixels]: the control table's part, and the status line across
// its foot.
struct ClientLayout {
    int Width, TableHeight, StatusHeight;
};
ClientLayout ClientSize(const WindowScaling& scaling);

// The control table's point under a client-area pixel: exact, whole panel pixels, over a panel;
// elsewhere the nearest table point, which is never inside a panel. The inverse of
// ControlRect's placing, rounding down as DivideDown does.
struct TablePoint {
    int X, Y;
};
TablePoint TablePointAt(int x, int y, const WindowScaling& scaling);

// ---------------------------------------------------------------------------------------------
// The controls' font

// One text a control shows and the room its box leaves for it [pixels, at the UI scale].
struct Caption {
    std::string Text;
    int Width;   // for the text (the box less its frame, insets and check mark)
    int Height;  // for all its lines
    bool Wraps;  // a two-line label: words wrap at Width
};

// Width a kind of control takes from its box for frames, insets and marks: fixed pixels, plus
// pixels that grow with the UI scale, plus font sizes (a mark one font size square).
struct CaptionInset {
    int Pixels = 0;
    int PerScale = 0;     // [pixels at scale 1]
    int PerFontSize = 0;  // [font sizes]
};
struct CaptionInsets {
    CaptionInset Label, Button, Mark /* check boxes and options */, Entry, DeviceList;
};

// Every text of the controls, with the room it has at `scale` (1, 2, ...) and font size `size`
// [pixels] in a toolkit that takes `insets`: captions, read-outs at their longest realistic
// values, entry fields' initial texts and the device list's longest entry.
std::vector<Caption> ControlCaptions(int scale, int size, const CaptionInsets& insets);
// The same at a window scaling, the insets' per-scale pixels at the control scale.
std::vector<Caption> ControlCaptions(const WindowScaling& scaling, int size,
                                     const CaptionInsets& insets);

struct ControlFont {
    int Face;  // the toolkit's face number
    int Size;  // [pixels]
};

// How a toolkit searches for the controls' font.
struct FontSearch {
    int LargestSize;   // [pixels at scale 1] tried first
    int SmallestSize;  // [pixels at scale 1] tried last
    int FaceCount;     // faces 0, 1, ... are tried at each size, in that order
    int FallbackFace;  // taken at the smallest size when nothing fits
    CaptionInsets Insets;
};

// Whether every caption fits its room in the toolkit's `font`.
using CaptionsFit = std::function<bool(const ControlFont& font, const std::vector<Caption>&)>;

// The largest size, from the largest down to the smallest (times `scale`), at which every
// caption fits in one of the faces, the earlier face first; else the fallback face at the
// smallest size.
ControlFont SearchControlFont(int scale, const FontSearch& search, const CaptionsFit& fit);
// The same at a window scaling: the sizes times the control scale, rounded.
ControlFont SearchControlFont(const WindowScaling& scaling, const FontSearch& search,
                              const CaptionsFit& fit);

}  // namespace qv
