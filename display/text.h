// Label text on surfaces: the "Arial" label font and text drawing.
#pragma once

#include <string_view>

#include "display/raster.h"

// Pixel height of the label font for a point size: (dots per inch * points) / 72, truncated.
int LabelFontPixelHeight(int pointSize, int dotsPerInch);

// Selects the label font of the given point size into the surface.
void SelectLabelFont(Surface& s, int pointSize, int dotsPerInch);

// Draws text with the selected label font in the surface's text colour on a transparent
// background; (x, y) is the top-left corner of the text cell.
void DrawText(Surface& s, int x, int y, std::string_view text);
