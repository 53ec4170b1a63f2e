// Pixel surfaces and the drawing primitives the panels use, with GDI's pixel conventions.
#include "display/raster.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qv {

namespace {

// Clipping a line whose end points lie anywhere in the int range needs products of two
// 33-bit quantities; 128-bit integers keep those exact.
__extension__ typedef __int128 Wide;

// floor(a / b) for b > 0.
Wide FloorDiv(Wide a, Wide b) {
    Wide q = a / b;
    if (a % b != 0 && a < 0) --q;
    return q;
}

// ceil(a / b) for b > 0.
Wide CeilDiv(Wide a, Wide b) { return -FloorDiv(-a, b); }

// A dotted pen draws 3 pixels, then leaves 3 untouched, counted from the line's start pixel.
constexpr int64_t kDotPeriod = 6;
constexpr int64_t kDotOn = 3;

// Geometry of one LineTo, expressed along its major axis. The pixel at step i (0 <= i < n) is
//   major = a0 + sMajor * i,   minor = c0 + sMinor * m(i),   m(i) = floor((2*i*dm + bias) / (2*n))
// i.e. the minor offset i*dm/n rounded to the nearest pixel. Where the ideal line passes exactly
// halfway between two pixels, the one with the smaller minor coordinate is lit (the upper one
// for flat lines, the left one for steep lines), which is what the bias encodes: rounding half
// down when the minor coordinate grows, half up when it shrinks.
struct LineSetup {
    int64_t A0, C0;          // start coordinates along the major / minor axis
    int64_t SMajor, SMinor;  // +1 or -1
    int64_t N, Dm;           // steps along the major axis (> 0), total minor travel (0..n)
    int64_t Bias;            // n - 1 or n, see above
    int64_t MajorSize, MinorSize;
};

// First and last step index (inclusive) at which the line's pixel lies on the surface.
// Returns false if there is none. The pixels themselves are exactly those the unclipped line
// has; only the range of steps is narrowed.
bool ClipSteps(const LineSetup& l, int64_t& iLo, int64_t& iHi) {
    Wide lo = 0;
    Wide hi = l.N - 1;

    // major axis: 0 <= a0 + sMajor * i <= majorSize - 1
    if (l.SMajor > 0) {
        lo = std::max<Wide>(lo, -l.A0);
        hi = std::min<Wide>(hi, l.MajorSize - 1 - l.A0);
    } else {
        lo = std::max<Wide>(lo, l.A0 - l.MajorSize + 1);
        hi = std::min<Wide>(hi, l.A0);
    }
    if (lo > hi) return false;

    // minor axis: mLo <= m(i) <= mHi, m non-decreasing in i
    const Wide mLo = l.SMinor > 0 ? -l.C0 : l.C0 - l.MinorSize + 1;
    const Wide mHi = l.SMinor > 0 ? l.MinorSize - 1 - l.C0 : l.C0;
    if (l.Dm == 0) {
        if (mLo > 0 || mHi < 0) return false;
    } else {
        const Wide twoN = Wide(2) * l.N;
        const Wide twoDm = Wide(2) * l.Dm;
        // m(i) >= mLo  <=>  2*i*dm + bias >= 2*n*mLo
        lo = std::max(lo, CeilDiv(twoN * mLo - l.Bias, twoDm));
        // m(i) <= mHi  <=>  2*i*dm + bias <= 2*n*(mHi + 1) - 1
        hi = std::min(hi, FloorDiv(twoN * (mHi + 1) - l.Bias - 1, twoDm));
    }
    if (lo > hi) return false;
    iLo = static_cast<int64_t>(lo);
    iHi = static_cast<int64_t>(hi);
    return true;
}

}  // namespace

Colour MakeColour(int red, int green, int blue) {
    const auto clamp = [](int v) { return static_cast<Colour>(std::clamp(v, 0, 255)); };
    return clamp(red) + 256u * clamp(green) + 65536u * clamp(blue);
}

Surface::Surface(int width, int height) : Width(width), Height(height) {
    assert(width >= 0 && height >= 0);
    Pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), kBlack);
}

Pen SelectPen(Surface& s, Pen pen) {
    const Pen previous = s.SelectedPen;
    s.SelectedPen = pen;
    return previous;
}

Font SelectFont(Surface& s, Font font) {
    const Font previous = s.SelectedFont;
    s.SelectedFont = font;
    return previous;
}

void FillRect(Surface& s, int x, int y, int w, int h, Colour colour) {
    if (w <= 0 || h <= 0) return;
    const int64_t x0 = std::max<int64_t>(x, 0);
    const int64_t y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t(x) + w, s.Width);
    const int64_t y1 = std::min<int64_t>(int64_t(y) + h, s.Height);
    if (x0 >= x1 || y0 >= y1) return;
    for (int64_t row = y0; row < y1; ++row) {
        Colour* line = s.Pixels.data() + row * s.Width;
        std::fill(line + x0, line + x1, colour);
    }
}

void SetPixel(Surface& s, int x, int y, Colour colour) {
    // unsigned comparison rejects negative coordinates too
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(s.Width) ||
        static_cast<unsigned>(y) >= static_cast<unsigned>(s.Height))
        return;
    s.Pixels[static_cast<size_t>(y) * s.Width + x] = colour;
}

void MoveTo(Surface& s, int x, int y) {
    s.PenX = x;
    s.PenY = y;
}

