// 32-bit pixel surfaces with the drawing operations the panels use (pens, lines, pixels, copies).
//
// Conventions, stated once here:
// - origin at the top-left pixel, x to the right, y downwards;
// - rectangles are half-open: (x, y, w, h) covers x .. x+w-1 and y .. y+h-1;
// - LineTo draws from the current position up to, but not including, its end point, and then
//   makes the end point the current position;
// - anything outside a surface is clipped silently (never an error, never a crash);
// - a colour is packed as red + 256 * green + 65536 * blue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

using Colour = uint32_t;  // red + 256 * green + 65536 * blue

// Each component is clamped into 0..255 before packing.
Colour MakeColour(int red, int green, int blue);
inline int RedOf(Colour c) { return static_cast<int>(c & 0xFF); }
inline int GreenOf(Colour c) { return static_cast<int>((c >> 8) & 0xFF); }
inline int BlueOf(Colour c) { return static_cast<int>((c >> 16) & 0xFF); }

constexpr Colour kWhite = 0xFFFFFF;
constexpr Colour kBlack = 0x000000;

enum class PenStyle { Solid = 0, Dot = 2 };

// A one-pixel cosmetic pen. A dotted pen draws 3 pixels on, 3 off, the pattern restarting at
// the start point of every line.
struct Pen {
    qv::Colour Colour = kBlack;  // qualified: the member hides the type in the struct
    PenStyle Style = PenStyle::Solid;
};

// A label font, as much of it as the surfaces need: its pixel height (0 = no font).
struct Font {
    int PixelHeight = 0;
};

struct Surface {
    int Width = 0;               // [pixels]
    int Height = 0;              // [pixels]
    std::vector<Colour> Pixels;  // row-major, Width * Height

    // drawing state, as a drawing context keeps it between calls
    Pen SelectedPen;
    int PenX = 0, PenY = 0;  // current position [pixels]
    Colour TextColour = kBlack;
    Font SelectedFont;

    Surface() = default;
    // A new surface is black (all zero), as a fresh bitmap is.
    Surface(int width, int height);

    Colour At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < Width && y < Height; }
};

// Each returns the object that was selected before (what the selection displaced).
Pen SelectPen(Surface& s, Pen pen);
Font SelectFont(Surface& s, Font font);

void FillRect(Surface& s, int x, int y, int w, int h, Colour colour);
inline void FillWhite(Surface& s, int x, int y, int w, int h) { FillRect(s, x, y, w, h, kWhite); }
inline void FillBlack(Surface& s, int x, int y, int w, int h) { FillRect(s, x, y, w, h, kBlack); }

void SetPixel(Surface& s, int x, int y, Colour colour);
void MoveTo(Surface& s, int x, int y);
void LineTo(Surface& s, int x, int y);

// Copies the w x h block at (srcX, srcY) of src to (dstX, dstY) of dst, clipped to both
// surfaces. src and dst may be the same surface with overlapping blocks; the result is as if
// the source block had been read whole before anything was written.
void BlockCopy(const Surface& src, int srcX, int srcY, int w, int h, Surface& dst, int dstX,
               int dstY);

}  // namespace qv
