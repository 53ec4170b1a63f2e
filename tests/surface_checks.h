// Looking at surfaces in tests: where the ink is, and how many pixels have unexpected colours.
#pragma once

#include <algorithm>
#include <initializer_list>

#include "display/raster.h"

namespace qv {

// Half-open box of pixels: left <= x < right, top <= y < bottom.
struct InkBox {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool Empty() const { return Right <= Left || Bottom <= Top; }
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

// The smallest box around every pixel of `s` (within the given area) that is not `background`.
inline InkBox FindInk(const Surface& s, Colour background, int x0 = 0, int y0 = 0, int x1 = -1,
                      int y1 = -1) {
    if (x1 < 0) x1 = s.Width;
    if (y1 < 0) y1 = s.Height;
    InkBox box{x1, y1, x0, y0};
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (s.At(x, y) == background) continue;
            box.Left = std::min(box.Left, x);
            box.Top = std::min(box.Top, y);
            box.Right = std::max(box.Right, x + 1);
            box.Bottom = std::max(box.Bottom, y + 1);
        }
    }
    return box;
}

inline int CountColour(const Surface& s, Colour colour, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += s.At(x, y) == colour;
    return n;
}

// Pixels whose colour is none of `expected`.
inline int CountOther(const Surface& s, std::initializer_list<Colour> expected) {
    int n = 0;
    for (Colour c : s.Pixels) n += std::find(expected.begin(), expected.end(), c) == expected.end();
    return n;
}

// True when the w x h blocks at (ax, ay) of a and (bx, by) of b are equal pixel for pixel.
inline bool SameBlock(const Surface& a, int ax, int ay, const Surface& b, int bx, int by, int w,
                      int h) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (a.At(ax + x, ay + y) != b.At(bx + x, by + y)) return false;
    return true;
}

}  // namespace qv
