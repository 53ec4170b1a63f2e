// Label text on surfaces.
//
// Glyph rendering is not built yet: DrawText keeps the font metrics and draws no pixels, so
// everything else on the panels is already exact.
#include "display/text.h"

int LabelFontPixelHeight(int pointSize, int dotsPerInch) { return dotsPerInch * pointSize / 72; }

void SelectLabelFont(Surface& s, int pointSize, int dotsPerInch) {
    s.FontPixelHeight = LabelFontPixelHeight(pointSize, dotsPerInch);
}

void DrawText(Surface&, int, int, std::string_view) {}
