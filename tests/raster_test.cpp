// Tests for pixel surfaces: colours, fills, clipped pixels, solid and dotted lines, block copies.
#include "display/raster.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace qv {

namespace {

using Point = std::pair<int, int>;  // (x, y)
using Points = std::set<Point>;

constexpr Colour kInk = 0x3366CC;
constexpr Colour kPaper = 0x0A0B0C;
constexpr int kBillion = 1000000000;

// The pixels of a surface that hold the given colour.
Points PixelsOf(const Surface& s, Colour colour) {
    Points found;
    for (int y = 0; y < s.Height; ++y)
        for (int x = 0; x < s.Width; ++x)
            if (s.At(x, y) == colour) found.emplace(x, y);
    return found;
}

// `count` points from (x, y) in steps of (stepX, stepY), added to `before`.
Points Steps(int x, int y, int stepX, int stepY, int count, Points before = {}) {
    for (int i = 0; i < count; ++i) before.emplace(x + i * stepX, y + i * stepY);
    return before;
}

// Whether (x, y) lies in the half-open rectangle (rx, ry, w, h), without overflow.
bool InRect(int64_t x, int64_t y, int64_t rx, int64_t ry, int64_t w, int64_t h) {
    return x >= rx && x < rx + w && y >= ry && y < ry + h;
}

Surface PaperSurface(int w, int h) {
    Surface s(w, h);
    FillRect(s, 0, 0, w, h, kPaper);
    return s;
}

void DrawLine(Surface& s, int x0, int y0, int x1, int y1, PenStyle style = PenStyle::Solid) {
    SelectPen(s, Pen{kInk, style});
    MoveTo(s, x0, y0);
    LineTo(s, x1, y1);
}

TEST(RasterSurface, ColoursPensPixelsAndEmptySurfaces) {
    struct Case {
        int R, G, B;
        Colour Expected;  // each component clamped into 0..255, red lowest
    };
    for (const Case& c :
         {Case{1, 2, 3, 0x030201}, Case{-5, 300, 128, 0x80FF00}, Case{256, -1, INT_MIN, 0x0000FF},
          Case{INT_MIN, INT_MAX, 256, 0xFFFF00}}) {
        const Colour colour = MakeColour(c.R, c.G, c.B);
        EXPECT_EQ(colour, c.Expected) << c.R << "," << c.G << "," << c.B;
        EXPECT_EQ(RedOf(colour) + 256 * GreenOf(colour) + 65536 * BlueOf(colour), int(colour));
    }

    Surface s(5, 4);
    ASSERT_EQ(PixelsOf(s, kBlack).size(), 20u) << "a new surface is black";
    const Pen first = SelectPen(s, Pen{kInk, PenStyle::Dot});
    EXPECT_EQ(first.Colour, kBlack);
    EXPECT_EQ(first.Style, PenStyle::Solid);
    const Pen second = SelectPen(s, Pen{kWhite, PenStyle::Solid});
    EXPECT_EQ(second.Colour, kInk);
    EXPECT_EQ(second.Style, PenStyle::Dot);

    SetPixel(s, 0, 0, kInk);
    SetPixel(s, 4, 3, kInk);
    for (const Point& p : Points{{-1, 0}, {0, -1}, {5, 0}, {0, 4}, {INT_MIN, 0}, {2, INT_MAX}})
        SetPixel(s, p.first, p.second, kWhite);
    EXPECT_EQ(PixelsOf(s, kInk), (Points{{0, 0}, {4, 3}}));
    EXPECT_TRUE(PixelsOf(s, kWhite).empty());

    // surfaces without pixels ignore every operation, only the current position moves
    Surface empty(0, 0), noRows(5, 0);
    for (Surface* e : {&empty, &noRows}) {
        FillRect(*e, -1, -1, 10, 10, kInk);
        SetPixel(*e, 0, 0, kInk);
        DrawLine(*e, -3, -3, 8, 8);
        BlockCopy(s, 0, 0, 4, 4, *e, 0, 0);
        BlockCopy(*e, 0, 0, 4, 4, s, 0, 0);
        EXPECT_TRUE(e->Pixels.empty());
        EXPECT_EQ(e->PenX, 8);
    }
    EXPECT_EQ(PixelsOf(s, kInk), (Points{{0, 0}, {4, 3}}));
}

TEST(RasterSurface, FillCoversHalfOpenRectangleClippedToSurface) {
    struct Case {
        int X, Y, W, H;
    };
    constexpr int kW = 12, kH = 9;
    for (const Case& c :
         {Case{2, 3, 4, 2}, Case{11, 8, 1, 1}, Case{-3, -2, 5, 4}, Case{9, 7, 10, 10},
          Case{2, 2, 0, 5}, Case{2, 5, 3, -2}, Case{12, 0, 5, 5}, Case{0, -5, 5, 5},
          Case{INT_MIN, 4, INT_MAX, 1}, Case{INT_MAX - 1, 0, INT_MAX, 5}}) {
        SCOPED_TRACE(testing::Message() << c.X << "," << c.Y << " " << c.W << "x" << c.H);
        Surface s = PaperSurface(kW, kH);
        FillRect(s, c.X, c.Y, c.W, c.H, kInk);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                ASSERT_EQ(s.At(x, y), InRect(x, y, c.X, c.Y, c.W, c.H) ? kInk : kPaper)
                    << "at " << x << "," << y;
            }
    }
}

