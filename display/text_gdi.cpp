// Label text on surfaces through Windows GDI: the Windows twin of text_freetype.cpp (FreeType and
// fontconfig), with the same interface and the same pixels.
//
// "Arial" is asked for with an em height of the font's pixel height and no anti-aliasing, and
// the text is drawn white on black into a 32-bit DIB section; every pixel GDI set becomes the
// surface's text colour, so labels stay one colour with no grey edges.
#include <windows.h>
#undef DrawText  // windows.h's name for its own DrawTextA/W, which would rename ours

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "display/code_points.h"
#include "display/text.h"

namespace qv {

namespace {

bool SameMetrics(const std::string& asked, const std::string& found) {
    if (found == asked) return true;
    return asked == "Arial" && (found == "Liberation Sans" || found == "Arimo");
}

// UTF-16 for GDI, read as text_freetype.cpp reads it: a malformed byte stands for itself (Latin-1).
std::wstring Wide(std::string_view text) {
    std::wstring wide;
    for (size_t i = 0; i < text.size();) {
        const char32_t code = NextCodePoint(text, i);
        if (code >= 0x10000) {
            wide += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(code);
        }
    }
    return wide;
}

std::string Narrow(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), n, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(n - 1));
    return narrow;
}

HFONT CreateLabelFont(const std::string& family, int pixelHeight) {
    return CreateFontW(-pixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, Wide(family).c_str());
}

// The family GDI really gives for a font request.
std::string FaceName(HDC dc, HFONT font) {
    const HGDIOBJ old = SelectObject(dc, font);
    wchar_t name[LF_FACESIZE] = L"";
    GetTextFaceW(dc, LF_FACESIZE, name);
    SelectObject(dc, old);
    return Narrow(name);
}

LabelFaceInfo Describe(HDC dc, const std::string& family) {
    LabelFaceInfo info;
    const HFONT font = CreateLabelFont(family, 10);
    if (font == nullptr) {
        info.Problem = "label font: no font found for \"" + family + "\"; labels are not drawn";
        return info;
    }
    info.Family = FaceName(dc, font);
    DeleteObject(font);
    if (!SameMetrics(family, info.Family)) {
        info.Problem = "label font: \"" + family + "\" (or a face with its metrics) not found; " +
                       "using \"" + info.Family + "\"";
    }
    return info;
}

struct FontStore {
    std::mutex Mutex;
    HDC Dc = nullptr;  // a memory device context, for measuring and drawing
    LabelFaceInfo Info;
    std::map<int, HFONT> Fonts;                       // by pixel height
    std::map<std::pair<int, wchar_t>, int> Advances;  // [pixels] by pixel height and character
    // The drawing surface, kept selected into Dc and only ever grown: a DIB section per label
    // would map and unmap fresh memory several times a second.
    HBITMAP Bitmap = nullptr;
    uint32_t* Bits = nullptr;
    int BitmapWidth = 0, BitmapHeight = 0;  // [pixels]
};

FontStore& LabelStore() {
    static FontStore* store = [] {
        auto* s = new FontStore;  // lives to the end of the process, like the fonts it holds
        s->Dc = CreateCompatibleDC(nullptr);
        if (s->Dc == nullptr) {
            s->Info.Problem = "label font: GDI cannot start; labels are not drawn";
        } else {
            s->Info = Describe(s->Dc, "Arial");
        }
        return s;
    }();
    return *store;
}

// The store's font of a pixel height selected into its device context; false when there is
// none.
bool SelectSize(FontStore& store, int pixelHeight) {
    if (store.Dc == nullptr || pixelHeight <= 0) return false;
    auto [it, added] = store.Fonts.try_emplace(pixelHeight, nullptr);
    if (added) it->second = CreateLabelFont("Arial", pixelHeight);
    return it->second != nullptr && SelectObject(store.Dc, it->second) != nullptr;
}

// The width of text in the selected font: the sum of the characters' whole-pixel advances, as
// TextOut places them and as text_freetype.cpp adds them up (GetTextExtentPoint32 and
// GetCharWidth32 give the unhinted advances under Wine, three pixels less over "RF click").
int AdvanceSum(FontStore& store, int pixelHeight, const std::wstring& wide) {
    int width = 0;
    const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    for (const wchar_t c : wide) {
        auto [it, added] = store.Advances.try_emplace({pixelHeight, c}, 0);
        GLYPHMETRICS metrics{};
        if (added && GetGlyphOutlineW(store.Dc, c, GGO_BITMAP, &metrics, 0, nullptr, &identity) !=
                         GDI_ERROR) {
            it->second = metrics.gmCellIncX;
        }
        width += it->second;
    }
    return width;
}

