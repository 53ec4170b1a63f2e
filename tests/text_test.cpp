// Label text: font heights, where the glyphs land, their colour, clipping and the face lookup.
#include "display/text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/surface_checks.h"

namespace qv {

namespace {

const Colour kYellow = MakeColour(255, 255, 0);

TEST(LabelFont, HeightsFollowTheScreenResolution) {
    EXPECT_EQ(MakeLabelFont(8, 96).PixelHeight, 10);
    EXPECT_EQ(MakeLabelFont(10, 96).PixelHeight, 13);
    EXPECT_EQ(MakeLabelFont(8, 120).PixelHeight, 13);
    EXPECT_EQ(MakeLabelFont(10, 120).PixelHeight, 16);
    EXPECT_EQ(MakeLabelFont(8, 72).PixelHeight, 8);
    EXPECT_EQ(MakeLabelFont(7, 100).PixelHeight, 9);  // 9.72 truncated

    // The glyphs grow with the height: a capital H is about seven tenths of the em.
    int previous = 0;
    for (int height : {10, 13, 16}) {
        Surface s(60, 40);
        s.SelectedFont.PixelHeight = height;
        s.TextColour = kYellow;
        DrawText(s, 2, 2, "H");
        const InkBox box = FindInk(s, kBlack);
        EXPECT_GT(box.Height(), previous) << height;
        EXPECT_NEAR(box.Height(), 0.72 * height, 1.0) << height;
        EXPECT_LE(box.Bottom, 2 + TextCellHeight(height)) << height;
        previous = box.Height();
    }
}

TEST(LabelText, TransparentBackgroundAndClippedAtTheEdges) {
    // Transparent: a patterned field keeps every pixel the glyphs do not cover.
    Surface field(80, 30);
    for (int y = 0; y < field.Height; ++y)
        for (int x = 0; x < field.Width; ++x) SetPixel(field, x, y, MakeColour(x, y, 7));
    Surface drawn = field;
    SelectFont(drawn, Font{10});
    drawn.TextColour = kYellow;
    DrawText(drawn, 3, 5, "IntQ");
    int changed = 0;
    for (int y = 0; y < field.Height; ++y) {
        for (int x = 0; x < field.Width; ++x) {
            if (drawn.At(x, y) == field.At(x, y)) continue;
            ++changed;
            EXPECT_EQ(drawn.At(x, y), kYellow);
        }
    }
    EXPECT_GT(changed, 10);

    // Text hanging over every edge draws the part inside, pixel for pixel as unclipped.
    Surface big(200, 100);
    SelectFont(big, Font{13});
    big.TextColour = kYellow;
    DrawText(big, 50 - 12, 50 - 6, "Current time = 12:34:56");
    Surface small(40, 12);
    SelectFont(small, Font{13});
    small.TextColour = kYellow;
    DrawText(small, -12, -6, "Current time = 12:34:56");
    for (int y = 0; y < small.Height; ++y)
        for (int x = 0; x < small.Width; ++x) ASSERT_EQ(small.At(x, y), big.At(50 + x, 50 + y));
    DrawText(small, 100000, -100000, "far away");  // nothing, and no fault
    DrawText(small, -2000000000, 5, "far away");
}

TEST(LabelText, NothingWithoutAFontAndAnyBytesAreSafe) {
    Surface s(40, 20);
    s.TextColour = kYellow;
    DrawText(s, 1, 1, "IntI");  // no font selected yet
    EXPECT_TRUE(FindInk(s, kBlack).Empty());
    s.SelectedFont.PixelHeight = 10;
    DrawText(s, 1, 1, std::string_view("\xff\xc3\x28\xe2\x82\xf0\x9f", 7));
    DrawText(s, 1, 1, "");
    EXPECT_EQ(TextWidth(10, ""), 0);
    EXPECT_EQ(CountOther(s, {kBlack, kYellow}), 0);
    // A character in UTF-8 is one glyph, not two.
    EXPECT_EQ(TextWidth(10, "\xc2\xb4"), TextWidth(10, "\xb4"));
}

// A chart label, pixel for pixel, with its width and cell height: the same on Linux (FreeType)
// and Windows (GDI), both drawing the "Arial" face (Liberation Sans) with hinted whole-pixel
// advances.
TEST(LabelText, AChartLabelIsTheSamePixelsOnEveryPlatform) {
    Surface s(76, 11);
    s.TextColour = kYellow;
    SelectFont(s, MakeLabelFont(8, 96));
    DrawText(s, 1, 1, "Phase -12.5 dB");
    const char* expected[] = {
        "............................................................................",
        "............................................................................",
        "............................................................................",
        "..####...#............................##..####.....#####........#..####.....",
        "..#...#..#...........................#.#......#....#............#..#...#....",
        "..#...#..###...###...##...##...........#......#....####.......###..#...#....",
        "..####...#..#.....#.#....#..#..........#....##.....#...#.....#..#..####.....",
        "..#......#..#...###..#...####....###...#...#...........#.....#..#..#...#....",
        "..#......#..#..#..#...#..#.............#..#............#.....#..#..#...#....",
        "..#......#..#...##.###....###........##########..#.####.......###..####.....",
        "............................................................................",
    };
    for (int y = 0; y < s.Height; ++y) {
        std::string row;
        for (int x = 0; x < s.Width; ++x) row += s.At(x, y) == kYellow ? '#' : '.';
        EXPECT_EQ(row, expected[y]) << "row " << y;
    }
    EXPECT_EQ(CountOther(s, {kBlack, kYellow}), 0) << "exactly the text colour";
    EXPECT_EQ(TextWidth(10, "Phase -12.5 dB"), 72);
    EXPECT_EQ(TextWidth(10, ""), 0);
    // A character in UTF-8 is one glyph, not two.
    EXPECT_EQ(TextWidth(10, "\xc2\xb4"), TextWidth(10, "\xb4"));
    EXPECT_EQ(TextCellHeight(10), 11);
}

TEST(LabelFace, ArialOrAFaceWithItsMetricsElseSansSerifWithAWarning) {
    const LabelFaceInfo& arial = LabelFace();
    EXPECT_FALSE(arial.Family.empty());
    EXPECT_TRUE(arial.Problem.empty()) << arial.Problem;

    const LabelFaceInfo missing = FindLabelFace("No Such Face For Labels");
    EXPECT_FALSE(missing.Family.empty());  // still a face to draw with
    EXPECT_NE(missing.Problem.find("\"No Such Face For Labels\""), std::string::npos);
    EXPECT_NE(missing.Problem.find(missing.Family), std::string::npos);
}

}  // namespace

}  // namespace qv
