// Tests for pixel surfaces: colours, fills, clipped pixels, solid and dotted lines, block copies.
#include "display/raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using Point = std::pair<int, int>;  // (x, y)
using Points = std::vector<Point>;

constexpr Colour kInk = 0x3366CC;
constexpr Colour kPaper = 0x0A0B0C;

// The pixels of a surface that hold the given colour, in row-major order.
Points PixelsOf(const Surface& s, Colour colour) {
    Points found;
    for (int y = 0; y < s.Height; ++y)
        for (int x = 0; x < s.Width; ++x)
            if (s.At(x, y) == colour) found.emplace_back(x, y);
    return found;
}

// Row-major sort so expected lists can be written in drawing order.
Points Sorted(Points p) {
    std::sort(p.begin(), p.end(), [](const Point& a, const Point& b) {
        return std::make_pair(a.second, a.first) < std::make_pair(b.second, b.first);
    });
    return p;
}

// Points from (x, y) in steps of (stepX, stepY), count of them.
Points PixelRun(int x, int y, int stepX, int stepY, int count) {
    Points p;
    for (int i = 0; i < count; ++i) p.emplace_back(x + i * stepX, y + i * stepY);
    return p;
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

// ---------------------------------------------------------------------------------------------
// Colours

struct ColourCase {
    int r, g, b;
    Colour expected;
};

class MakeColourTest : public ::testing::TestWithParam<ColourCase> {};

TEST_P(MakeColourTest, ClampsAndPacksRedLowest) {
    const ColourCase& c = GetParam();
    const Colour colour = MakeColour(c.r, c.g, c.b);
    EXPECT_EQ(colour, c.expected);
    EXPECT_EQ(RedOf(colour), static_cast<int>(c.expected & 0xFF));
    EXPECT_EQ(BlueOf(colour), static_cast<int>(c.expected >> 16));
}

INSTANTIATE_TEST_SUITE_P(Raster, MakeColourTest,
                         ::testing::Values(ColourCase{0, 0, 0, kBlack},
                                           ColourCase{255, 255, 255, kWhite},
                                           ColourCase{1, 2, 3, 0x030201},
                                           ColourCase{-5, 300, 128, 0x80FF00},
                                           ColourCase{256, -1, 255, 0xFF00FF},
                                           ColourCase{INT_MIN, INT_MAX, INT_MIN, 0x00FF00}));

// ---------------------------------------------------------------------------------------------
// Surface state, fills and single pixels

TEST(RasterSurface, NewSurfaceIsBlackAndSelectPenReturnsPrevious) {
    Surface s(7, 3);
    ASSERT_EQ(s.Pixels.size(), 21u);
    EXPECT_EQ(PixelsOf(s, kBlack).size(), 21u);

    const Pen dotted{kInk, PenStyle::Dot};
    const Pen first = SelectPen(s, dotted);
    EXPECT_EQ(first.colour, kBlack);
    EXPECT_EQ(first.style, PenStyle::Solid);
    const Pen second = SelectPen(s, Pen{kWhite, PenStyle::Solid});
    EXPECT_EQ(second.colour, kInk);
    EXPECT_EQ(second.style, PenStyle::Dot);
}

TEST(RasterSurface, EmptySurfaceIgnoresEveryOperation) {
    Surface empty(0, 0);
    Surface noRows(5, 0);
    Surface other = PaperSurface(4, 4);
    for (Surface* s : {&empty, &noRows}) {
        FillRect(*s, -1, -1, 10, 10, kInk);
        SetPixel(*s, 0, 0, kInk);
        DrawLine(*s, -3, -3, 8, 8);
        BlockCopy(other, 0, 0, 4, 4, *s, 0, 0);
        BlockCopy(*s, 0, 0, 4, 4, other, 0, 0);
        EXPECT_TRUE(s->Pixels.empty());
        EXPECT_EQ(s->PenX, 8);  // the current position still moves
    }
    EXPECT_EQ(PixelsOf(other, kPaper).size(), 16u);
}

struct FillCase {
    std::string name;
    int x, y, w, h;
};

class FillRectTest : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillRectTest, CoversHalfOpenRectangleClippedToSurface) {
    const FillCase& c = GetParam();
    constexpr int kW = 12, kH = 9;
    Surface s = PaperSurface(kW, kH);
    FillRect(s, c.x, c.y, c.w, c.h, kInk);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const bool inside = x >= c.x && int64_t(x) < int64_t(c.x) + c.w && y >= c.y &&
                                int64_t(y) < int64_t(c.y) + c.h;
            ASSERT_EQ(s.At(x, y), inside ? kInk : kPaper) << "at " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Raster, FillRectTest,
    ::testing::Values(FillCase{"Inside", 2, 3, 4, 2}, FillCase{"SinglePixel", 11, 8, 1, 1},
                      FillCase{"StraddlesTopLeft", -3, -2, 5, 4},
                      FillCase{"StraddlesBottomRight", 9, 7, 10, 10},
                      FillCase{"CoversEverything", -100, -100, 1000, 1000},
                      FillCase{"ZeroWidth", 2, 2, 0, 5}, FillCase{"NegativeHeight", 2, 5, 3, -2},
                      FillCase{"OutsideRight", 12, 0, 5, 5}, FillCase{"OutsideAbove", 0, -5, 5, 5},
                      FillCase{"HugeExtent", INT_MIN, 4, INT_MAX, 1},
                      FillCase{"NearIntMax", INT_MAX - 1, 0, INT_MAX, 5}),
    [](const auto& info) { return info.param.name; });