// Makes the store's drawing surface at least width x height pixels (32-bit, top-down rows,
// BitmapWidth pixels a row) and selects it into its device context; false when GDI cannot.
bool HoldBitmap(FontStore& store, int width, int height) {
    if (width <= store.BitmapWidth && height <= store.BitmapHeight) return store.Bitmap != nullptr;
    const int w = std::max(width, store.BitmapWidth), h = std::max(height, store.BitmapHeight);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = w;
    format.bmiHeader.biHeight = -h;  // top-down rows
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(store.Dc, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return false;
    SelectObject(store.Dc, bitmap);
    if (store.Bitmap != nullptr) DeleteObject(store.Bitmap);
    store.Bitmap = bitmap;
    store.Bits = static_cast<uint32_t*>(bits);
    store.BitmapWidth = w;
    store.BitmapHeight = h;
    return true;
}

}  // namespace

Font MakeLabelFont(int pointSize, int dotsPerInch) { return Font{dotsPerInch * pointSize / 72}; }

void DrawText(Surface& s, int x, int y, std::string_view text) {
    FontStore& store = LabelStore();
    std::lock_guard lock(store.Mutex);
    if (!SelectSize(store, s.SelectedFont.PixelHeight) || text.empty()) return;
    const std::wstring wide = Wide(text);
    TEXTMETRICW metrics{};
    GetTextMetricsW(store.Dc, &metrics);
    // Room for glyphs that reach left of the pen or right of the advance (italic-like
    // overhangs): a margin of one em on each side.
    const int margin = s.SelectedFont.PixelHeight;
    const int width = AdvanceSum(store, s.SelectedFont.PixelHeight, wide) + 2 * margin,
              height = metrics.tmHeight;
    if (!HoldBitmap(store, width, height)) return;
    const int stride = store.BitmapWidth;
    uint32_t* pixels = store.Bits;
    for (int r = 0; r < height; ++r)
        std::fill_n(pixels + static_cast<size_t>(r) * stride, width, 0u);
    SetBkMode(store.Dc, TRANSPARENT);
    SetTextColor(store.Dc, RGB(255, 255, 255));
    SetTextAlign(store.Dc, TA_TOP | TA_LEFT | TA_NOUPDATECP);
    TextOutW(store.Dc, margin, 0, wide.c_str(), static_cast<int>(wide.size()));
    GdiFlush();
    // Only the label's own width x height is read: what the text would draw beyond it is cut
    // off, as the edge of a surface of exactly that size would cut it.
    for (int r = 0; r < height; ++r) {
        const int64_t py = int64_t{y} + r;
        if (py < 0 || py >= s.Height) continue;
        for (int c = 0; c < width; ++c) {
            const int64_t px = int64_t{x} - margin + c;
            if ((pixels[static_cast<size_t>(r) * stride + c] & 0xFFFFFF) != 0 && px >= 0 &&
                px < s.Width) {
                s.Pixels[static_cast<size_t>(py) * s.Width + px] = s.TextColour;
            }
        }
    }
}

int TextWidth(int fontPixelHeight, std::string_view text) {
    FontStore& store = LabelStore();
    std::lock_guard lock(store.Mutex);
    if (!SelectSize(store, fontPixelHeight)) return 0;
    return AdvanceSum(store, fontPixelHeight, Wide(text));
}

int TextCellHeight(int fontPixelHeight) {
    FontStore& store = LabelStore();
    std::lock_guard lock(store.Mutex);
    if (!SelectSize(store, fontPixelHeight)) return 0;
    TEXTMETRICW metrics{};
    GetTextMetricsW(store.Dc, &metrics);
    return metrics.tmAscent + metrics.tmDescent;
}

const LabelFaceInfo& LabelFace() { return LabelStore().Info; }

LabelFaceInfo FindLabelFace(const std::string& family) {
    const HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) return {"", "", "label font: GDI cannot start; labels are not drawn"};
    LabelFaceInfo info = Describe(dc, family);
    DeleteDC(dc);
    return info;
}

}  // namespace qv
