// Label text on surfaces: a FreeType face found through fontconfig, glyphs rendered one bit per
// pixel and cached per pixel height.
//
// The text cell follows the label font's conventions: the font's pixel height is its em size,
// the cell's top lies the face's Windows ascent above the baseline (rounded to whole pixels)
// and glyphs advance by their hinted whole-pixel widths, without kerning.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>

#include "display/text.h"
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "display/code_points.h"

namespace qv {

namespace {

// Families that stand in for "Arial" with the same metrics.
bool SameMetrics(const std::string& asked, const std::string& found) {
    if (found == asked) return true;
    return asked == "Arial" && (found == "Liberation Sans" || found == "Arimo");
}

struct Glyph {
    int Left = 0;              // from the pen position to the bitmap's left column [pixels]
    int Top = 0;               // from the baseline up to the bitmap's top row [pixels]
    int Width = 0;             // [pixels]
    int Rows = 0;              // [pixels]
    int Advance = 0;           // to the next pen position [pixels]
    std::vector<uint8_t> Ink;  // width * rows, 1 where the glyph sets the pixel
};

struct SizedFace {
    int Ascent = 0;   // baseline below the cell top [pixels]
    int Descent = 0;  // cell bottom below the baseline [pixels]
    std::map<char32_t, Glyph> Glyphs;
};

// The loaded face and its rendered glyphs; one per process, used under `mutex`.
struct FontStore {
    std::mutex Mutex;
    LabelFaceInfo Info;
    FT_Library Library = nullptr;
    FT_Face Face = nullptr;
    std::map<int, SizedFace> Sizes;
};

// Asks fontconfig for `family`; returns false when it offers no face at all.
bool MatchFamily(const std::string& family, std::string& foundFamily, std::string& file,
                 int& index) {
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) return false;
    FcChar8* matchedFile = nullptr;
    FcChar8* matchedFamily = nullptr;
    bool ok = FcPatternGetString(match, FC_FILE, 0, &matchedFile) == FcResultMatch;
    if (ok) {
        file = reinterpret_cast<const char*>(matchedFile);
        if (FcPatternGetString(match, FC_FAMILY, 0, &matchedFamily) == FcResultMatch) {
            foundFamily = reinterpret_cast<const char*>(matchedFamily);
        }
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
    }
    FcPatternDestroy(match);
    return ok;
}

// Finds and opens the face for `family` into `store` (which must hold no face yet).
void OpenFace(const std::string& family, FontStore& store) {
    LabelFaceInfo& info = store.Info;
    if (!FcInit()) {
        info.Problem = "label font: fontconfig cannot start; labels are not drawn";
        return;
    }
    if (FT_Init_FreeType(&store.Library) != 0) {
        store.Library = nullptr;
        info.Problem = "label font: FreeType cannot start; labels are not drawn";
        return;
    }
    std::string foundFamily, file;
    int index = 0;
    bool found = MatchFamily(family, foundFamily, file, index);
    if (found && !SameMetrics(family, foundFamily)) {
        // Whatever fontconfig put in its place; prefer its sans-serif choice.
        std::string sansFamily, sansFile;
        int sansIndex = 0;
        if (MatchFamily("sans-serif", sansFamily, sansFile, sansIndex)) {
            foundFamily = sansFamily;
            file = sansFile;
            index = sansIndex;
        }
        info.Problem = "label font: \"" + family + "\" (or a face with its metrics) not found; " +
                       "using \"" + foundFamily + "\"";
    }
    if (!found && MatchFamily("sans-serif", foundFamily, file, index)) {
        found = true;
        info.Problem = "label font: \"" + family + "\" not found; using \"" + foundFamily + "\"";
    }
    if (!found || FT_New_Face(store.Library, file.c_str(), index, &store.Face) != 0) {
        store.Face = nullptr;
        info.Problem = "label font: no font found for \"" + family + "\"; labels are not drawn";
        return;
    }
    info.Family = foundFamily;
    info.File = file;
}

FontStore& LabelStore() {
    static FontStore* store = [] {
        auto* s = new FontStore;  // lives to the end of the process, like the fonts it holds
        OpenFace("Arial", *s);
        return s;
    }();
    return *store;
}

int ScaledToPixels(int fontUnits, int pixelHeight, int unitsPerEm) {
    return static_cast<int>(std::lround(static_cast<double>(fontUnits) * pixelHeight / unitsPerEm));
}

SizedFace& SizeFor(FontStore& store, int pixelHeight) {
    auto [it, added] = store.Sizes.try_emplace(pixelHeight);
    SizedFace& sized = it->second;
    if (!added || store.Face == nullptr) return sized;
    FT_Face face = store.Face;
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelHeight));
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 != nullptr && face->units_per_EM > 0) {
        sized.Ascent = ScaledToPixels(os2->usWinAscent, pixelHeight, face->units_per_EM);
        sized.Descent = ScaledToPixels(os2->usWinDescent, pixelHeight, face->units_per_EM);
    } else {
        sized.Ascent = static_cast<int>((face->size->metrics.ascender + 32) >> 6);
        sized.Descent = static_cast<int>((-face->size->metrics.descender + 32) >> 6);
    }
    return sized;
}

