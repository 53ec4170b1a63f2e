// The controls' font on Windows: the dialog font's face at 8 points, measured with GDI to fit the
// control table, else smaller, else a narrower face.
#include "app/control_font_win32.h"

#include <algorithm>
#include <array>

#include "app/control_font.h"
#include "app/controls.h"
#include "capture/device_list.h"
#include "common/wide_text_win32.h"

namespace qv {

namespace {

// Room the controls themselves take from their boxes [pixels at scale 1].
constexpr int kButtonInset = 4;   // a push button's frame and text margin, each side
constexpr int kEntryInset = 3;    // an entry's sunken edge and margin, each side
constexpr int kMarkRoom = 16;     // a check box's or option's mark and the gap after it
constexpr int kListArrow = 18;    // the device list's drop-down button and its frame
constexpr int kLargestSize = 11;  // [pixels at scale 1] 8 points at 96 dots per inch
constexpr int kSmallestSize = 8;  // [pixels at scale 1] 6 points

// The faces tried, in order: the table's dialog font, the dialog font of later systems, and the
// font every system has.
constexpr std::array<const wchar_t*, 3> kFaces = {L"MS Sans Serif", L"Tahoma", L"Arial"};

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

std::vector<Caption> ControlCaptions(int scale, int size) {
    std::vector<Caption> captions;
    for (const ControlSpec& c : kControls) {
        // A control reaching past the client area is cut at its edge.
        const int w = std::min(c.W, kClientWidth - c.X) * scale, h = c.H * scale;
        switch (c.Kind) {
            case ControlKind::Label: {
                const char* longest = LongestReadout(c.Id);
                // Only a label two lines high wraps (the window makes the others one-line).
                captions.push_back({longest != nullptr ? longest : c.Text, w, h, c.H >= 30});
                break;
            }
            case ControlKind::Button:
                captions.push_back({c.Text, w - 2 * kButtonInset * scale, h, false});
                break;
            case ControlKind::Check:
            case ControlKind::Option:
                captions.push_back({c.Text, w - kMarkRoom * scale, h, false});
                break;
            case ControlKind::Entry:
                captions.push_back({c.Text, w - 2 * kEntryInset * scale, h, false});
                break;
            case ControlKind::DeviceList:
                captions.push_back({kSimulatorEntryName, w - (kListArrow + 2 * kEntryInset) * scale,
                                    kDeviceListClosedHeight * scale, false});
                break;
            case ControlKind::Panel:
            case ControlKind::GroupBox:
                break;
        }
    }
    (void)size;  // the rooms do not depend on the size here: the marks are the system's
    return captions;
}

bool CaptionFits(const Caption& caption) {
    const std::wstring text = Wide(caption.Text);
    RECT r{0, 0, caption.Wraps ? caption.Width : 1 << 20, 0};
    DrawTextW(MeasuringContext(), text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_NOPREFIX | (caption.Wraps ? DT_WORDBREAK : DT_SINGLELINE));
    return r.right <= caption.Width && r.bottom <= caption.Height;
}

ControlFont ChooseControlFont(int scale) {
    HDC dc = MeasuringContext();
    for (int size = kLargestSize * scale; size >= kSmallestSize * scale; --size) {
        const std::vector<Caption> captions = ControlCaptions(scale, size);
        for (int face = 0; face < static_cast<int>(kFaces.size()); ++face) {
            HFONT font = CreateControlFont({face, size});
            HGDIOBJ previous = SelectObject(dc, font);
            const bool fits = std::all_of(captions.begin(), captions.end(), CaptionFits);
            SelectObject(dc, previous);
            DeleteObject(font);
            if (fits) return {face, size};
        }
    }
    return {static_cast<int>(kFaces.size()) - 1, kSmallestSize * scale};
}

}  // namespace qv
