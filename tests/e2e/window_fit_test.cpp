// The window's fit on the screen: every caption whole in the controls' font as the window
// chooses it, and on a high-DPI screen the window magnified by its UI scale with the panels
// drawn as at 96 dots per inch, pixel for pixel twice as large.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/fltk/control_font.h"
#include "capture/device_list.h"
#include "tests/e2e/window_session.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

// FLTK last: its X headers define macros (Status, None) the helpers above use as names.
#include <FL/Fl.H>
#include <FL/fl_draw.H>

namespace qv {

namespace {

using namespace std::chrono_literals;

constexpr int kMenuBarHeight = 25, kStatusLineHeight = 20;  // [pixels at scale 1]
constexpr int kFooterTop = 310;  // [pixels] the chart's footer line of texts

// Each caption measured on its own, word by word where it wraps, against its room; the
// texts users reported cut are among them; the read-outs end before the group box.
TEST(WindowFit, EveryCaptionFitsItsBoxInTheChosenFont) {
    PrivateXServer x;
    std::string error;
    ASSERT_TRUE(x.Start(error)) << "cannot start a private X server: " << error;
    setenv("DISPLAY", x.Display().c_str(), 1);
    Fl::screen_count();  // opens the display

    for (const int scale : {1, 2, 3}) {
        const ControlFont font = ChooseControlFont(scale);
        // Readable: no smaller than the 8-point dialog font's 8 pixels a scale step.
        EXPECT_GE(font.Size, 8 * scale) << "scale " << scale;
        EXPECT_LE(font.Size, 10 * scale) << "scale " << scale;
        fl_font(font.Face, font.Size);
        const std::vector<Caption> captions = ControlCaptions(scale, font.Size, kFltkCaptionInsets);
        for (const char* reported :
             {"Offset frequency", "Initial lock freq", "Integration time",
              "Vectorscope magnification", kSimulatorEntryName, "ClickPhase degrees = -179.999",
              "Lock frequency = 999999999.998", "Timing error = -62500.00uS", "Capture screen"}) {
            EXPECT_TRUE(std::any_of(captions.begin(), captions.end(),
                                    [&](const Caption& c) { return c.Text == reported; }))
                << "\"" << reported << "\" is not measured";
        }
        for (const Caption& c : captions) {
            std::vector<std::string> lines;
            if (c.Wraps) {
                std::istringstream words(c.Text);
                for (std::string word; words >> word;) lines.push_back(word);
            } else {
                lines.push_back(c.Text);
            }
            for (const std::string& line : lines) {
                EXPECT_LE(fl_width(line.c_str()), c.Width)
                    << "\"" << line << "\" is cut at scale " << scale << ", font " << font.Face
                    << " size " << font.Size;
            }
            EXPECT_LE(static_cast<int>(lines.size()) * fl_height(), c.Height)
                << "\"" << c.Text << "\" is cut below at scale " << scale;
            EXPECT_GT(c.Width, 0) << c.Text;
        }
    }

    // The read-outs' boxes end left of the magnification's group box.
    const auto group = std::find_if(kControls.begin(), kControls.end(), [](const ControlSpec& c) {
        return c.Kind == ControlKind::GroupBox;
    });
    ASSERT_NE(group, kControls.end());
    for (const ControlSpec& c : kControls) {
        if (c.Kind == ControlKind::Label && c.Id >= 0 && c.X < group->X) {
            EXPECT_LE(c.X + c.W, group->X) << c.Name << " runs under the group box";
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The window on a screen

struct Shot {
    Box Window;      // on the screen
    Picture Screen;  // the whole screen
    std::string Title;
};

// The window's panels inside their one-pixel edges, each with its pixels that are not white.
int NonWhitePanels(const Picture& screen, const Box& window, int scale) {
    int drawn = 0;
    for (const ControlSpec& c : kControls) {
        if (c.Kind != ControlKind::Panel) continue;
        int nonWhite = 0;
        for (int y = 1; y < c.H - 1 && nonWhite <= 100; ++y) {
            for (int x = 1; x < c.W - 1 && nonWhite <= 100; ++x) {
                const int sx = window.X + (c.X + x) * scale;
                const int sy = window.Y + (kMenuBarHeight + c.Y + y) * scale;
                nonWhite += sx < screen.Width && sy < screen.Height &&
                            screen.Pixel(sx, sy) != "\xff\xff\xff";
            }
        }
        drawn += nonWhite > 100;
    }
    return drawn;
}

// Starts the window program with `args` on `x`, waits for its window, photographs the screen
// once every panel is drawn and a second photograph shows no change, hovers over the click
// scope at client (`hoverX`, `hoverY`) [table pixels] and reads the title, then ends the
// program with SIGINT.
void ShootWindow(PrivateXServer& x, const std::vector<std::string>& args, int scale, int hoverX,
                 int hoverY, Shot& shot) {
    TestFolder folder;
    std::string out;
    ASSERT_EQ(x.Run({"xdotool", "mousemove", "0", "0"}, out), 0) << x.LastError();
    std::vector<std::string> argv = {"env", "-C", folder.Dir(), QUORVELLE_BIN, "--simulate"};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess app;
    std::string error;
    ASSERT_TRUE(
        app.Start(argv, x.Environment(), folder.Path("app.out"), folder.Path("app.err"), error))
        << error;
    std::string id;
    ASSERT_TRUE(WaitWhileRunning(
        app, [&] { return !(id = MainWindow(x)).empty(); }, 20s))
        << FileText(folder.Path("app.err"));
    shot.Window = WindowGeometry(x, id);
    Picture previous;
    auto drawn = [&] {
        previous = shot.Screen;
        return Screenshot(x, folder.Path("screen.ppm"), shot.Screen) &&
               NonWhitePanels(shot.Screen, shot.Window, scale) == 3 &&
               shot.Screen.Rgb == previous.Rgb;
    };
    WaitWhileRunning(app, drawn, 20s);
    ASSERT_FALSE(shot.Screen.Rgb.empty()) << x.LastError();

    ASSERT_EQ(x.Run({"xdotool", "mousemove", "--window", id, std::to_string(hoverX * scale),
                     std::to_string((hoverY + kMenuBarHeight) * scale)},
                    out),
              0);
    auto titled = [&] {
        shot.Title = WindowTitle(x, id);
        return shot.Title.rfind("Click peak", 0) == 0;
    };
    WaitWhileRunning(app, titled, 10s);
    app.Signal(SIGINT);
    EXPECT_EQ(app.Wait(15s), 0) << FileText(folder.Path("app.err"));
}

// Each panel of `two` (the window at scale 2) is the panel of `one` (at scale 1) with every
// pixel doubled; none is blank.
void ExpectPanelsMagnified(const Shot& one, const Shot& two) {
    int panels = 0;
    for (const ControlSpec& c : kControls) {
        if (c.Kind != ControlKind::Panel) continue;
        ++panels;
        // The surface inside the one-pixel edge (two at scale 2).
        const int left = c.X + 1, top = kMenuBarHeight + c.Y + 1;
        int differing = 0, nonWhite = 0;
        for (int y = 0; y < c.H - 2; ++y) {
            for (int x = 0; x < c.W - 2; ++x) {
                // The chart's footer shows the clock at its left and right: it moves on
                // between the two runs. Its middle, the integration time, is compared.
                const bool clock = c.Id == IDDISPLAY && y >= kFooterTop && (x < 300 || x >= 560);
                if (clock) continue;
                const std::string p =
                    one.Screen.Pixel(one.Window.X + left + x, one.Window.Y + top + y);
                nonWhite += p != "\xff\xff\xff";
                for (int dy = 0; dy < 2; ++dy) {
                    for (int dx = 0; dx < 2; ++dx) {
                        const bool same = two.Screen.Pixel(two.Window.X + 2 * (left + x) + dx,
                                                           two.Window.Y + 2 * (top + y) + dy) == p;
                        if (!same && differing++ == 0) {
                            ADD_FAILURE()
                                << c.Name << " first differs at panel (" << x << ", " << y << ")";
                        }
                    }
                }
            }
        }
        EXPECT_EQ(differing, 0) << c.Name << ": pixels not the 96-dpi panel's, doubled";
        EXPECT_GT(nonWhite, 100) << c.Name << ": the panel is blank";
    }
    EXPECT_EQ(panels, 3);
}

// At 192 dots per inch the window is twice its size, each panel the 96-dpi panel with every
// pixel doubled, and the pointer over the scope reads the same click position as at 96.
TEST(WindowFit, HighDpiScreenDoublesTheWindowAndMagnifiesThePanels) {
    PrivateXServer normal, high(2048, 1536, 192);
    std::string error;
    ASSERT_TRUE(normal.Start(error)) << "cannot start a private X server: " << error;
    ASSERT_TRUE(high.Start(error)) << "cannot start a private X server: " << error;
    // A scope point 57 pixels into the panel: click position 28, and with --scale 2 given on
    // the 96-dpi screen of the larger server the same.
    const int hoverX = 10 + 1 + 57, hoverY = 60;
    Shot one, two;
    ASSERT_NO_FATAL_FAILURE(ShootWindow(normal, {}, 1, hoverX, hoverY, one));
    ASSERT_NO_FATAL_FAILURE(ShootWindow(high, {}, 2, hoverX, hoverY, two));
    EXPECT_EQ(one.Window.W, kClientWidth);
    EXPECT_EQ(one.Window.H, kMenuBarHeight + kClientHeight + kStatusLineHeight);
    EXPECT_EQ(two.Window.W, 2 * one.Window.W);
    EXPECT_EQ(two.Window.H, 2 * one.Window.H);
    EXPECT_EQ(one.Title, "Click peak = 28");
    EXPECT_EQ(two.Title, "Click peak = 28");

    ExpectPanelsMagnified(one, two);
}

// --scale sets the scale on any screen: 2 on a 96-dpi screen doubles the window too. A scale
// from the screen's dots per inch shrinks to one at which the window fits on the screen, its
// panels still drawn as at 96 dots per inch.
TEST(WindowFit, ScaleOptionDoublesTheWindowAndAScreenTooSmallKeepsItsSize) {
    PrivateXServer x(2048, 1536, 96);
    std::string error;
    ASSERT_TRUE(x.Start(error)) << "cannot start a private X server: " << error;
    Shot shot;
    ASSERT_NO_FATAL_FAILURE(ShootWindow(x, {"--scale", "2"}, 2, 10 + 1 + 57, 60, shot));
    EXPECT_EQ(shot.Window.W, 2 * kClientWidth);
    EXPECT_EQ(shot.Window.H, 2 * (kMenuBarHeight + kClientHeight + kStatusLineHeight));
    EXPECT_EQ(shot.Title, "Click peak = 28");
    x.Stop();

    PrivateXServer small(1024, 768, 192);
    ASSERT_TRUE(small.Start(error)) << "cannot start a private X server: " << error;
    Shot unscaled;
    ASSERT_NO_FATAL_FAILURE(ShootWindow(small, {}, 1, 10 + 1 + 57, 60, unscaled));
    EXPECT_EQ(unscaled.Window.W, kClientWidth);
    EXPECT_EQ(unscaled.Window.H, kMenuBarHeight + kClientHeight + kStatusLineHeight);
    EXPECT_EQ(unscaled.Title, "Click peak = 28");
    // Its panels are drawn as at 96 dots per inch, as the scaled window's.
    ExpectPanelsMagnified(unscaled, shot);
}

}  // namespace

}  // namespace qv