TEST(RasterSurface, SetPixelClipsAnyCoordinate) {
    Surface s = PaperSurface(5, 4);
    SetPixel(s, 0, 0, kInk);
    SetPixel(s, 4, 3, kInk);
    for (const Point& p : Points{{-1, 0},
                                 {0, -1},
                                 {5, 0},
                                 {0, 4},
                                 {INT_MIN, INT_MIN},
                                 {INT_MAX, INT_MAX},
                                 {INT_MIN, 0},
                                 {2, INT_MAX}})
        SetPixel(s, p.first, p.second, kWhite);
    EXPECT_EQ(PixelsOf(s, kInk), (Points{{0, 0}, {4, 3}}));
    EXPECT_TRUE(PixelsOf(s, kWhite).empty());
}

// ---------------------------------------------------------------------------------------------
// Lines on the surface

struct LineCase {
    std::string name;
    int x0, y0, x1, y1;
    Points expected;  // in any order
};

class SolidLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(SolidLineTest, LightsStartNotEndAndMovesCurrentPosition) {
    const LineCase& c = GetParam();
    Surface s = PaperSurface(200, 200);
    DrawLine(s, c.x0, c.y0, c.x1, c.y1);
    EXPECT_EQ(PixelsOf(s, kInk), Sorted(c.expected));
    EXPECT_EQ(s.PenX, c.x1);
    EXPECT_EQ(s.PenY, c.y1);
}

