// What the chain draws: vectorscope dots, the once-a-second panel copies, the click traces.
#include <gtest/gtest.h>

#include "capture/signal_simulator.h"
#include "tests/chain_fixture.h"
#include "tests/simulated_frames.h"
#include "tests/surface_checks.h"

namespace qv {

namespace {

const Colour kCyan = MakeColour(0, 255, 255);

TEST(Vectorscope, DotAtTheScaledRunningSums) {
    StartedChain c;
    c.M.Screen.VectorMagnification = 10;
    c.M.Lock.VectorI = 104.9L;  // a blanked sample adds nothing: the dot is where the sums are
    c.M.Lock.VectorQ = -250.1L;
    PhaseLockSample(c.M, 100, 0.3L);
    EXPECT_EQ(c.M.Screen.VectorSurface.At(95, 110),
              kBlack);  // ROUND(10.49 + 85), ROUND(85 + 25.01)
}

TEST(Vectorscope, ColumnOneSixtySevenOnlyAtARepaint) {
    StartedChain c;
    const Colour unpainted = MakeColour(1, 2, 3);
    Surface& panel = c.M.Screen.VectorPanel;
    FillRect(panel, 0, 0, panel.Width, panel.Height, unpainted);
    c.M.Lock.VectorI = 82;  // x = 167
    PhaseLockSample(c.M, 7999 - 1, 0);
    c.M.Lock.VectorI = 82;
    PhaseLockSample(c.M, 7999, 0);  // the once-a-second copy of 167 x 167
    EXPECT_EQ(c.M.Screen.VectorSurface.At(167, 85), kBlack);
    EXPECT_EQ(panel.At(166, 85), MakeColour(0, 255, 0));  // the I axis, copied
    EXPECT_EQ(panel.At(167, 85), unpainted);
    RepaintPanels(c.M.Screen, 3, "00:00:00");
    EXPECT_EQ(panel.At(167, 85), kBlack);
}

TEST(ClickScope, TracesReachThePanelOnceASecondOnAFreshBackground) {
    StartedChain c;
    c.Feed(Simulate(SimulatorSettings{}, 8000 * 3));
    const Surface& panel = c.M.Screen.ScopePanel;
    // Upper half: the RF trace over x = 0..126; lower half: the PPS trace over x = 0..126.
    EXPECT_GT(CountColour(panel, kCyan, 0, 0, 126, 84), 20);
    EXPECT_GT(CountColour(panel, kCyan, 0, 85, 126, 168), 20);
    // The working surface was refilled from the background when the second ended, so the
    // traces drawn since belong to the second under way; a repaint drops them.
    RepaintPanels(c.M.Screen, 3, "00:00:00");
    EXPECT_EQ(CountColour(c.M.Screen.ScopePanel, kCyan, 0, 0, 126, 168), 0);
}

// A chain that shows no panels draws no traces and dots; once a panel is shown, they come as
// they would have, and the chart and the read-outs never differ.
TEST(PanelsShown, NothingForThePanelsUntilOneIsShown) {
    StartedChain shown, hidden;
    hidden.M.Screen.PanelsShown = false;
    const Surface emptyVector = hidden.M.Screen.VectorSurface;
    const Surface emptyScope = hidden.M.Screen.ScopePanel;
    const std::vector<Frame> frames = Simulate(SimulatorSettings{}, 8000 * 6);
    const std::vector<Frame> before(frames.begin(), frames.begin() + 28000);
    const std::vector<Frame> after(frames.begin() + 28000, frames.end());
    shown.Feed(before);
    hidden.Feed(before);
    EXPECT_EQ(hidden.M.Screen.VectorSurface.Pixels, emptyVector.Pixels);
    EXPECT_EQ(hidden.M.Screen.ScopePanel.Pixels, emptyScope.Pixels);
    EXPECT_NE(shown.M.Screen.VectorSurface.Pixels, emptyVector.Pixels);
    EXPECT_NE(shown.M.Screen.ScopePanel.Pixels, emptyScope.Pixels);

    hidden.M.Screen.PanelsShown = true;
    ClearVectorscope(shown.M);  // the dots drawn so far are the difference
    ClearVectorscope(hidden.M);
    shown.Feed(after);
    hidden.Feed(after);
    EXPECT_EQ(hidden.M.Screen.VectorSurface.Pixels, shown.M.Screen.VectorSurface.Pixels);
    EXPECT_NE(hidden.M.Screen.VectorSurface.Pixels, emptyVector.Pixels);
    EXPECT_EQ(hidden.M.Screen.ScopePanel.Pixels, shown.M.Screen.ScopePanel.Pixels);
    EXPECT_EQ(ChartTrace(hidden.M.Screen).Pixels, ChartTrace(shown.M.Screen).Pixels);
    CaptureScreen(shown.M);
    CaptureScreen(hidden.M);
    EXPECT_EQ(hidden.M.Screen.CaptureSurface.Pixels, shown.M.Screen.CaptureSurface.Pixels);
    ASSERT_EQ(hidden.Host.readouts.size(), shown.Host.readouts.size());
    for (size_t k = 0; k < shown.Host.readouts.size(); ++k) {
        EXPECT_EQ(hidden.Host.readouts[k].Text, shown.Host.readouts[k].Text) << k;
    }
}

// Frames fed one at a time (each output sample through the chain on its own) and as one block
// (two samples in flight wherever nothing but sums lies between them) draw the same panels and
// hand out the same read-outs and periods, with every panel shown and 1 s periods.
TEST(PanelsShown, FrameByFrameOrAsOneBlockDrawsTheSame) {
    StartedChain single, block;
    SimulatorSettings settings;
    settings.Ppm = 240;  // frames that give no output sample, and some that give two
    const std::vector<Frame> frames = Simulate(settings, 8000 * 5);
    for (StartedChain* c : {&single, &block}) ReadIntegrationTime(c->M, "1");
    for (const Frame& f : frames) ProcessFrame(single.M, f);
    block.Feed(frames);
    for (auto surface :
         {&Display::ScopePanel, &Display::ScopeWorkSurface, &Display::VectorSurface,
          &Display::VectorPanel, &Display::ChartTraceSurface, &Display::ChartPanel}) {
        EXPECT_EQ((single.M.Screen.*surface).Pixels, (block.M.Screen.*surface).Pixels);
    }
    ASSERT_EQ(single.Host.readouts.size(), block.Host.readouts.size());
    for (size_t k = 0; k < single.Host.readouts.size(); ++k) {
        EXPECT_EQ(single.Host.readouts[k].Text, block.Host.readouts[k].Text) << k;
    }
    ASSERT_EQ(single.Host.periods.size(), block.Host.periods.size());
    EXPECT_GE(block.Host.periods.size(), 4u);
    for (size_t k = 0; k < single.Host.periods.size(); ++k) {
        EXPECT_EQ(single.Host.periods[k].PeriodI, block.Host.periods[k].PeriodI) << k;
        EXPECT_EQ(single.Host.periods[k].Frame, block.Host.periods[k].Frame) << k;
    }
}

}  // namespace

}  // namespace qv
