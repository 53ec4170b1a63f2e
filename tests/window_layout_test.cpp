// The window's layout at the screen's own scaling: whole factors are the control table magnified,
// fractional ones keep the panels at whole factors without covering any control, and a client
// pixel maps back to the table point under it.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "app/window.h"
#include "app/window_rules.h"

namespace qv {

namespace {

bool Overlap(const PixelRect& a, const PixelRect& b) {
    return a.X < b.X + b.W && b.X < a.X + a.W && a.Y < b.Y + b.H && b.Y < a.Y + a.H;
}

// The device list as laid out: closed.
PixelRect LaidOut(const ControlSpec& c, const WindowScaling& s) {
    ControlSpec closed = c;
    if (c.Kind == ControlKind::DeviceList) closed.H = kDeviceListClosedHeight;
    return ControlRect(closed, s);
}

// Pairs of controls (table rows) whose rectangles overlap.
std::set<std::pair<size_t, size_t>> Overlaps(const WindowScaling& s) {
    std::set<std::pair<size_t, size_t>> pairs;
    for (size_t i = 0; i < kControls.size(); ++i) {
        for (size_t j = i + 1; j < kControls.size(); ++j) {
            if (Overlap(LaidOut(kControls[i], s), LaidOut(kControls[j], s))) pairs.insert({i, j});
        }
    }
    return pairs;
}

bool InTable(const ControlSpec& c, int x, int y) {
    return x >= c.X && x < c.X + c.W && y >= c.Y && y < c.Y + c.H;
}

}  // namespace

// 100 % and the whole factors: every control, the client area and the mouse's table points are
// the control table's times the factor (DivideDown), so the window stays pixel for pixel as the
// whole-number scaling made it.
TEST(WindowLayout, WholeFactorsAreTheTableMagnified) {
    for (int scale : {1, 2, 3}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        const WindowScaling s{double(scale), scale, 96};
        for (const ControlSpec& c : kControls) {
            const PixelRect got = ControlRect(c, s), want = ControlRect(c, scale);
            EXPECT_TRUE(got.X == want.X && got.Y == want.Y && got.W == want.W && got.H == want.H)
                << c.Name << " " << c.Text;
        }
        const ClientLayout client = ClientSize(s);
        EXPECT_EQ(client.Width, kClientWidth * scale);
        EXPECT_EQ(client.TableHeight, kClientHeight * scale);
        EXPECT_EQ(client.StatusHeight, kStatusLineHeight * scale);
        for (int y = -7; y < client.TableHeight + 9; y += 3) {
            for (int x = -7; x < client.Width + 9; x += 5) {
                const TablePoint p = TablePointAt(x, y, s);
                ASSERT_TRUE(p.X == DivideDown(x, scale) && p.Y == DivideDown(y, scale))
                    << "(" << x << ", " << y << ") -> (" << p.X << ", " << p.Y << ")";
            }
        }
    }
}

// 125 %, 150 % and 175 %, the panels at the whole factors next to them: each panel is its
// table size times the panel scale, every other control within a pixel of its table size times
// the control scale; no controls overlap that do not in the table, and all lie in the client
// area; every panel pixel maps to its table pixel, and no pixel beside a panel maps into it.
TEST(WindowLayout, FractionalFactorsKeepPanelsWholeAndControlsApart) {
    const std::set<std::pair<size_t, size_t>> tableOverlaps = Overlaps(WindowScaling{});
    for (const WindowScaling s : {WindowScaling{1.25, 1, 120}, WindowScaling{1.5, 1, 96},
                                  WindowScaling{1.5, 2, 96}, WindowScaling{1.75, 2, 96}}) {
        SCOPED_TRACE("controls " + std::to_string(s.Controls) + ", panels " +
                     std::to_string(s.Panels));
        EXPECT_EQ(Overlaps(s), tableOverlaps);
        const ClientLayout client = ClientSize(s);
        EXPECT_EQ(client.StatusHeight, static_cast<int>(kStatusLineHeight * s.Controls + 0.5));
        for (const ControlSpec& c : kControls) {
            const PixelRect r = LaidOut(c, s);
            EXPECT_TRUE(r.X >= 0 && r.Y >= 0 && r.X + r.W <= client.Width &&
                        r.Y + r.H <= client.TableHeight)
                << c.Name << " " << c.Text << " outside the client area";
            if (c.Kind != ControlKind::Panel) {
                // Within a pixel of the exact scaled size.
                EXPECT_NEAR(r.W, (c.X + c.W > kClientWidth ? kClientWidth - c.X : c.W) * s.Controls,
                            1.0)
                    << c.Text;
                EXPECT_NEAR(r.H, LaidOut(c, WindowScaling{}).H * s.Controls, 1.0) << c.Text;
                continue;
            }
            EXPECT_EQ(r.W, c.W * s.Panels) << c.Name;
            EXPECT_EQ(r.H, c.H * s.Panels) << c.Name;
            // Inside: each pixel to its panel pixel (every one near the edges, a sample of the
            // rest). Around: the rows and columns just outside map to table points outside.
            auto next = [](int at, int from, int size) {
                return at < from + 2 || at >= from + size - 2 ? at + 1
                                                              : std::min(at + 7, from + size - 2);
            };
            for (int y = r.Y - 1; y <= r.Y + r.H; y = next(y, r.Y, r.H)) {
                for (int x = r.X - 1; x <= r.X + r.W; x = next(x, r.X, r.W)) {
                    const TablePoint p = TablePointAt(x, y, s);
                    const bool inside = x >= r.X && x < r.X + r.W && y >= r.Y && y < r.Y + r.H;
                    if (inside) {
                        ASSERT_EQ(p.X, c.X + (x - r.X) / s.Panels) << c.Name;
                        ASSERT_EQ(p.Y, c.Y + (y - r.Y) / s.Panels) << c.Name;
                    } else {
                        ASSERT_FALSE(InTable(c, p.X, p.Y))
                            << c.Name << ": client (" << x << ", " << y << ") -> (" << p.X << ", "
                            << p.Y << ")";
                    }
                }
            }
        }
    }
}

// The scaling the screen asks for: the controls at its exact factor, the panels at the nearest
// whole one while the window still fits the work area, else smaller; --scale for everything;
// dots per inch that cannot be right ignored.
TEST(WindowLayout, ScalingFollowsTheScreenAndShrinksThePanelsToFit) {
    struct Case {
        int given, dpi, workW, workH;
        double controls;
        int panels, panelDpi;
    };
    const int menu = 20;
    for (const Case& k : {
             Case{0, 96, 1920, 1040, 1.0, 1, 96},
             Case{0, 120, 1920, 1040, 1.25, 1, 120},  // 125 %: panels as they are, finer text
             Case{0, 144, 3840, 2080, 1.5, 2, 96},    // 150 % on a large screen
             Case{0, 144, 1920, 1040, 1.5, 1, 96},    // 150 % where twice the panels do not fit
             Case{0, 168, 3840, 2080, 1.75, 2, 96},   // 175 %
             Case{0, 192, 3840, 2080, 2.0, 2, 96},    // 200 %: the table magnified
             Case{0, 72, 1920, 1040, 1.0, 1, 72},     // below 96: never smaller than the table
             Case{0, 9999, 1920, 1040, 1.0, 1, 96},   // not believed: the default stays
             Case{2, 96, 1024, 768, 2.0, 2, 96},      // --scale 2 stays, fit or not
         }) {
        SCOPED_TRACE("given " + std::to_string(k.given) + ", " + std::to_string(k.dpi) + " dpi, " +
                     std::to_string(k.workW) + " x " + std::to_string(k.workH));
        const WindowScaling s = ChooseWindowScaling(k.given, 96, k.dpi, k.workW, k.workH, menu);
        EXPECT_DOUBLE_EQ(s.Controls, k.controls);
        EXPECT_EQ(s.Panels, k.panels);
        EXPECT_EQ(s.DotsPerInch, k.panelDpi);
        if (k.given == 0 && s.Panels > 1) {
            const ClientLayout client = ClientSize(s);
            EXPECT_LE(client.Width, k.workW);
            EXPECT_LE(menu + client.TableHeight + client.StatusHeight, k.workH);
        }
    }
}

}  // namespace qv