INSTANTIATE_TEST_SUITE_P(
    Raster, SolidLineTest,
    ::testing::Values(LineCase{"Horizontal", 0, 85, 170, 85, PixelRun(0, 85, 1, 0, 170)},
                      LineCase{"HorizontalLeftwards", 10, 3, 4, 3, PixelRun(10, 3, -1, 0, 6)},
                      LineCase{"VerticalUpwards", 48, 170, 48, 85, PixelRun(48, 170, 0, -1, 85)},
                      LineCase{"VerticalDownwards", 7, 0, 7, 199, PixelRun(7, 0, 0, 1, 199)},
                      LineCase{"Diagonal", 0, 0, 5, 5, PixelRun(0, 0, 1, 1, 5)},
                      LineCase{"AntiDiagonal", 5, 0, 0, 5, PixelRun(5, 0, -1, 1, 5)},
                      LineCase{"DiagonalUpLeft", 9, 9, 6, 6, PixelRun(9, 9, -1, -1, 3)},
                      LineCase{"ZeroLength", 4, 4, 4, 4, {}},
                      LineCase{"SingleStep", 4, 4, 5, 4, {{4, 4}}},
                      // 2 rows over 5 columns: offsets 0, 0.4, 0.8, 1.2, 1.6 round to 0, 0, 1, 1, 2
                      LineCase{"Shallow", 0, 0, 5, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}},
                      LineCase{"Steep", 0, 0, 2, 5, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}}},
                      // exactly halfway between two rows (or columns): the upper (or left) pixel is
                      // lit, whichever way the line runs
                      LineCase{"ShallowTieDown", 0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},
                      LineCase{"ShallowTieUp", 4, 1, 0, 0, {{4, 1}, {3, 1}, {2, 0}, {1, 0}}},
                      LineCase{"ShallowTieRising", 0, 1, 4, 0, {{0, 1}, {1, 1}, {2, 0}, {3, 0}}},
                      LineCase{"SteepTieRight", 0, 0, 1, 4, {{0, 0}, {0, 1}, {0, 2}, {1, 3}}},
                      LineCase{"SteepTieLeft", 1, 0, 0, 4, {{1, 0}, {1, 1}, {0, 2}, {0, 3}}}),
    [](const auto& info) { return info.param.name; });

TEST(RasterLine, PolylineLightsEachJointOnceAndNotTheFinalPoint) {
    Surface s = PaperSurface(10, 10);
    MoveTo(s, 1, 1);
    SelectPen(s, Pen{kInk, PenStyle::Solid});
    LineTo(s, 4, 1);
    LineTo(s, 4, 4);
    LineTo(s, 4, 4);  // zero-length segment in the middle changes nothing
    LineTo(s, 1, 4);
    Points expected = PixelRun(1, 1, 1, 0, 3);
    for (const Points& part : {PixelRun(4, 1, 0, 1, 3), PixelRun(4, 4, -1, 0, 3)})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(PixelsOf(s, kInk), Sorted(expected));
}

class DottedLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(DottedLineTest, ThreeOnThreeOffFromStartGapsUntouched) {
    const LineCase& c = GetParam();
    Surface s = PaperSurface(30, 30);
    DrawLine(s, c.x0, c.y0, c.x1, c.y1, PenStyle::Dot);
    EXPECT_EQ(PixelsOf(s, kInk), Sorted(c.expected));
    // everything not drawn still shows the paper underneath
    EXPECT_EQ(PixelsOf(s, kPaper).size(), 30u * 30u - c.expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Raster, DottedLineTest,
    ::testing::Values(
        LineCase{"Rightwards",
                 0,
                 0,
                 14,
                 0,
                 {{0, 0}, {1, 0}, {2, 0}, {6, 0}, {7, 0}, {8, 0}, {12, 0}, {13, 0}}},
        LineCase{
            "Leftwards", 13, 2, 0, 2, {{13, 2}, {12, 2}, {11, 2}, {7, 2}, {6, 2}, {5, 2}, {1, 2}}},
        // counted along the major axis (rows), not along the Euclidean length
        LineCase{"Steep", 0, 0, 2, 8, {{0, 0}, {0, 1}, {0, 2}, {1, 6}, {2, 7}}},
        LineCase{"Diagonal", 0, 0, 8, 8, {{0, 0}, {1, 1}, {2, 2}, {6, 6}, {7, 7}}},
        LineCase{"ShorterThanDash", 3, 3, 5, 3, {{3, 3}, {4, 3}}},
        // the pattern keeps its phase from the real start point when the start is clipped
        LineCase{"StartClipped", -4, 5, 10, 5, {{2, 5}, {3, 5}, {4, 5}, {8, 5}, {9, 5}}},
        LineCase{"StartClippedSteep", 9, -5, 9, 8, {{9, 1}, {9, 2}, {9, 3}, {9, 7}}}),
    [](const auto& info) { return info.param.name; });

TEST(RasterLine, DottedPatternRestartsAtEveryLineTo) {
    Surface s = PaperSurface(12, 3);
    SelectPen(s, Pen{kInk, PenStyle::Dot});
    MoveTo(s, 0, 1);
    LineTo(s, 4, 1);   // 0, 1, 2 on; 3 off
    LineTo(s, 11, 1);  // restarts at 4: 4, 5, 6 on; 7, 8, 9 off; 10 on
    EXPECT_EQ(PixelsOf(s, kInk), (Points{{0, 1}, {1, 1}, {2, 1}, {4, 1}, {5, 1}, {6, 1}, {10, 1}}));
}

// ---------------------------------------------------------------------------------------------
// Lines partly or wholly off the surface

// A small window onto a big surface: the window's pixels must match the big surface's pixels
// at the same place, i.e. clipping never shifts a line.
struct ClipCase {
    std::string name;
    int x0, y0, x1, y1;  // in the small surface's coordinates
    PenStyle style;
    bool anyInside;  // whether the line crosses the small surface at all
};

class ClippedLineTest : public ::testing::TestWithParam<ClipCase> {};

TEST_P(ClippedLineTest, WindowShowsSamePixelsAsLargeSurface) {
    const ClipCase& c = GetParam();
    constexpr int kW = 23, kH = 17, kOffset = 1500, kBig = 3100;
    Surface small = PaperSurface(kW, kH);
    Surface big = PaperSurface(kBig, kBig);
    DrawLine(small, c.x0, c.y0, c.x1, c.y1, c.style);
    DrawLine(big, c.x0 + kOffset, c.y0 + kOffset, c.x1 + kOffset, c.y1 + kOffset, c.style);
    int lit = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            ASSERT_EQ(small.At(x, y), big.At(x + kOffset, y + kOffset)) << "at " << x << "," << y;
            lit += small.At(x, y) == kInk;
        }
    }
    EXPECT_EQ(lit > 0, c.anyInside);
}

INSTANTIATE_TEST_SUITE_P(
    Raster, ClippedLineTest,
    ::testing::Values(ClipCase{"EntersFromLeft", -700, 3, 10, 9, PenStyle::Solid, true},
                      ClipCase{"LeavesRight", 5, 16, 900, -3, PenStyle::Solid, true},
                      ClipCase{"CrossesShallow", -1400, -20, 1400, 40, PenStyle::Solid, true},
                      ClipCase{"CrossesSteep", -5, -1499, 30, 1400, PenStyle::Solid, true},
                      ClipCase{"CrossesSteepBackwards", 29, 1397, -7, -1403, PenStyle::Solid, true},
                      ClipCase{"CornerToCorner", -1000, -1000, 1000, 1000, PenStyle::Solid, true},
                      ClipCase{"ClipsTopAndBottom", 3, -1200, 20, 1333, PenStyle::Solid, true},
                      ClipCase{"GrazesCorner", -10, 5, 5, -10, PenStyle::Solid, false},
                      ClipCase{"MissesAbove", -50, -3, 100, -1, PenStyle::Solid, false},
                      ClipCase{"DottedCrossesShallow", -1399, 2, 1401, 13, PenStyle::Dot, true},
                      ClipCase{"DottedCrossesSteep", 1, 1450, 12, -1457, PenStyle::Dot, true},
                      // entering or leaving through the edges along the minor axis
                      ClipCase{"ShallowEntersTop", -10, -5, 30, 10, PenStyle::Solid, true},
                      ClipCase{"ShallowLeavesBottom", 0, 8, 20, 20, PenStyle::Solid, true},
                      ClipCase{"ShallowEntersBottom", -10, 25, 30, 5, PenStyle::Solid, true},
                      ClipCase{"SteepEntersLeft", -5, 0, 10, 16, PenStyle::Solid, true},
                      ClipCase{"SteepLeavesRight", 20, 0, 30, 16, PenStyle::Solid, true},
                      ClipCase{"SteepEntersRight", 28, 0, 14, 16, PenStyle::Dot, true}),
    [](const auto& info) { return info.param.name; });

