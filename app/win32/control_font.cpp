// The controls' font in Win32, measured with GDI to fit the control table.
#include "app/win32/control_font.h"

#include <algorithm>
#include <array>

#include "common/wide_text_win32.h"

namespace qv {

namespace {

// The faces tried, in order: the table's dialog font, the dialog font of later systems, and the
// font every system has.
constexpr std::array<const wchar_t*, 3> kFaces = {L"MS Sans Serif", L"Tahoma", L"Arial"};

// Room the system's controls take from their boxes [pixels at scale 1]: a push button's frame
// and text margin (4 each side), an entry's sunken edge and margin (3 each side), a check box's
// or option's mark and the gap after it (16), the device list's drop-down button and its frame
// (18) beside an entry's edges.
constexpr CaptionInsets kInsets{
    .Label = {},  // a label draws to its edges
    .Button = {.PerScale = 2 * 4},
    .Mark = {.PerScale = 16},
    .Entry = {.PerScale = 2 * 3},
    .DeviceList = {.PerScale = 18 + 2 * 3},
};

// From 11 pixels a scale step (8 points at 96 dots per inch) down to 8 (6 points); the font
// every system has when nothing fits.
constexpr FontSearch kSearch{.LargestSize = 11,
                             .SmallestSize = 8,
                             .FaceCount = static_cast<int>(kFaces.size()),
                             .FallbackFace = static_cast<int>(kFaces.size()) - 1,
                             .Insets = kInsets};

// The drawing context the captions are measured in, with the font being tried selected.
HDC MeasuringContext() {
    static HDC dc = CreateCompatibleDC(nullptr);
    return dc;
}

}  // namespace

HFONT CreateControlFont(const ControlFont& font) {
    const size_t face = std::min(static_cast<size_t>(std::max(font.Face, 0)), kFaces.size() - 1);
    return CreateFontW(-font.Size, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, kFaces[face]);
}

bool CaptionFits(const Caption& caption) {
    const std::wstring text = Wide(caption.Text);
    RECT r{0, 0, caption.Wraps ? caption.Width : 1 << 20, 0};
    DrawTextW(MeasuringContext(), text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_NOPREFIX | (caption.Wraps ? DT_WORDBREAK : DT_SINGLELINE));
    return r.right <= caption.Width && r.bottom <= caption.Height;
}

int ControlFontLineHeight(HFONT font) {
    HDC dc = MeasuringContext();
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    return metrics.tmHeight;
}

ControlFont ChooseControlFont(const WindowScaling& scaling) {
    return SearchControlFont(scaling, kSearch, [](const ControlFont& font, const auto& captions) {
        HDC dc = MeasuringContext();
        HFONT made = CreateControlFont(font);
        HGDIOBJ previous = SelectObject(dc, made);
        const bool fits = std::all_of(captions.begin(), captions.end(), CaptionFits);
        SelectObject(dc, previous);
        DeleteObject(made);
        return fits;
    });
}

}  // namespace qv