// Exact pixels of single lines on a 20 x 20 surface: the start pixel is lit, the end pixel is
// not; a dotted pen lights 3, skips 3 counted from the start point along the major axis and
// leaves the gaps untouched; end points far away, up to the int limits.
TEST(RasterLine, LightsExactPixelsAndMovesCurrentPosition) {
    struct Case {
        const char* Name;
        PenStyle Style;
        int X0, Y0, X1, Y1;
        Points Expected;
    };
    constexpr PenStyle kSolid = PenStyle::Solid, kDot = PenStyle::Dot;
    const Points farTie = Steps(1, 1, 1, 0, 19, {{0, 0}});
    const Case cases[] = {
        {"Rightwards", kSolid, 0, 3, 19, 3, Steps(0, 3, 1, 0, 19)},
        {"Leftwards", kSolid, 10, 3, 4, 3, Steps(10, 3, -1, 0, 6)},
        {"Upwards", kSolid, 4, 19, 4, 2, Steps(4, 19, 0, -1, 17)},
        {"Diagonal", kSolid, 0, 0, 5, 5, Steps(0, 0, 1, 1, 5)},
        {"AntiDiagonal", kSolid, 5, 0, 0, 5, Steps(5, 0, -1, 1, 5)},
        {"DiagonalUpLeft", kSolid, 9, 9, 6, 6, Steps(9, 9, -1, -1, 3)},
        {"ZeroLength", kSolid, 4, 4, 4, 4, {}},
        // 2 rows over 5 columns: offsets 0, 0.4, 0.8, 1.2, 1.6 round to 0, 0, 1, 1, 2
        {"Shallow", kSolid, 0, 0, 5, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}},
        {"Steep", kSolid, 0, 0, 2, 5, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}}},
        // exactly halfway between two rows (columns) the upper (left) pixel is lit, either way
        {"ShallowTieDown", kSolid, 0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},
        {"ShallowTieUp", kSolid, 4, 1, 0, 0, {{4, 1}, {3, 1}, {2, 0}, {1, 0}}},
        {"ShallowTieRising", kSolid, 0, 1, 4, 0, {{0, 1}, {1, 1}, {2, 0}, {3, 0}}},
        {"SteepTieRight", kSolid, 0, 0, 1, 4, {{0, 0}, {0, 1}, {0, 2}, {1, 3}}},
        {"SteepTieLeft", kSolid, 1, 0, 0, 4, {{1, 0}, {1, 1}, {0, 2}, {0, 3}}},
        {"DotRightwards", kDot, 0, 0, 14, 0,
         Steps(12, 0, 1, 0, 2, Steps(0, 0, 1, 0, 3, Steps(6, 0, 1, 0, 3)))},
        {"DotLeftwards", kDot, 13, 2, 0, 2,
         Steps(13, 2, -1, 0, 3, Steps(7, 2, -1, 0, 3, {{1, 2}}))},
        {"DotSteep", kDot, 0, 0, 2, 8, {{0, 0}, {0, 1}, {0, 2}, {1, 6}, {2, 7}}},
        {"VerticalIntLimits", kSolid, 5, INT_MAX, 5, INT_MIN, Steps(5, 0, 0, 1, 20)},
        {"HorizontalIntLimits", kSolid, INT_MIN, 7, INT_MAX, 7, Steps(0, 7, 1, 0, 20)},
        {"DiagonalIntLimits", kSolid, INT_MIN, INT_MIN, INT_MAX, INT_MAX, Steps(0, 0, 1, 1, 20)},
        {"AntiDiagonalMisses", kSolid, INT_MAX, INT_MIN, INT_MIN, INT_MAX, {}},
        // over 2e9 columns the line rises 2 rows: row 1 throughout the window
        {"ShallowFar", kSolid, -kBillion, 0, kBillion, 2, Steps(0, 1, 1, 0, 20)},
        // rising one row over 2e9 columns puts the halfway point exactly at x = 0
        {"FarTie", kSolid, -kBillion, 0, kBillion, 1, farTie},
        {"FarTieBackwards", kSolid, kBillion, 1, -kBillion, 0, farTie},
        {"EndsInsideFromFar", kSolid, 3, -kBillion, 3, 4, Steps(3, 0, 0, 1, 4)},
        {"StartsInsideGoesFar", kSolid, 2, 2, INT_MAX, 2, Steps(2, 2, 1, 0, 18)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Surface s = PaperSurface(20, 20);
        DrawLine(s, c.X0, c.Y0, c.X1, c.Y1, c.Style);
        EXPECT_EQ(PixelsOf(s, kInk), c.Expected);
        EXPECT_EQ(PixelsOf(s, kPaper).size(), 400u - c.Expected.size()) << "nothing else touched";
        EXPECT_EQ(s.PenX, c.X1);
        EXPECT_EQ(s.PenY, c.Y1);
    }
}