// Far-away end points, up to the int limits, with pixels known exactly.
struct FarCase {
    std::string name;
    int x0, y0, x1, y1;
    Points expected;
};

class FarLineTest : public ::testing::TestWithParam<FarCase> {};

TEST_P(FarLineTest, DrawsExactPixelsWithoutOverflow) {
    const FarCase& c = GetParam();
    Surface s = PaperSurface(20, 20);
    DrawLine(s, c.x0, c.y0, c.x1, c.y1);
    EXPECT_EQ(PixelsOf(s, kInk), Sorted(c.expected));
}

Points FarTiePixels() {
    Points p = {{0, 0}};
    const Points rest = PixelRun(1, 1, 1, 0, 19);
    p.insert(p.end(), rest.begin(), rest.end());
    return p;
}

constexpr int kBillion = 1000000000;

INSTANTIATE_TEST_SUITE_P(
    Raster, FarLineTest,
    ::testing::Values(
        FarCase{"VerticalHuge", 5, -100000, 5, kBillion, PixelRun(5, 0, 0, 1, 20)},
        FarCase{"VerticalIntLimits", 5, INT_MAX, 5, INT_MIN, PixelRun(5, 0, 0, 1, 20)},
        FarCase{"HorizontalIntLimits", INT_MIN, 7, INT_MAX, 7, PixelRun(0, 7, 1, 0, 20)},
        FarCase{"DiagonalIntLimits", INT_MIN, INT_MIN, INT_MAX, INT_MAX, PixelRun(0, 0, 1, 1, 20)},
        FarCase{"AntiDiagonalMisses", INT_MAX, INT_MIN, INT_MIN, INT_MAX, {}},
        // over 2e9 columns the line rises 2 rows: row 1 throughout the window
        FarCase{"ShallowFar", -kBillion, 0, kBillion, 2, PixelRun(0, 1, 1, 0, 20)},
        // rising one row over 2e9 columns puts the halfway point exactly at x = 0
        FarCase{"FarTie", -kBillion, 0, kBillion, 1, FarTiePixels()},
        FarCase{"FarTieBackwards", kBillion, 1, -kBillion, 0, FarTiePixels()},
        FarCase{"EndsInsideFromFar", 3, -kBillion, 3, 4, PixelRun(3, 0, 0, 1, 4)},
        FarCase{"StartsInsideGoesFar", 2, 2, INT_MAX, 2, PixelRun(2, 2, 1, 0, 18)},
        FarCase{"FarOutsideParallel", INT_MIN, -1, INT_MAX, -1, {}}),
    [](const auto& info) { return info.param.name; });

// Every pairing of end points around, on and across the edges of a small surface, solid and
// dotted: each line must light exactly the window pixels it lights on a larger surface.
TEST(RasterLine, EndPointSweepMatchesLargeSurface) {
    constexpr int kW = 23, kH = 17, kOffset = 64;
    const int xs[] = {-37, -9, -1, 0, 5, 11, 22, 23, 31, 58};
    const int ys[] = {-41, -6, -1, 0, 7, 16, 17, 29, 50};
    Surface small(kW, kH);
    Surface big(kW + 2 * kOffset, kH + 2 * kOffset);
    Colour ink = 0;
    for (const PenStyle style : {PenStyle::Solid, PenStyle::Dot}) {
        for (int x0 : xs)
            for (int y0 : ys)
                for (int x1 : xs)
                    for (int y1 : ys) {
                        // a fresh colour per line, so earlier lines never need clearing
                        SelectPen(small, Pen{++ink, style});
                        SelectPen(big, Pen{ink, style});
                        MoveTo(small, x0, y0);
                        LineTo(small, x1, y1);
                        MoveTo(big, x0 + kOffset, y0 + kOffset);
                        LineTo(big, x1 + kOffset, y1 + kOffset);
                        for (int y = 0; y < kH; ++y)
                            for (int x = 0; x < kW; ++x)
                                ASSERT_EQ(small.At(x, y) == ink,
                                          big.At(x + kOffset, y + kOffset) == ink)
                                    << "(" << x0 << "," << y0 << ")->(" << x1 << "," << y1
                                    << ") at " << x << "," << y;
                    }
    }
}

