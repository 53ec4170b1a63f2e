// The controls' font in FLTK, measured to fit the control table.
#include "app/fltk/control_font.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>

namespace qv {

namespace {

// FLTK's faces for the condensed fonts: fontconfig names, a leading space for the plain style.
// Where one is missing fontconfig substitutes another, which is measured like any.
constexpr int kCondensedFaces[] = {FL_FREE_FONT, FL_FREE_FONT + 1};
// The faces tried, in order: the plain sans face, then the condensed ones.
constexpr int kFaces[] = {FL_HELVETICA, kCondensedFaces[0], kCondensedFaces[1]};

// From 10 pixels a scale step (as narrow as the 8-point dialog font) down to 6; the first
// condensed face when nothing fits.
constexpr FontSearch kSearch{.LargestSize = 10,
                             .SmallestSize = 6,
                             .FaceCount = 3,
                             .FallbackFace = 1,
                             .Insets = kFltkCaptionInsets};

void DefineCondensedFaces() {
    static bool defined = false;
    if (defined) return;
    Fl::set_font(kCondensedFaces[0], " DejaVu Sans Condensed");
    Fl::set_font(kCondensedFaces[1], " Liberation Sans Narrow");
    defined = true;
}

}  // namespace

bool CaptionFits(const Caption& caption) {
    int w = caption.Wraps ? caption.Width : 0, h = 0;
    fl_measure(caption.Text.c_str(), w, h, 0);
    return w <= caption.Width && h <= caption.Height;
}

ControlFont ChooseControlFont(int scale) {
    DefineCondensedFaces();
    const ControlFont found =
        SearchControlFont(scale, kSearch, [](const ControlFont& font, const auto& captions) {
            fl_font(kFaces[font.Face], font.Size);
            return std::all_of(captions.begin(), captions.end(), CaptionFits);
        });
    return {kFaces[found.Face], found.Size};
}

}  // namespace qv