TEST(RasterLine, PolylineLightsEachJointOnceAndDotsRestartPerSegment) {
    Surface s = PaperSurface(12, 6);
    SelectPen(s, Pen{kInk, PenStyle::Solid});
    MoveTo(s, 1, 1);
    LineTo(s, 4, 1);
    LineTo(s, 4, 4);
    LineTo(s, 4, 4);  // zero-length segment in the middle changes nothing
    LineTo(s, 1, 4);
    EXPECT_EQ(PixelsOf(s, kInk), Steps(1, 1, 1, 0, 3, Steps(4, 1, 0, 1, 3, Steps(4, 4, -1, 0, 3))));

    Surface d = PaperSurface(12, 3);
    SelectPen(d, Pen{kInk, PenStyle::Dot});
    MoveTo(d, 0, 1);
    LineTo(d, 4, 1);   // 0, 1, 2 on; 3 off
    LineTo(d, 11, 1);  // restarts at 4: 4, 5, 6 on; 7, 8, 9 off; 10 on
    EXPECT_EQ(PixelsOf(d, kInk), (Points{{0, 1}, {1, 1}, {2, 1}, {4, 1}, {5, 1}, {6, 1}, {10, 1}}));
}

// Every pairing of end points around, on, across and far beyond the edges of a small surface,
// solid and dotted: each line must light exactly the pixels it lights in the same place of a
// large surface that holds it whole, i.e. clipping never shifts a line or its dot pattern.
TEST(RasterLine, ClippingMatchesTheUnclippedLine) {
    constexpr int kW = 23, kH = 17, kOffset = 1500;
    const int xs[] = {-1400, -37, -9, -1, 0, 5, 11, 22, 23, 31, 58, 1431};
    const int ys[] = {-1457, -41, -6, -1, 0, 7, 16, 17, 29, 50, 1450};
    std::vector<Point> ends;
    for (int x : xs)
        for (int y : ys) ends.emplace_back(x, y);
    Surface small(kW, kH);
    Surface big(kW + 2 * kOffset, kH + 2 * kOffset);
    Colour ink = 0;
    for (const PenStyle style : {PenStyle::Solid, PenStyle::Dot})
        for (const auto& [x0, y0] : ends)
            for (const auto& [x1, y1] : ends) {
                // a fresh colour per line, so earlier lines never need clearing
                SelectPen(small, Pen{++ink, style});
                SelectPen(big, Pen{ink, style});
                MoveTo(small, x0, y0);
                LineTo(small, x1, y1);
                MoveTo(big, x0 + kOffset, y0 + kOffset);
                LineTo(big, x1 + kOffset, y1 + kOffset);
                for (int y = 0; y < kH; ++y)
                    for (int x = 0; x < kW; ++x)
                        ASSERT_EQ(small.At(x, y) == ink, big.At(x + kOffset, y + kOffset) == ink)
                            << "(" << x0 << "," << y0 << ")->(" << x1 << "," << y1 << ") at " << x
                            << "," << y;
            }
}