// Stepping through the off-surface billions would take minutes: the test's time-out catches it.
TEST(RasterLine, HugeLinesTakeNoTimeProportionalToTheirLength) {
    Surface s = PaperSurface(768, 340);
    SelectPen(s, Pen{kInk, PenStyle::Dot});
    for (int i = 0; i < 200; ++i) {
        MoveTo(s, INT_MIN + i, -kBillion);
        LineTo(s, INT_MAX - i, kBillion + i);
        MoveTo(s, i, INT_MIN);
        LineTo(s, 767 - i, INT_MAX);
    }
    EXPECT_FALSE(PixelsOf(s, kInk).empty());
}

// ---------------------------------------------------------------------------------------------
// Block copies

// A distinct, non-zero value per pixel so any misplaced copy shows.
Surface Patterned(int w, int h, Colour base) {
    Surface s(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) SetPixel(s, x, y, base + x + 4096u * y);
    return s;
}

struct CopyCase {
    std::string name;
    int srcW, srcH;  // source surface size
    int dstW, dstH;  // destination surface size; 0 = copy within the source surface
    int sx, sy, w, h, dx, dy;
};

class BlockCopyTest : public ::testing::TestWithParam<CopyCase> {};

// Each destination pixel inside the block takes the source pixel paired with it, if that
// source pixel exists; everything else keeps its old value. For a copy within one surface
// the source is read as it was before the copy.
TEST_P(BlockCopyTest, CopiesPairedPixelsThatExistOnBothSurfaces) {
    const CopyCase& c = GetParam();
    const bool self = c.dstW == 0;
    Surface src = Patterned(c.srcW, c.srcH, 1);
    Surface other = Patterned(c.dstW, c.dstH, 0x800000);
    Surface& dst = self ? src : other;
    const Surface srcBefore = src;
    const Surface dstBefore = dst;

    BlockCopy(src, c.sx, c.sy, c.w, c.h, dst, c.dx, c.dy);

    for (int y = 0; y < dst.Height; ++y) {
        for (int x = 0; x < dst.Width; ++x) {
            const int64_t fromX = int64_t(x) - c.dx + c.sx;
            const int64_t fromY = int64_t(y) - c.dy + c.sy;
            const bool inBlock = x >= c.dx && int64_t(x) < int64_t(c.dx) + c.w && y >= c.dy &&
                                 int64_t(y) < int64_t(c.dy) + c.h;
            const bool sourceExists = fromX >= 0 && fromY >= 0 && fromX < c.srcW && fromY < c.srcH;
            Colour expected = dstBefore.At(x, y);
            if (inBlock && sourceExists) {
                expected = srcBefore.At(static_cast<int>(fromX), static_cast<int>(fromY));
            }
            ASSERT_EQ(dst.At(x, y), expected) << "at " << x << "," << y;
        }
    }
    if (!self) {
        EXPECT_EQ(src.Pixels, srcBefore.Pixels);  // the source is only read
    }
}

