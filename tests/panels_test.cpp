// The panels' fixed content: chart frame and clear, click-scope backgrounds and marker, the
// empty I/Q panel and the magnification options.
#include <gtest/gtest.h>

#include <cmath>

#include "display/text.h"
#include "display/traces.h"
#include "tests/chain_fixture.h"
#include "tests/surface_checks.h"

namespace qv {

namespace {

const Colour kPhaseLabel = MakeColour(0, 128, 0);
const Colour kLevelText = MakeColour(128, 0, 0);
const Colour kPhaseGrid = MakeColour(0, 192, 0);
const Colour kDarkRed = MakeColour(192, 0, 0);
const Colour kYellow = MakeColour(255, 255, 0);
const Colour kGreen = MakeColour(0, 255, 0);
const Colour kRed = MakeColour(255, 0, 0);

// `text` alone in the 8-point label font at 96 dots per inch on a white chart-sized surface.
Surface Lettered(int x, int y, Colour colour, const std::string& text) {
    Surface s(kChartWidth, kChartHeight);
    FillWhite(s, 0, 0, s.Width, s.Height);
    s.TextColour = colour;
    SelectFont(s, MakeLabelFont(8, 96));
    DrawText(s, x, y, text);
    return s;
}

Surface FramedChart(Display& d, int integrationSeconds) {
    Surface s(kChartWidth, kChartHeight);
    FillWhite(s, 0, 0, s.Width, s.Height);
    DrawChartFrame(d, s, integrationSeconds, "12:34:56");
    return s;
}

int GridPixels(const Surface& s, int row, Colour colour) {
    return CountColour(s, colour, 0, row, s.Width, row + 1);
}

void CloseOnePeriod(StartedChain& c) {
    for (int k = 0; k < 8000 * c.M.Params.IntegrationSeconds; ++k) IntegrateSample(c.M, 0, 0);
}

TEST(ChartFrame, DottedGridRowsEndBeforeTheLabels) {
    Display d;
    const Surface s = FramedChart(d, 3);
    // Three on, three off from x = 0; the phase rows stop before 736, the level rows before 731.
    for (int row : {145, 177, 210}) {
        EXPECT_EQ(GridPixels(s, row, kPhaseGrid), 369) << row;
        EXPECT_EQ(s.At(2, row), kPhaseGrid);
        EXPECT_EQ(s.At(3, row), kWhite);
        EXPECT_EQ(s.At(734, row), kPhaseGrid);
        EXPECT_EQ(FindInk(s, kWhite, 735, row, 740, row + 1).Empty(), true) << row;
    }
    for (int row : {13, 45, 77, 109}) {
        EXPECT_EQ(GridPixels(s, row, kDarkRed), 366) << row;
        EXPECT_EQ(s.At(728, row), kDarkRed);
        EXPECT_EQ(FindInk(s, kWhite, 729, row, 735, row + 1).Empty(), true) << row;
    }
    EXPECT_EQ(GridPixels(s, 146, kPhaseGrid) + GridPixels(s, 14, kDarkRed), 0);
    EXPECT_EQ(CountOther(s, {kWhite, kPhaseLabel, kLevelText, kPhaseGrid, kDarkRed}), 0);
}

TEST(ChartFrame, LabelsAndTextLineAtTheirPlaces) {
    Display d;
    d.ChartStartTime = "08:00:00";
    const Surface s = FramedChart(d, 3);
    const int cell = TextCellHeight(10);
    // Each label exactly as drawn alone, in its colour (the grid rows crossing it aside).
    struct Label {
        int X, Y;
        qv::Colour Colour;
        const char* Text;
    };
    for (const Label& l :
         {Label{740, 138, kPhaseLabel, " 180"}, Label{740, 170, kPhaseLabel, "   0"},
          Label{740, 203, kPhaseLabel, "-180"}, Label{735, 5, kLevelText, "  0dB"},
          Label{735, 37, kLevelText, "-30dB"}, Label{735, 70, kLevelText, "-60dB"},
          Label{735, 103, kLevelText, "-90dB"}}) {
        const Surface alone = Lettered(l.X, l.Y, l.Colour, l.Text);
        const InkBox box = FindInk(alone, kWhite);
        ASSERT_FALSE(box.Empty()) << l.Text;
        EXPECT_GE(box.Top, l.Y);
        EXPECT_LE(box.Bottom, l.Y + cell);
        for (int y = box.Top; y < box.Bottom; ++y) {
            for (int x = box.Left; x < box.Right; ++x) {
                if (alone.At(x, y) == l.Colour) {
                    ASSERT_EQ(s.At(x, y), l.Colour) << l.Text;
                }
            }
        }
    }
    // The text line: two blanks before a one-digit time, the unit always " secs".
    const std::string texts[] = {"Current time = 12:34:56", "Integration time =  3 secs",
                                 "Ticks at  30 secs     Start time = 08:00:00"};
    const int xs[] = {10, 300, 560};
    for (int i = 0; i < 3; ++i) {
        const Surface alone = Lettered(xs[i], 315, kLevelText, texts[i]);
        const InkBox box = FindInk(alone, kWhite);
        EXPECT_TRUE(
            SameBlock(s, box.Left, box.Top, alone, box.Left, box.Top, box.Width(), box.Height()))
            << texts[i];
    }
}

TEST(ChartFrame, TextLineFollowsTheIntegrationTimeAndTheStartTime) {
    Display d;
    const Surface empty = FramedChart(d, 1);
    // Before the first start or clear the tick text ends at "Start time = ".
    const Surface ticks = Lettered(560, 315, kLevelText, "Ticks at  10 secs     Start time = ");
    EXPECT_TRUE(SameBlock(empty, 560, 312, ticks, 560, 312, kChartWidth - 560, 28));
    const Surface one = Lettered(300, 315, kLevelText, "Integration time =  1 secs");
    EXPECT_TRUE(SameBlock(empty, 300, 312, one, 300, 312, 250, 28));

    d.ChartStartTime = "23:59:59";
    const Surface started = FramedChart(d, 3);
    EXPECT_FALSE(SameBlock(started, 560, 312, ticks, 560, 312, kChartWidth - 560, 28));
    EXPECT_FALSE(SameBlock(started, 300, 312, one, 300, 312, 250, 28));

    // Up to T = 9999 s the tick text stands at x = 560 as always; from 10000 s on it would run
    // past the edge ("Start time = 23:5"), so it ends there, its ink whole.
    for (const int t : {9999, 10000, 268435}) {
        const std::string text =
            "Ticks at  " + std::to_string(10 * t) + " secs     Start time = 23:59:59";
        Surface wide(2 * kChartWidth, kChartHeight);
        FillWhite(wide, 0, 0, wide.Width, wide.Height);
        wide.TextColour = kLevelText;
        SelectFont(wide, MakeLabelFont(8, 96));
        DrawText(wide, 0, 315, text);
        const int inkWidth = FindInk(wide, kWhite).Width();
        const int x = t < 10000 ? 560 : kChartWidth - TextWidth(10, text);
        const Surface s = FramedChart(d, t);
        const Surface alone = Lettered(x, 315, kLevelText, text);
        EXPECT_TRUE(SameBlock(s, 452, 312, alone, 452, 312, kChartWidth - 452, 28)) << t;
        const InkBox drawn = FindInk(s, kWhite, 452, 312);
        EXPECT_EQ(drawn.Width(), t < 10000 ? inkWidth - 1 : inkWidth) << t;
        EXPECT_LE(drawn.Right, kChartWidth) << t;
    }
}

TEST(ChartTrace, ScrollsOnePixelPerPeriodAndClearLeavesThePanel) {
    StartedChain c;
    for (int p = 0; p < 10; ++p) CloseOnePeriod(c);
    EXPECT_EQ(ChartTrace(c.M.Screen).At(739, 335), kRed);  // the tick of the tenth period
    CloseOnePeriod(c);
    const Surface trace = ChartTrace(c.M.Screen);
    EXPECT_EQ(trace.At(738, 335), kRed);
    EXPECT_EQ(trace.At(739, 335), kWhite);
    EXPECT_EQ(c.M.Screen.ChartColumn, 11);
    // What the panel shows is the composed chart of the last period end.
    EXPECT_TRUE(SameBlock(c.M.Screen.ChartPanel, 0, 0, c.M.Screen.ChartComposeSurface, 0, 0,
                          kChartPanelWidth - 2, kChartPanelHeight - 2));

    const Surface shown = c.M.Screen.ChartPanel;
    c.M.Screen.ChartStartTime = "before";
    ClearChart(c.M);
    EXPECT_EQ(c.M.Screen.ChartColumn, 0);
    EXPECT_EQ(c.M.Screen.ChartStartTime, "00:00:00");       // the host's time of day
    EXPECT_EQ(c.M.Screen.ChartPanel.Pixels, shown.Pixels);  // the old chart stays on screen
    EXPECT_EQ(CountOther(ChartTrace(c.M.Screen), {kWhite}), 0);
    EXPECT_EQ(CountOther(c.M.Screen.CaptureSurface, {kWhite}), 0);
}

// The trace's surface turns as a ring of columns; the chart it gives, composed and repainted,
// must be the picture moved one pixel left per period, dots clipped at the top, across the
// ring's wrap-around and a clear. The dots come from the same periods plotted one by one on a
// chart that never scrolls. A panel owed (its host shows none) and paid by the clear or at the
// end is the panel shown at once.
TEST(ChartTrace, RingGivesThePictureMovedLeftAcrossWrapAroundAndClear) {
    Display d, owing;
    for (Display* c : {&d, &owing}) {
        CreateDisplaySurfaces(*c, 3, "00:00:00");
        CompleteDisplaySurfaces(*c);
    }
    Surface moved(kChartWidth, kChartHeight);
    FillWhite(moved, 0, 0, kChartWidth, kChartHeight);
    for (int p = 0; p < 1700; ++p) {
        const long double phase = 3 * std::sin(p * 0.05L);
        const long double level = -40 + 30 * std::cos(p * 0.013L);  // rows -13 .. 47
        const std::string now = "00:00:" + std::to_string(p % 60);
        Display dots;
        dots.ChartTraceSurface = Surface(kChartWidth, kChartHeight);
        FillWhite(dots.ChartTraceSurface, 0, 0, kChartWidth, kChartHeight);
        dots.TickCount = d.TickCount;
        PlotPeriod(dots, phase, level);
        for (size_t k = 0; k < moved.Pixels.size(); ++k) {
            if (dots.ChartTraceSurface.Pixels[k] != kWhite) {
                moved.Pixels[k] = dots.ChartTraceSurface.Pixels[k];
            }
        }
        for (Display* c : {&d, &owing}) {
            PlotPeriod(*c, phase, level);
            ScrollChart(*c, 3, now, c == &d);
        }
        BlockCopy(moved, 1, 0, kChartWidth, kChartHeight, moved, 0, 0);
        if (p == 1000) {
            for (Display* c : {&d, &owing}) ClearChart(*c, 3, now);
            ASSERT_EQ(owing.ChartPanel.Pixels, d.ChartPanel.Pixels);
            FillWhite(moved, 0, 0, kChartWidth, kChartHeight);
        }
        if (p % 97 == 0 || (p >= 765 && p <= 769)) {
            ASSERT_EQ(ChartTrace(d).Pixels, moved.Pixels) << p;
        }
    }
    EXPECT_GT(CountOther(moved, {kWhite}), 1000);
    Surface framed = moved;
    DrawChartFrame(d, framed, 3, "00:00:19");
    EXPECT_EQ(d.ChartComposeSurface.Pixels, framed.Pixels);
    EXPECT_TRUE(
        SameBlock(d.ChartPanel, 0, 0, framed, 0, 0, kChartPanelWidth - 2, kChartPanelHeight - 2));
    ShowChartPanel(owing);
    EXPECT_EQ(owing.ChartPanel.Pixels, d.ChartPanel.Pixels);
    RepaintPanels(d, 3, "00:00:19");
    EXPECT_EQ(d.ChartPanel.Pixels, owing.ChartPanel.Pixels);
}

TEST(CaptureScreen, ComposesTheChartWithoutTouchingIt) {
    StartedChain c;
    for (int p = 0; p < 10; ++p) CloseOnePeriod(c);
    const Surface trace = ChartTrace(c.M.Screen);
    CaptureScreen(c.M);
    const Surface& capture = c.M.Screen.CaptureSurface;
    EXPECT_EQ(capture.At(739, 335), kRed);      // the trace
    EXPECT_EQ(capture.At(0, 145), kPhaseGrid);  // the frame over it
    EXPECT_EQ(ChartTrace(c.M.Screen).Pixels, trace.Pixels);
    EXPECT_EQ(c.M.Screen.ChartColumn, 10);
}

TEST(ClickScope, StartUpBackgroundAndTheRedrawDifferByAPixelOrTwo) {
    StartedChain c;
    const Surface startUp = c.M.Screen.ScopeBackSurface;
    // Start-up: the client rectangle 126 x 168.
    EXPECT_EQ(CountColour(startUp, kDarkRed, 0, 84, 170, 85), 126);
    EXPECT_EQ(startUp.At(48, 168), kYellow);
    EXPECT_EQ(startUp.At(48, 85), kYellow);
    EXPECT_EQ(startUp.At(48, 84), kDarkRed);
    const InkBox rf = FindInk(startUp, kBlack, 0, 60, 47, 84);
    const InkBox pps = FindInk(startUp, kBlack, 0, 140, 47, 168);
    EXPECT_GE(rf.Top, 69);
    EXPECT_GE(pps.Top, 153);

    RedrawScopeBackground(c.M.Screen);
    const Surface redrawn = c.M.Screen.ScopeBackSurface;
    EXPECT_EQ(CountColour(redrawn, kDarkRed, 0, 84, 170, 85), 0);
    EXPECT_EQ(CountColour(redrawn, kDarkRed, 0, 85, 170, 86), 128);
    EXPECT_EQ(redrawn.At(48, 169), kYellow);
    EXPECT_EQ(redrawn.At(48, 85), kDarkRed);
    EXPECT_EQ(redrawn.At(48, 86), kYellow);
    // The labels move down by one and two rows.
    EXPECT_TRUE(
        SameBlock(redrawn, rf.Left, rf.Top + 1, startUp, rf.Left, rf.Top, rf.Width(), rf.Height()));
    EXPECT_TRUE(SameBlock(redrawn, pps.Left, pps.Top + 2, startUp, pps.Left, pps.Top, pps.Width(),
                          pps.Height()));
    EXPECT_EQ(CountOther(redrawn, {kBlack, kDarkRed, kYellow}), 0);
}

TEST(ClickScope, MarkerDottedAtAnEvenXAboveTheDivider) {
    StartedChain c;
    for (int panelX : {25, 24}) {
        SetClickPositionFromScope(c.M, panelX);
        const Surface& s = c.M.Screen.ScopeBackSurface;
        EXPECT_EQ(c.M.Lock.ClickPosition, 12);
        // From row 84 upwards, three on and three off; the top row is the excluded end point.
        for (int row = 60; row >= 1; --row) {
            EXPECT_EQ(s.At(24, row), (84 - row) % 6 < 3 ? kYellow : kBlack) << row;
        }
        EXPECT_EQ(s.At(24, 84), kYellow);
        EXPECT_EQ(s.At(24, 0), kBlack);
        EXPECT_EQ(CountColour(s, kYellow, 25, 0, 26, 60), 0);
    }
    // The marker belongs to the background: a repaint shows it, and Reset All removes it.
    RepaintPanels(c.M.Screen, 3, "00:00:00");
    EXPECT_EQ(c.M.Screen.ScopePanel.At(24, 84), kYellow);
    ResetAll(c.M);
    EXPECT_EQ(c.M.Screen.ScopeBackSurface.At(24, 84), kBlack);
}

TEST(IqPanel, AxesAndLabelsOnWhite) {
    StartedChain c;
    const Surface& s = c.M.Screen.VectorSurface;
    EXPECT_EQ(CountColour(s, kGreen, 0, 85, 170, 86), 170);
    EXPECT_EQ(CountColour(s, kGreen, 85, 0, 86, 170), 170);
    EXPECT_EQ(s.At(169, 85), kGreen);
    EXPECT_EQ(s.At(0, 0), kWhite);
    const InkBox q = FindInk(s, kWhite, 86, 0, 140, 30);
    const InkBox i = FindInk(s, kWhite, 140, 86, 168, 110);
    EXPECT_GE(q.Left, 86);
    EXPECT_GE(q.Top, 1);
    EXPECT_LE(q.Bottom, 1 + TextCellHeight(13));
    EXPECT_GE(i.Left, 144);
    EXPECT_GE(i.Top, 86);
    EXPECT_GT(CountColour(s, kRed, 86, 0, 140, 30), 20);
    EXPECT_GT(CountColour(s, kRed, 140, 86, 168, 110), 10);
    EXPECT_EQ(CountOther(s, {kWhite, kGreen, kRed, kBlack}), 0);
}

TEST(IqPanel, EveryMagnificationChoiceStartsAFreshPicture) {
    StartedChain c;
    const Surface empty = c.M.Screen.VectorSurface;
    for (int magnification : {10, 10, 1000, 1}) {
        c.M.Screen.ChartColumn = 300;
        c.M.Lock.VectorI = 40 * c.M.Screen.VectorMagnification;  // a dot at (125, 105)
        c.M.Lock.VectorQ = -20 * c.M.Screen.VectorMagnification;
        PhaseLockSample(c.M, 100, 0);
        EXPECT_NE(c.M.Screen.VectorSurface.Pixels, empty.Pixels);
        SetVectorMagnification(c.M, magnification);
        EXPECT_EQ(c.M.Screen.VectorMagnification, magnification);
        EXPECT_EQ(c.M.Lock.VectorI, 0);
        EXPECT_EQ(c.M.Lock.VectorQ, 0);
        EXPECT_EQ(c.M.Screen.ChartColumn, 0);
        EXPECT_EQ(c.M.Screen.VectorSurface.Pixels, empty.Pixels);
    }
}

TEST(DisplaySurfaces, EachPassLeavesItsLastPenAndFontSelected) {
    StartedChain c;
    Display& d = c.M.Screen;
    auto expectPen = [](const Surface& s, Colour colour, PenStyle style, int fontHeight) {
        EXPECT_EQ(s.SelectedPen.Colour, colour);
        EXPECT_EQ(s.SelectedPen.Style, style);
        EXPECT_EQ(s.SelectedFont.PixelHeight, fontHeight);
    };
    expectPen(d.ScopeWorkSurface, MakeColour(0, 255, 255), PenStyle::Solid, 0);  // the traces
    expectPen(d.ScopeBackSurface, kYellow, PenStyle::Solid, 10);
    expectPen(d.VectorSurface, kGreen, PenStyle::Solid, 13);
    expectPen(d.ChartComposeSurface, kDarkRed, PenStyle::Dot, 10);
    EXPECT_EQ(d.ChartComposeSurface.TextColour, kLevelText);
    // The dotted marker is drawn and its pen taken out again.
    SetClickPositionFromScope(c.M, 60);
    expectPen(d.ScopeBackSurface, kYellow, PenStyle::Solid, 10);
    RepaintPanels(d, 3, "00:00:00");
    expectPen(d.ScopeWorkSurface, MakeColour(0, 255, 255), PenStyle::Solid, 0);
    expectPen(d.ChartPanel, kDarkRed, PenStyle::Dot, 10);
}

TEST(DisplaySurfaces, ProcessingAfterReleaseDrawsNothingAndDoesNotFault) {
    StartedChain c;
    ReleaseDisplaySurfaces(c.M.Screen);
    EXPECT_EQ(c.M.Screen.ScopeBackSurface.Width, 0);
    c.Feed(std::vector<Frame>(8000 * 2, Frame{1000, 20000}));
    RepaintPanels(c.M.Screen, 3, "00:00:00");
    SetClickPositionFromScope(c.M, 40);
    EXPECT_EQ(c.M.FramesProcessed, 16000);
}

}  // namespace

}  // namespace qv