// Stepping through the off-surface billions would take minutes: the test's time-out catches it.
TEST(RasterLine, HugeLinesTakeNoTimeProportionalToTheirLength) {
    Surface s = PaperSurface(768, 340);
    for (int i = 0; i < 200; ++i) {
        DrawLine(s, INT_MIN + i, -kBillion, INT_MAX - i, kBillion + i, PenStyle::Dot);
        DrawLine(s, i, INT_MIN, 767 - i, INT_MAX, PenStyle::Dot);
    }
    EXPECT_FALSE(PixelsOf(s, kInk).empty());
}

// A distinct, non-zero value per pixel so any misplaced copy shows.
Surface Patterned(int w, int h, Colour base) {
    Surface s(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) SetPixel(s, x, y, base + x + 4096u * y);
    return s;
}

// Each destination pixel inside the block takes the source pixel paired with it, if that
// source pixel exists; everything else keeps its old value. For a copy within one surface
// (overlapping in every direction) the source is read as it was before the copy.
TEST(RasterCopy, CopiesPairedPixelsThatExistOnBothSurfaces) {
    // source and destination surface sizes (0 x 0: copy within the source), then the arguments
    struct Case {
        const char* Name;
        int SrcW, SrcH, DstW, DstH, Sx, Sy, W, H, Dx, Dy;
    };
    const Case cases[] = {
        {"Inside", 20, 15, 18, 12, 3, 2, 5, 4, 7, 6},
        {"SourceLeftTop", 20, 15, 18, 12, -3, -4, 8, 9, 5, 1},
        {"SourceRightBottom", 20, 15, 18, 12, 16, 12, 10, 10, 2, 2},
        {"DestLeftTop", 20, 15, 18, 12, 4, 4, 6, 5, -2, -3},
        {"DestRightBottom", 20, 15, 18, 12, 0, 0, 10, 10, 14, 9},
        {"BothClippedOpposite", 20, 15, 18, 12, -5, 10, 40, 40, 3, -6},
        {"EntirelyOffSource", 20, 15, 18, 12, 20, 0, 5, 5, 0, 0},
        {"EntirelyOffDest", 20, 15, 18, 12, 0, 0, 5, 5, 0, -5},
        {"NegativeSize", 20, 15, 18, 12, 0, 0, -5, 5, 0, 0},
        {"IntLimits", 20, 15, 18, 12, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0, 0},
        {"HugeSizeClipped", 20, 15, 18, 12, -5, -2, INT_MAX, INT_MAX, 0, 0},
        {"IntLimitsDest", 20, 15, 18, 12, 0, 0, INT_MAX, INT_MAX, INT_MAX, 0},
        {"DialOntoPanel", 170, 170, 126, 168, 22, 1, 126, 168, 0, 0},
        // the chart's scroll: every column moves left, the last one has no source and stays
        {"ChartScrollLeft", 768, 340, 0, 0, 1, 0, 768, 340, 0, 0},
        {"SelfDownOneRow", 40, 30, 0, 0, 0, 0, 40, 30, 0, 1},
        {"SelfDownRight", 40, 30, 0, 0, 5, 5, 20, 20, 8, 9},
        {"SelfDownLeft", 40, 30, 0, 0, 8, 5, 20, 20, 5, 9},
        {"SelfUpLeft", 40, 30, 0, 0, 8, 9, 20, 20, 5, 5},
        {"SelfUpRight", 40, 30, 0, 0, 5, 9, 20, 20, 8, 5},
        {"SelfOntoItself", 40, 30, 0, 0, 3, 3, 10, 10, 3, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const bool self = c.DstW == 0;
        Surface src = Patterned(c.SrcW, c.SrcH, 1);
        Surface other = Patterned(c.DstW, c.DstH, 0x800000);
        Surface& dst = self ? src : other;
        const Surface srcBefore = src, dstBefore = dst;

        BlockCopy(src, c.Sx, c.Sy, c.W, c.H, dst, c.Dx, c.Dy);

        for (int y = 0; y < dst.Height; ++y)
            for (int x = 0; x < dst.Width; ++x) {
                const int64_t fromX = int64_t(x) - c.Dx + c.Sx, fromY = int64_t(y) - c.Dy + c.Sy;
                const Colour expected =
                    InRect(x, y, c.Dx, c.Dy, c.W, c.H) && InRect(fromX, fromY, 0, 0, c.SrcW, c.SrcH)
                        ? srcBefore.At(int(fromX), int(fromY))
                        : dstBefore.At(x, y);
                ASSERT_EQ(dst.At(x, y), expected) << "at " << x << "," << y;
            }
        if (!self) {
            EXPECT_EQ(src.Pixels, srcBefore.Pixels);  // the source is only read
        }
    }
}

}  // namespace

}  // namespace qv