const Glyph& GlyphFor(FontStore& store, int pixelHeight, char32_t code) {
    SizedFace& sized = SizeFor(store, pixelHeight);
    auto [it, added] = sized.Glyphs.try_emplace(code);
    Glyph& g = it->second;
    if (!added || store.Face == nullptr) return g;
    FT_Face face = store.Face;
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelHeight));
    if (FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return g;
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    g.Left = slot->bitmap_left;
    g.Top = slot->bitmap_top;
    g.Width = static_cast<int>(bitmap.width);
    g.Rows = static_cast<int>(bitmap.rows);
    g.Advance = static_cast<int>((slot->advance.x + 32) >> 6);
    g.Ink.assign(static_cast<size_t>(g.Width) * g.Rows, 0);
    for (int r = 0; r < g.Rows; ++r) {
        const unsigned char* row = bitmap.buffer + static_cast<ptrdiff_t>(r) * bitmap.pitch;
        for (int c = 0; c < g.Width; ++c) {
            const bool set = bitmap.pixel_mode == FT_PIXEL_MODE_MONO
                                 ? (row[c >> 3] >> (7 - (c & 7))) & 1
                                 : row[c] >= 128;
            g.Ink[static_cast<size_t>(r) * g.Width + c] = set ? 1 : 0;
        }
    }
    return g;
}

}  // namespace

Font MakeLabelFont(int pointSize, int dotsPerInch) { return Font{dotsPerInch * pointSize / 72}; }

void DrawText(Surface& s, int x, int y, std::string_view text) {
    if (s.SelectedFont.PixelHeight <= 0) return;
    FontStore& store = LabelStore();
    std::lock_guard lock(store.Mutex);
    if (store.Face == nullptr) return;
    // 64-bit positions: text placed anywhere, however far off the surface, cannot overflow.
    const int64_t baseline = int64_t{y} + SizeFor(store, s.SelectedFont.PixelHeight).Ascent;
    int64_t penX = x;
    for (size_t i = 0; i < text.size();) {
        const Glyph& g = GlyphFor(store, s.SelectedFont.PixelHeight, NextCodePoint(text, i));
        for (int r = 0; r < g.Rows; ++r) {
            const int64_t py = baseline - g.Top + r;
            if (py < 0 || py >= s.Height) continue;
            for (int c = 0; c < g.Width; ++c) {
                const int64_t px = penX + g.Left + c;
                if (g.Ink[static_cast<size_t>(r) * g.Width + c] && px >= 0 && px < s.Width) {
                    s.Pixels[static_cast<size_t>(py) * s.Width + px] = s.TextColour;
                }
            }
        }
        penX += g.Advance;
    }
}

int TextWidth(int fontPixelHeight, std::string_view text) {
    FontStore& store = LabelStore();
    std::lock_guard lock(store.Mutex);
    if (store.Face == nullptr || fontPixelHeight <= 0) return 0;
    int width = 0;
    for (size_t i = 0; i < text.size();) {
        width += GlyphFor(store, fontPixelHeight, NextCodePoint(text, i)).Advance;
    }
    return width;
}

int TextCellHeight(int fontPixelHeight) {
    FontStore& store = LabelStore();
    std::lock_guard lock(store.Mutex);
    if (store.Face == nullptr || fontPixelHeight <= 0) return 0;
    const SizedFace& sized = SizeFor(store, fontPixelHeight);
    return sized.Ascent + sized.Descent;
}

const LabelFaceInfo& LabelFace() { return LabelStore().Info; }

LabelFaceInfo FindLabelFace(const std::string& family) {
    FontStore store;
    OpenFace(family, store);
    if (store.Face != nullptr) FT_Done_Face(store.Face);
    if (store.Library != nullptr) FT_Done_FreeType(store.Library);
    return store.Info;
}

}  // namespace qv