void LineTo(Surface& s, int x, int y) {
    const int64_t x0 = s.PenX, y0 = s.PenY;
    s.PenX = x;
    s.PenY = y;

    const int64_t dx = int64_t(x) - x0;
    const int64_t dy = int64_t(y) - y0;
    const int64_t adx = dx < 0 ? -dx : dx;
    const int64_t ady = dy < 0 ? -dy : dy;
    if ((adx == 0 && ady == 0) || s.Width == 0 || s.Height == 0) return;

    // Flat lines (including 45 degrees) step along x, steep ones along y.
    const bool xMajor = adx >= ady;
    LineSetup l;
    l.A0 = xMajor ? x0 : y0;
    l.C0 = xMajor ? y0 : x0;
    const int64_t dMajor = xMajor ? dx : dy;
    const int64_t dMinor = xMajor ? dy : dx;
    l.SMajor = dMajor < 0 ? -1 : 1;
    l.SMinor = dMinor < 0 ? -1 : 1;
    l.N = xMajor ? adx : ady;
    l.Dm = xMajor ? ady : adx;
    l.Bias = l.SMinor > 0 ? l.N - 1 : l.N;
    l.MajorSize = xMajor ? s.Width : s.Height;
    l.MinorSize = xMajor ? s.Height : s.Width;

    int64_t iLo = 0, iHi = l.N - 1;
    const bool endInside = x >= 0 && y >= 0 && x < s.Width && y < s.Height;
    const bool startInside = x0 >= 0 && y0 >= 0 && x0 < s.Width && y0 < s.Height;
    // Both ends on the surface means every pixel between is too; skip the clipping arithmetic.
    if (!(startInside && endInside) && !ClipSteps(l, iLo, iHi)) return;

    // Minor offset and rounding remainder at the first visible step.
    const int64_t twoN = 2 * l.N;
    const int64_t twoDm = 2 * l.Dm;
    int64_t m, r;
    if (iLo == 0) {
        m = l.Bias / twoN;
        r = l.Bias % twoN;
    } else {
        const Wide num = Wide(2) * iLo * l.Dm + l.Bias;
        m = static_cast<int64_t>(num / twoN);
        r = static_cast<int64_t>(num % twoN);
    }

    const int64_t px = xMajor ? l.A0 + l.SMajor * iLo : l.C0 + l.SMinor * m;
    const int64_t py = xMajor ? l.C0 + l.SMinor * m : l.A0 + l.SMajor * iLo;
    assert(px >= 0 && px < s.Width && py >= 0 && py < s.Height);
    const ptrdiff_t width = s.Width;
    const ptrdiff_t majorStep = xMajor ? l.SMajor : l.SMajor * width;
    const ptrdiff_t minorStep = xMajor ? l.SMinor * width : l.SMinor;
    Colour* p = s.Pixels.data() + py * width + px;
    const Colour colour = s.SelectedPen.Colour;

    if (s.SelectedPen.Style == PenStyle::Dot) {
        int64_t phase = iLo % kDotPeriod;
        for (int64_t i = iLo; i <= iHi; ++i) {
            if (phase < kDotOn) *p = colour;
            if (++phase == kDotPeriod) phase = 0;
            p += majorStep;
            r += twoDm;
            if (r >= twoN) {
                r -= twoN;
                p += minorStep;
            }
        }
    } else {
        for (int64_t i = iLo; i <= iHi; ++i) {
            *p = colour;
            p += majorStep;
            r += twoDm;
            if (r >= twoN) {
                r -= twoN;
                p += minorStep;
            }
        }
    }
}

void BlockCopy(const Surface& src, int srcX, int srcY, int w, int h, Surface& dst, int dstX,
               int dstY) {
    if (w <= 0 || h <= 0) return;
    int64_t sx = srcX, sy = srcY, dx = dstX, dy = dstY;
    int64_t cw = w, ch = h;

    // Trim the block where it starts before either surface's left or top edge, moving the
    // other corner along so source and destination pixels stay paired.
    const int64_t skipX = std::max<int64_t>({0, -sx, -dx});
    const int64_t skipY = std::max<int64_t>({0, -sy, -dy});
    sx += skipX;
    dx += skipX;
    cw -= skipX;
    sy += skipY;
    dy += skipY;
    ch -= skipY;
    // ... and where it runs past either surface's right or bottom edge.
    cw = std::min({cw, src.Width - sx, dst.Width - dx});
    ch = std::min({ch, src.Height - sy, dst.Height - dy});
    if (cw <= 0 || ch <= 0) return;

    const size_t rowBytes = static_cast<size_t>(cw) * sizeof(Colour);
    const Colour* from = src.Pixels.data();
    Colour* to = dst.Pixels.data();
    // Copying onto the same surface further down must go bottom-up, so that no source row is
    // overwritten before it is read; memmove handles overlap within a row.
    if (&src == &dst && dy > sy) {
        for (int64_t row = ch - 1; row >= 0; --row)
            std::memmove(to + (dy + row) * dst.Width + dx, from + (sy + row) * src.Width + sx,
                         rowBytes);
    } else {
        for (int64_t row = 0; row < ch; ++row)
            std::memmove(to + (dy + row) * dst.Width + dx, from + (sy + row) * src.Width + sx,
                         rowBytes);
    }
}

}  // namespace qv
