// Label text on surfaces: the "Arial" label font and text drawing.
//
// The face is the one fontconfig gives for "Arial" (Liberation Sans on a Debian desktop, which
// has Arial's metrics). Glyphs are rendered one bit per pixel, so every pixel a label sets is
// exactly the text colour: no grey edges, no colour fringes.
#pragma once

#include <string>
#include <string_view>

#include "display/raster.h"

namespace qv {

// The label font of a point size: the "Arial" face with a pixel height of
// (dots per inch * points) / 72, truncated (10 for 8 points at 96 dots per inch).
Font MakeLabelFont(int pointSize, int dotsPerInch);

// Draws text with the selected label font in the surface's text colour on a transparent
// background; (x, y) is the top-left corner of the text cell. Text is UTF-8; glyphs that fall
// outside the surface are clipped.
void DrawText(Surface& s, int x, int y, std::string_view text);

// Width and height of the text cell of `text` at a font pixel height [pixels].
int TextWidth(int fontPixelHeight, std::string_view text);
int TextCellHeight(int fontPixelHeight);

// What stands behind a label font request.
struct LabelFaceInfo {
    std::string Family;   // the face's family name; empty when no face could be loaded
    std::string File;     // its font file
    std::string Problem;  // one line for the user when the face is not the one asked for
};

// The face found for the program's label font ("Arial"); loaded once, on first use.
const LabelFaceInfo& LabelFace();

// Looks a family up the way the label font is looked up: the family itself or a face with its
// metrics, else any sans-serif face with `Problem` saying so. For checking the fallback.
LabelFaceInfo FindLabelFace(const std::string& family);

}  // namespace qv