INSTANTIATE_TEST_SUITE_P(
    Raster, BlockCopyTest,
    ::testing::Values(CopyCase{"Inside", 20, 15, 18, 12, 3, 2, 5, 4, 7, 6},
                      CopyCase{"SourceLeftOfEdge", 20, 15, 18, 12, -3, 2, 8, 4, 5, 1},
                      CopyCase{"SourceAboveEdge", 20, 15, 18, 12, 2, -4, 5, 9, 0, 3},
                      CopyCase{"SourcePastRight", 20, 15, 18, 12, 16, 1, 10, 3, 2, 2},
                      CopyCase{"SourcePastBottom", 20, 15, 18, 12, 1, 12, 4, 10, 6, 0},
                      CopyCase{"DestLeftOfEdge", 20, 15, 18, 12, 4, 4, 6, 3, -2, 5},
                      CopyCase{"DestAboveEdge", 20, 15, 18, 12, 4, 4, 6, 5, 1, -3},
                      CopyCase{"DestPastRight", 20, 15, 18, 12, 0, 0, 10, 4, 14, 2},
                      CopyCase{"DestPastBottom", 20, 15, 18, 12, 0, 0, 4, 10, 3, 9},
                      CopyCase{"BothClippedOpposite", 20, 15, 18, 12, -5, 10, 40, 40, 3, -6},
                      CopyCase{"EntirelyOffSource", 20, 15, 18, 12, 20, 0, 5, 5, 0, 0},
                      CopyCase{"EntirelyOffDest", 20, 15, 18, 12, 0, 0, 5, 5, 0, -5},
                      CopyCase{"NegativeSize", 20, 15, 18, 12, 0, 0, -5, 5, 0, 0},
                      CopyCase{"IntLimits", 20, 15, 18, 12, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0,
                               0},
                      CopyCase{"HugeSizeClipped", 20, 15, 18, 12, -5, -2, INT_MAX, INT_MAX, 0, 0},
                      CopyCase{"IntLimitsDest", 20, 15, 18, 12, 0, 0, INT_MAX, INT_MAX, INT_MAX, 0},
                      CopyCase{"ChartScrollLeft", 768, 340, 0, 0, 1, 0, 768, 340, 0, 0},
                      CopyCase{"ShiftRight", 40, 30, 0, 0, 0, 0, 40, 30, 1, 0},
                      CopyCase{"ShiftUp", 40, 30, 0, 0, 0, 1, 40, 30, 0, 0},
                      CopyCase{"ShiftDown", 40, 30, 0, 0, 0, 0, 40, 30, 0, 1},
                      CopyCase{"ShiftDownRightOverlap", 40, 30, 0, 0, 5, 5, 20, 20, 8, 9},
                      CopyCase{"ShiftUpLeftOverlap", 40, 30, 0, 0, 8, 9, 20, 20, 5, 5},
                      CopyCase{"OntoItself", 40, 30, 0, 0, 3, 3, 10, 10, 3, 3},
                      CopyCase{"DialOntoPanel", 170, 170, 126, 168, 22, 1, 126, 168, 0, 0},
                      CopyCase{"WholeDialOntoPanel", 170, 170, 126, 168, 0, 0, 170, 170, 0, 0},
                      CopyCase{"PanelOntoDialOffset", 126, 168, 170, 170, 0, 0, 126, 168, 50, 10}),
    [](const auto& info) { return info.param.name; });

TEST(RasterCopy, ChartScrollMovesColumnsLeftAndKeepsLastColumn) {
    constexpr int kW = 768, kH = 340;
    Surface s(kW, kH);
    for (int x = 0; x < kW; ++x) FillRect(s, x, 0, 1, kH, MakeColour(x % 256, x / 256, 7));
    BlockCopy(s, 1, 0, kW, kH, s, 0, 0);
    for (int x = 0; x < kW; ++x) {
        const int shown = x == kW - 1 ? x : x + 1;  // nothing exists beyond the last column
        const Colour expected = MakeColour(shown % 256, shown / 256, 7);
        ASSERT_EQ(s.At(x, 0), expected) << "column " << x;
        ASSERT_EQ(s.At(x, kH - 1), expected) << "column " << x;
    }
}

}  // namespace
