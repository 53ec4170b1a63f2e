// quorvelle.exe under Wine on a private X server: every control where the control table puts
// it (as the program reads its own controls back), and a simulated run driven by xdotool the way
// a user drives it: hover read-out, Escape and Enter, "Save I,Q to file?" from the menu, Start,
// read-outs, End or Ctrl-C in the console it was started from, one I/Q file. Child controls are
// not X windows: clicks go to client-area points of the main window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/controls.h"
#include "app/window_rules.h"
#include "display/display.h"
#include "files/iq_file.h"
#include "tests/e2e/window_session.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tests/wine/wine_program.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

const std::string kWindowExe = "quorvelle.exe";
constexpr int kStatusLine = 20;  // [pixels] the status line below the control table

// One control as the program's layout dump reports it.
struct DumpedControl {
    int Number = 0, Id = 0;
    std::string ClassName;
    Box Rect;
    unsigned long Style = 0;
    bool Checked = false;
    std::string Text;
};

struct Layout {
    int Scale = 0, ClientW = 0, ClientH = 0;
    std::vector<DumpedControl> Controls;  // in the order of the window's children (Tab order)
    Box Dropped, Status;
    std::string Menu;
    std::vector<std::vector<std::string>> Items;  // id, text, "checked" or "unchecked"
};

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
    if (!line.empty() && line.back() == '\t') fields.emplace_back();
    return fields;
}

Box BoxOf(const std::vector<std::string>& f, size_t at) {
    return {std::stoi(f[at]), std::stoi(f[at + 1]), std::stoi(f[at + 2]), std::stoi(f[at + 3])};
}

Layout ReadLayout(const std::string& text) {
    Layout layout;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> f = Fields(line);
        if (f.empty()) continue;
        if (f[0] == "scale") layout.Scale = std::stoi(f.at(1));
        if (f[0] == "client") {
            layout.ClientW = std::stoi(f.at(1));
            layout.ClientH = std::stoi(f.at(2));
        }
        if (f[0] == "control" && f.size() >= 12) {
            DumpedControl c;
            c.Number = std::stoi(f[1]);
            c.Id = std::stoi(f[2]);
            c.ClassName = f[4];
            c.Rect = BoxOf(f, 5);
            c.Style = std::stoul(f[9], nullptr, 16);
            c.Checked = f[10] == "checked";
            c.Text = f[11];
            layout.Controls.push_back(c);
        }
        if (f[0] == "dropped") layout.Dropped = BoxOf(f, 1);
        if (f[0] == "status") layout.Status = BoxOf(f, 1);
        if (f[0] == "menu") layout.Menu = f.at(1);
        if (f[0] == "item") layout.Items.emplace_back(f.begin() + 1, f.end());
    }
    return layout;
}

const char* ClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::Panel:
            return "QuorVellePanel";
        case ControlKind::Label:
            return "Static";
        case ControlKind::Entry:
            return "Edit";
        case ControlKind::DeviceList:
            return "ComboBox";
        default:
            return "Button";
    }
}

constexpr unsigned long kTabStop = 0x00010000, kGroup = 0x00020000;

// Every control of the table, at `scale`: its place in the Tab order, id, class, rectangle,
// styles, initial text and check mark; the device list and its drop-down; the status line; the
// menu.
void ExpectTableLayout(const Layout& layout, int scale) {
    EXPECT_EQ(layout.Scale, scale);
    EXPECT_EQ(layout.ClientW, kClientWidth * scale);
    EXPECT_EQ(layout.ClientH, (kClientHeight + kStatusLine) * scale);
    ASSERT_EQ(layout.Controls.size(), kControls.size());
    for (size_t i = 0; i < kControls.size(); ++i) {
        const ControlSpec& c = kControls[i];
        const DumpedControl& d = layout.Controls[i];
        SCOPED_TRACE("table row " + std::to_string(i + 1) + " \"" + c.Text + "\" " + c.Name);
        EXPECT_EQ(d.Number, static_cast<int>(i + 1)) << "out of the table's (Tab) order";
        EXPECT_EQ(d.Id, c.Id);
        EXPECT_EQ(d.ClassName, ClassOf(c.Kind));
        // A control reaching past the client area is cut at its edge; the device list's table
        // height includes its drop-down.
        const int w = std::min(c.W, kClientWidth - c.X);
        const int h = c.Kind == ControlKind::DeviceList ? kDeviceListClosedHeight : c.H;
        EXPECT_EQ(d.Rect, (Box{c.X * scale, c.Y * scale, w * scale, h * scale}));
        const bool tabStop = c.Kind == ControlKind::Button || c.Kind == ControlKind::Entry ||
                             c.Kind == ControlKind::Check || c.Kind == ControlKind::DeviceList ||
                             (c.Kind == ControlKind::Option && c.Id != IDMAG1);
        EXPECT_EQ((d.Style & kTabStop) != 0, tabStop) << std::hex << d.Style;
        EXPECT_EQ((d.Style & kGroup) != 0, c.Id == IDMAG1) << std::hex << d.Style;
        // The button kinds: automatic check box, automatic option, group box; an entry that
        // scrolls sideways.
        const std::map<ControlKind, unsigned long> kindBits = {
            {ControlKind::Check, 3}, {ControlKind::Option, 9}, {ControlKind::GroupBox, 7}};
        if (kindBits.count(c.Kind) != 0) {
            EXPECT_EQ(d.Style & 0xF, kindBits.at(c.Kind));
        }
        if (c.Kind == ControlKind::Entry) {
            EXPECT_NE(d.Style & 0x80, 0u);
        }
        if (c.Kind == ControlKind::DeviceList) {
            EXPECT_EQ(d.Style & 0x3, 2u);  // a drop-down with its own text field
            EXPECT_EQ(d.Text, "Simulated GPS receiver and radio");
        } else {
            EXPECT_EQ(d.Text, c.Text);
        }
        // At start "Blank RF click" and "/1" only.
        EXPECT_EQ(d.Checked, c.Id == IDBLANKRF || c.Id == IDMAG1);
    }
    // The drop-down reaches the table's foot of the list: Windows reports the list with its
    // drop-down, Wine the drop-down below the closed list.
    const ControlSpec& list = *FindControl(IDDEVICE);
    EXPECT_EQ(layout.Dropped.X, list.X * scale);
    EXPECT_EQ(layout.Dropped.Y, list.Y * scale);
    EXPECT_EQ(layout.Dropped.W, list.W * scale);
    EXPECT_TRUE(layout.Dropped.H == list.H * scale ||
                layout.Dropped.H + kDeviceListClosedHeight * scale == list.H * scale)
        << layout.Dropped;
    EXPECT_EQ(layout.Status,
              (Box{0, kClientHeight * scale, kClientWidth * scale, kStatusLine * scale}));
    EXPECT_EQ(layout.Menu, kSetupMenuText);
    ASSERT_EQ(layout.Items.size(), kSetupMenu.size());
    for (size_t i = 0; i < kSetupMenu.size(); ++i) {
        EXPECT_EQ(layout.Items[i], (std::vector<std::string>{std::to_string(kSetupMenu[i].Id),
                                                             kSetupMenu[i].Text, "unchecked"}));
    }
}

// The click scope and the I/Q panel as they are before Start, drawn here by the Linux build's
// own display code: the Windows window must show exactly these pixels.
std::vector<std::pair<int, const Surface*>> StartUpPanels(Display& d) {
    d.DotsPerInch = 96;
    CreateDisplaySurfaces(d, 3, "00:00:00");
    CompleteDisplaySurfaces(d);
    RepaintPanels(d, 3, "00:00:00");
    return {{IDGRAPH, &d.ScopePanel}, {IDVECTOR, &d.VectorPanel}};
}

// ---------------------------------------------------------------------------------------------

// Room for the window at the UI scale 2 too: without a window manager Wine keeps a window
// within the screen.
class WineWindow : public WindowSession {
protected:
    WineWindow() : WindowSession(1700, 1300, 96) {}

    void SetUp() override {
        const std::string why = WineUnavailable(kWindowExe);
        if (!why.empty()) GTEST_SKIP() << why;
        WindowSession::SetUp();
    }
    void TearDown() override {
        if (keys_ >= 0) close(keys_);
    }

    // Wine's desktop, which decides how every window of the Wine session is shown, was made by
    // the runner without an X server: windows on it are shown nowhere. The program runs here on
    // a desktop of its own, made on this test's X server when its first window opens: Wine
    // chooses a program's desktop by the name of its .exe, hence a copy named for this test.
    std::string ProgramOnOwnDesktop() {
        const std::string name = "quorvelle-" + std::to_string(getpid()) + ".exe";
        const std::string copy = folder_.Path(name);
        std::filesystem::copy_file(WindowsProgram(kWindowExe), copy,
                                   std::filesystem::copy_options::overwrite_existing);
        // Wine's registry tool fails now and then while other tests use the registry: tried
        // again, up to three times.
        ToolRun reg;
        for (int attempt = 0; attempt < 3 && reg.Status != 0; ++attempt) {
            reg = RunProgram(
                {kWine64, "reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\" + name + "\\Explorer",
                 "/v", "Desktop", "/d", "quorvelle-test-" + std::to_string(getpid()), "/f"},
                wineEnvironment_, folder_.Path("reg.out"), folder_.Path("reg.err"), 60s);
        }
        EXPECT_EQ(reg.Status, 0) << reg.Err;
        return copy;
    }

    // Starts quorvelle.exe in the test's folder (or in `dir`), which is also where it writes
    // its measurements, with `args` and waits for its window.
    void Launch(const std::vector<std::string>& args, int scale = 1, std::string dir = "") {
        if (dir.empty()) dir = folder_.Dir();
        std::vector<std::string> argv = {"env",      "-C", dir, kWine64, ProgramOnOwnDesktop(),
                                         "--folder", dir};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_NO_FATAL_FAILURE(StartWindow(argv, wineEnvironment_, 60s));
        ASSERT_NO_FATAL_FAILURE(MeasureMenuBar((kClientHeight + kStatusLine) * scale));
    }

    // The same started as from a command prompt: on a console, here Wine's on a terminal
    // (script(1) gives the program one), whose keyboard the test holds (CtrlCInConsole); its
    // output redirected to app.out and app.err as a prompt's "> file" would. The exit status
    // is the program's. The window's client area is `clientHeight` high, or the control
    // table's and the status line's at `scale`.
    void LaunchFromConsole(const std::vector<std::string>& args, int scale = 1,
                           int clientHeight = 0) {
        const std::string keys = folder_.Path("console-keys");
        std::filesystem::remove(keys);
        if (keys_ >= 0) close(keys_);
        ASSERT_EQ(mkfifo(keys.c_str(), 0600), 0) << keys;
        // Read and write, so that opening does not wait and the terminal never sees its end.
        keys_ = open(keys.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(keys_, 0) << keys;
        std::string command = "cd " + ShellQuoted(folder_.Dir()) + " && exec";
        std::vector<std::string> words = {
            kWine64, ownDesktop_ ? ProgramOnOwnDesktop() : WindowsProgram(kWindowExe), "--folder",
            folder_.Dir()};
        words.insert(words.end(), args.begin(), args.end());
        for (const std::string& word : words) command += " " + ShellQuoted(word);
        command += " >" + ShellQuoted(folder_.Path("app.out")) + " 2>" +
                   ShellQuoted(folder_.Path("app.err"));
        const std::vector<std::string> argv = {"sh", "-c",
                                               "exec script --quiet --return --command " +
                                                   ShellQuoted(command) + " /dev/null <" +
                                                   ShellQuoted(keys)};
        ASSERT_NO_FATAL_FAILURE(StartWindow(argv, wineEnvironment_, 60s, "console"));
        ASSERT_NO_FATAL_FAILURE(MeasureMenuBar(
            clientHeight > 0 ? clientHeight : (kClientHeight + kStatusLine) * scale));
    }

    // Ctrl-C typed on the console the program was started from.
    void CtrlCInConsole() { ASSERT_EQ(write(keys_, "\x03", 1), 1); }

    // The menu bar: what the window has above its client area (no window manager, so no
    // frame or caption), the client area `clientHeight` high.
    void MeasureMenuBar(int clientHeight) {
        menuBar_ = Geometry(window_).H - clientHeight;
        ASSERT_GT(menuBar_, 10) << Geometry(window_);
        ASSERT_LT(menuBar_, 80) << Geometry(window_);
    }

    // Visible windows titled "GPS QuorVelle": the main window and the message boxes.
    size_t TitledWindows() { return VisibleWindows(x_, kMainWindowTitle).size(); }

    // Closes the message box that waits for the user with Enter, once it has the keyboard.
    void AnswerBoxWithEnter() {
        const std::vector<std::string> boxes = OtherWindows(kMainWindowTitle);
        ASSERT_EQ(boxes.size(), 1u) << Windows();
        ASSERT_NO_FATAL_FAILURE(Focus(boxes[0], true));
        ASSERT_NO_FATAL_FAILURE(Key("Return"));
    }

    // The middle of the control with this id.
    void ClickControl(int id) {
        const ControlSpec& c = *FindControl(id);
        Click({c.X + c.W / 2, c.Y + std::min(c.H, kDeviceListClosedHeight) / 2});
    }
    // Screen pixels of the panel `id`'s inside (within its one-pixel sunken edge) that differ
    // from `surface` magnified `scale` times, with the first one described in `first`.
    int PanelMismatches(int id, const Surface& surface, int scale, std::string& first) {
        const ControlSpec& c = *FindControl(id);
        return PanelMismatches(Box{c.X * scale, c.Y * scale, c.W * scale, c.H * scale}, surface,
                               scale, first);
    }
    // The same for a panel at `panel` in the client area.
    int PanelMismatches(const Box& panel, const Surface& surface, int scale, std::string& first) {
        Picture screen;
        if (!qv::Screenshot(x_, folder_.Path("screen.ppm"), screen)) return -1;
        const int width = screen.Width, height = screen.Height;
        const std::string& rgb = screen.Rgb;
        const Box window = Geometry(window_);
        const int left = window.X + panel.X + scale, top = window.Y + menuBar_ + panel.Y + scale;
        int mismatches = 0;
        for (int y = 0; y < surface.Height * scale; ++y) {
            for (int x = 0; x < surface.Width * scale; ++x) {
                const Colour want = surface.Pixels[static_cast<size_t>(y / scale) * surface.Width +
                                                   static_cast<size_t>(x / scale)];
                const size_t at = 3 * (static_cast<size_t>(top + y) * width + left + x);
                if (left + x >= width || top + y >= height) return -1;
                const Colour got = static_cast<unsigned char>(rgb[at]) |
                                   static_cast<unsigned char>(rgb[at + 1]) << 8 |
                                   static_cast<unsigned char>(rgb[at + 2]) << 16;
                if (got == want) continue;
                if (mismatches++ == 0) {
                    std::ostringstream where;
                    where << "panel pixel (" << x << ", " << y << "): " << std::hex << got
                          << " instead of " << want;
                    first = where.str();
                }
            }
        }
        return mismatches;
    }

    int keys_ = -1;  // the console's keyboard, once started from one
    std::vector<std::string> wineEnvironment_ = {"WINEDEBUG=-all"};
    bool ownDesktop_ = true;  // false: the prefix's desktop is this test's X server already

    std::vector<std::string> IqFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.Dir())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("IQfile", 0) == 0) names.push_back(name);
        }
        return names;
    }

    // One I/Q file, "IQfile hhmmss.TXT", with the header and at least `records` records, and no
    // journal beside it.
    void ExpectOneIqFile(size_t records) {
        const std::vector<std::string> files = IqFiles();
        ASSERT_EQ(files.size(), 1u) << ::testing::PrintToString(files);
        EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(IQfile \d{6}\.TXT)"))) << files[0];
        const std::string text = FileText(folder_.Path(files[0]));
        ASSERT_EQ(text.compare(0, IqTextHeader().size(), IqTextHeader()), 0) << text;
        const std::regex body(R"(((\d\d:\d\d:\d\d,-?\d*\.\d{7},-?\d*\.\d{7}\r\n)*)\r\n)");
        std::smatch m;
        const std::string rest = text.substr(IqTextHeader().size());
        ASSERT_TRUE(std::regex_match(rest, m, body)) << text;
        EXPECT_GE(static_cast<size_t>(std::count(rest.begin(), rest.end(), '\n')), records + 1)
            << text;
    }
};

// The program's own read-back of its controls, at the table's pixels and magnified twice; each
// run ended with Ctrl-C in the console it was started from.
TEST_F(WineWindow, EveryControlAtItsTabledPlaceAndTheMenuAsTabled) {
    for (int scale : {1, 2}) {
        SCOPED_TRACE("--scale " + std::to_string(scale));
        const std::string dump = folder_.Path("layout" + std::to_string(scale) + ".txt");
        ASSERT_NO_FATAL_FAILURE(LaunchFromConsole(
            {"--simulate", "--scale", std::to_string(scale), "--dump-layout", dump}, scale));
        ASSERT_TRUE(
            WaitFor([&] { return FileText(dump).find("\nitem\t670\t") != std::string::npos; }, 20s))
            << "no layout written\n"
            << AppErr();
        EXPECT_EQ(Geometry(window_).W, kClientWidth * scale);
        ExpectTableLayout(ReadLayout(FileText(dump)), scale);
        // The panels show their surfaces pixel for pixel, each pixel a square at the scale.
        Display expected;
        for (const auto& [id, surface] : StartUpPanels(expected)) {
            int mismatches = -1;
            std::string first;
            WaitFor([&] { return (mismatches = PanelMismatches(id, *surface, scale, first)) == 0; },
                    10s);
            EXPECT_EQ(mismatches, 0) << ControlName(id) << ": " << first;
        }
        ASSERT_NO_FATAL_FAILURE(CtrlCInConsole());
        EXPECT_EQ(app_.Wait(30s), 0) << "Ctrl-C ends the window normally\n" << AppErr();
    }
}

// A run as a user makes it: the title follows the pointer over the click scope, Escape and
// Enter leave the window open, "Save I,Q to file?" is chosen from the menu, Start brings
// read-outs into the log, and End writes one I/Q file with the records so far.
TEST_F(WineWindow, SimulatedRunFromTheMenuToEndWritesOneIqFile) {
    ASSERT_NO_FATAL_FAILURE(Launch({"--simulate", "--integration", "1", "--log-readouts", Log()}));
    EXPECT_EQ(Title(), "GPS QuorVelle");
    const ControlSpec& scope = *FindControl(IDGRAPH);
    // Two pixels a sample, from the panel's inside edge.
    ASSERT_NO_FATAL_FAILURE(HoverExpecting({scope.X + 1 + 57, 60}, "Click peak = 28"));
    ASSERT_NO_FATAL_FAILURE(HoverExpecting({200, 530}, "GPS Quorvelle"));
    ASSERT_NO_FATAL_FAILURE(HoverExpecting({scope.X + 1 + 125, 100}, "Click peak = 62"));
    // Over a button the title stays: the button takes the mouse. The next move over the scope
    // proves the move before it was handled, and the log shows nothing set in between.
    ASSERT_NO_FATAL_FAILURE(Move({FindControl(IDRESET)->X + 20, FindControl(IDRESET)->Y + 10}));
    ASSERT_NO_FATAL_FAILURE(HoverExpecting({scope.X + 1 + 2, 60}, "Click peak = 1"));
    const std::vector<std::string> titles = LogTexts(Log(), "TITLE");
    const auto last62 = std::find(titles.rbegin(), titles.rend(), "Click peak = 62");
    ASSERT_NE(last62, titles.rend()) << "the title changes are not in the log";
    for (auto t = titles.rbegin(); t != last62; ++t) {
        EXPECT_EQ(*t, "Click peak = 1") << "title set over a button";
    }

    // Escape to the window, then Enter and Escape in an entry field: the window stays, and the
    // next move shows the keys have been handled.
    ASSERT_NO_FATAL_FAILURE(Focus(window_, true));
    ASSERT_NO_FATAL_FAILURE(Key("Escape"));
    ASSERT_NO_FATAL_FAILURE(ClickControl(IDLOCKFREQ));
    ASSERT_NO_FATAL_FAILURE(Key("Return"));
    ASSERT_NO_FATAL_FAILURE(Key("Escape"));
    ASSERT_NO_FATAL_FAILURE(HoverExpecting({scope.X + 1 + 40, 60}, "Click peak = 20"));
    ASSERT_TRUE(app_.Running()) << "Escape or Enter ended the program\n" << AppErr();
    EXPECT_EQ(Geometry(window_).W, kClientWidth) << "the window is no longer shown";

    // "Save I,Q to file?": Alt+S opens Setup on its first item, Enter chooses it.
    ASSERT_NO_FATAL_FAILURE(MenuByKeys("alt+s", "Return"));

    ASSERT_NO_FATAL_FAILURE(ClickControl(IDCAP));
    ASSERT_TRUE(WaitFor([&] { return LogTexts(Log(), "IDFREQERROR").size() >= 3; }, 20s))
        << "no read-outs within 20 s of Start\n"
        << FileText(Log()) << AppErr();
    const std::vector<std::string> levels = LogTexts(Log(), "IDAUDIOLEVEL");
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.back().rfind("Audio level = ", 0), 0u) << levels.back();
    // Records journalled while the run goes on (one a second at --integration 1).
    ASSERT_TRUE(
        WaitFor([&] { return TextLines(folder_.Path("IQfile.journal")).size() >= 2 + 2; }, 20s))
        << "no I/Q records journalled: was \"Save I,Q to file?\" chosen?\n"
        << AppErr();

    ASSERT_NO_FATAL_FAILURE(ClickControl(IDEND));
    ASSERT_EQ(app_.Wait(30s), 0) << AppErr();
    ASSERT_NO_FATAL_FAILURE(ExpectOneIqFile(2));
    EXPECT_NE(FileText(folder_.Path("app.err")).find("quorvelle: I/Q file written: "),
              std::string::npos)
        << AppErr();
    const std::vector<std::string> captures = LogTexts(Log(), "CAPTURE");
    ASSERT_GE(captures.size(), 2u) << FileText(Log());
    EXPECT_EQ(captures.front(), "capture started from Simulated GPS receiver and radio");
    EXPECT_EQ(captures.back().rfind("capture ended: ", 0), 0u) << captures.back();
}

// Enter presses the focused button, Start, which has the focus first. Ctrl-C in the console it
// was started from (a window program attached to it) ends the measuring window as the close box
// does: the I/Q file chosen on the command line is written, the exit status is 0, and its
// messages reach the file its standard error was redirected to.
TEST_F(WineWindow, CtrlCEndsAMeasuringWindowAndWritesTheIqFile) {
    ASSERT_NO_FATAL_FAILURE(LaunchFromConsole(
        {"--simulate", "--save-iq", "--integration", "1", "--log-readouts", Log()}));
    ASSERT_NO_FATAL_FAILURE(Focus(window_, true));
    ASSERT_NO_FATAL_FAILURE(Key("Return"));
    ASSERT_TRUE(
        WaitFor([&] { return TextLines(folder_.Path("IQfile.journal")).size() >= 2 + 2; }, 30s))
        << FileText(Log()) << AppErr();
    ASSERT_NO_FATAL_FAILURE(CtrlCInConsole());
    std::this_thread::sleep_for(50ms);
    ASSERT_NO_FATAL_FAILURE(CtrlCInConsole());  // a second changes nothing
    ASSERT_EQ(app_.Wait(30s), 0) << AppErr();
    ASSERT_NO_FATAL_FAILURE(ExpectOneIqFile(2));
    const std::string err = FileText(folder_.Path("app.err"));
    EXPECT_NE(err.find("quorvelle: Ctrl-C: ending the program"), std::string::npos) << err;
}

// A box waits for the user: the start-up notice of a journal left by an earlier run. Ctrl-C
// closes it and ends the program as the close box does.
TEST_F(WineWindow, CtrlCClosesTheBoxThatWaitsForTheUser) {
    WriteText(folder_.Path("IQfile.journal"), IqTextHeader() + "12:00:00,1.0000000,2.0000000\r\n");
    ASSERT_NO_FATAL_FAILURE(LaunchFromConsole({"--simulate"}));
    ASSERT_TRUE(WaitFor([&] { return TitledWindows() == 2; }, 20s)) << "no start-up notice\n"
                                                                    << AppErr();
    EXPECT_EQ(FileText(folder_.Path("IQfile.journal.1")).size(), IqTextHeader().size() + 30);
    ASSERT_NO_FATAL_FAILURE(CtrlCInConsole());
    ASSERT_EQ(app_.Wait(30s), 0) << "the box kept the program from ending\n" << AppErr();
    const std::string err = FileText(folder_.Path("app.err"));
    EXPECT_NE(err.find("are kept in"), std::string::npos) << err;
    EXPECT_NE(err.find("IQfile.journal.1"), std::string::npos) << err;
    EXPECT_NE(err.find("quorvelle: Ctrl-C: ending the program"), std::string::npos) << err;
}

// A Start that fails (the recording to play has gone since start-up) says why in a box; once
// it is closed with Enter the program ends with exit status 1 and one stderr line naming the
// input and the reason.
TEST_F(WineWindow, AFailedStartShowsWhyAndEndsWithStatusOne) {
    const std::string wav = folder_.Path("gone.wav");
    WriteWavFile(wav, std::vector<Frame>(8000));
    ASSERT_NO_FATAL_FAILURE(Launch({"--play", "gone.wav"}));
    std::filesystem::remove(wav);
    ASSERT_NO_FATAL_FAILURE(ClickControl(IDCAP));
    ASSERT_TRUE(WaitFor([&] { return TitledWindows() == 2; }, 20s)) << "no message box\n"
                                                                    << AppErr();
    ASSERT_NO_FATAL_FAILURE(AnswerBoxWithEnter());
    EXPECT_EQ(app_.Wait(30s), 1) << AppErr();
    const std::string err = FileText(folder_.Path("app.err"));
    EXPECT_NE(err.find("quorvelle: cannot start the capture from Recording gone.wav: No suitable "
                       "device found (gone.wav: "),
              std::string::npos)
        << err;
}

// No sound input at all (no sound server): before the window shows, the "Warning" asks whether
// to measure the built-in simulator; Y answers Yes, the window comes up measuring it, and End
// ends the program normally.
TEST_F(WineWindow, NoInputOffersTheSimulatorAndYesStartsMeasuringIt) {
    const std::vector<std::string> argv = {
        "env",      "-C",          folder_.Dir(),    kWine64, ProgramOnOwnDesktop(),
        "--folder", folder_.Dir(), "--log-readouts", Log()};
    std::vector<std::string> environment = x_.Environment();
    environment.push_back("WINEDEBUG=-all");
    environment.push_back("PULSE_SERVER=unix:" + folder_.Path("no-server"));
    std::string error;
    ASSERT_TRUE(
        app_.Start(argv, environment, folder_.Path("app.out"), folder_.Path("app.err"), error))
        << error;
    std::vector<std::string> boxes;
    ASSERT_TRUE(WaitFor([&] { return !(boxes = VisibleWindows(x_, "^Warning$")).empty(); }, 60s))
        << "no \"Warning\" box\n"
        << Windows() << AppErr();
    EXPECT_TRUE(MainWindow(x_).empty()) << "the question comes before the window";
    ASSERT_NO_FATAL_FAILURE(Focus(boxes[0], true));
    ASSERT_NO_FATAL_FAILURE(Key("y"));
    ASSERT_TRUE(WaitFor([&] { return !(window_ = MainWindow(x_)).empty(); }, 30s))
        << "no main window after Yes\n"
        << AppErr();
    menuBar_ = Geometry(window_).H - (kClientHeight + kStatusLine);
    ASSERT_TRUE(WaitFor([&] { return LogTexts(Log(), "IDFREQERROR").size() >= 2; }, 30s))
        << "no read-outs: the simulator was not started\n"
        << FileText(Log()) << AppErr();
    const std::vector<std::string> capture = LogTexts(Log(), "CAPTURE");
    ASSERT_FALSE(capture.empty());
    EXPECT_EQ(capture[0], "capture started from Simulated GPS receiver and radio");
    ASSERT_NO_FATAL_FAILURE(ClickControl(IDEND));
    EXPECT_EQ(app_.Wait(30s), 0) << AppErr();
}

// Tab walks the controls in table order from Start (which has the focus first), skipping "/1",
// and wraps round; Shift+Tab walks back; Space presses what has the focus: "Capture screen"
// (its message in the log, its bitmap in the folder) and "Blank RF click" (its flag in the
// title; --no-blank cleared it at start-up). Alt+F4, the close box's key, ends the window with
// its close-time work: the I/Q file --save-iq chose.
TEST_F(WineWindow, TabFollowsTheControlTableAndWrapsRound) {
    ASSERT_NO_FATAL_FAILURE(
        Launch({"--simulate", "--no-blank", "--save-iq", "--log-readouts", Log()}));
    ASSERT_NO_FATAL_FAILURE(Focus(window_, true));
    auto keys = [&](const std::string& key, int times) {
        for (int i = 0; i < times; ++i) ASSERT_NO_FATAL_FAILURE(Key(key));
    };
    auto messages = [&] { return LogTexts(Log(), "MESSAGE"); };

    // Start, End, Reset All, Clear V-scope, Clear display, Fix offset, Capture screen.
    ASSERT_NO_FATAL_FAILURE(keys("Tab", 6));
    ASSERT_NO_FATAL_FAILURE(Key("space"));
    ASSERT_TRUE(WaitFor([&] { return messages().size() == 1; }, 10s)) << FileText(Log());
    EXPECT_EQ(messages()[0].rfind("Chart saved: ", 0), 0u) << messages()[0];
    EXPECT_TRUE(std::regex_search(messages()[0], std::regex(R"(\\\d{6}\.BMP$)"))) << messages()[0];

    // Lock frequency, offset, integration time, then "Blank RF click": preset off, now on.
    ASSERT_NO_FATAL_FAILURE(keys("Tab", 4));
    ASSERT_NO_FATAL_FAILURE(Key("space"));
    EXPECT_TRUE(WaitFor([&] { return Title() == "1"; }, 10s)) << Title();

    // Inverted, /10, /100, /1000, the device list, then round through all 16 stops.
    ASSERT_NO_FATAL_FAILURE(keys("Tab", 16));
    ASSERT_NO_FATAL_FAILURE(Key("space"));
    EXPECT_TRUE(WaitFor([&] { return Title() == "-1"; }, 10s))
        << "the focus did not come round to \"Blank RF click\": " << Title();

    // Back over the three entries to "Capture screen".
    ASSERT_NO_FATAL_FAILURE(keys("shift+Tab", 4));
    ASSERT_NO_FATAL_FAILURE(Key("space"));
    EXPECT_TRUE(WaitFor([&] { return messages().size() == 2; }, 10s)) << FileText(Log());
    ASSERT_TRUE(app_.Running()) << AppErr();
    ASSERT_NO_FATAL_FAILURE(Key("alt+F4"));
    ASSERT_EQ(app_.Wait(30s), 0) << AppErr();
    ASSERT_NO_FATAL_FAILURE(ExpectOneIqFile(0));
}

// An I/Q file that cannot be written at End (the window's folder has gone) is said so in a
// box; after OK the save dialog asks where to put it, and the text goes there, byte for byte.
// An existing file is replaced only after a question, whose default answer is No.
TEST_F(WineWindow, AnIqFileThatCannotBeWrittenGoesWhereTheSaveDialogSays) {
    WriteText(folder_.Path("existing.TXT"), "kept");
    const std::string work = folder_.Path("work");
    std::filesystem::create_directories(work);
    ASSERT_NO_FATAL_FAILURE(Launch({"--simulate", "--save-iq"}, 1, work));
    std::filesystem::remove_all(work);
    ASSERT_NO_FATAL_FAILURE(ClickControl(IDEND));
    ASSERT_TRUE(WaitFor([&] { return TitledWindows() == 2; }, 20s)) << "no box\n" << AppErr();
    ASSERT_NO_FATAL_FAILURE(AnswerBoxWithEnter());
    std::vector<std::string> dialogs;
    auto dialog = [&] { return !(dialogs = VisibleWindows(x_, "^Save the I/Q text as$")).empty(); };
    // The whole path, as Wine shows the Linux root on drive Z:, typed once the dialog has the
    // keyboard.
    auto answer = [&](const std::string& name) {
        ASSERT_TRUE(WaitFor(dialog, 30s)) << "no save dialog\n" << AppErr();
        ASSERT_NO_FATAL_FAILURE(Focus(dialogs[0], true));
        ASSERT_NO_FATAL_FAILURE(Key("ctrl+a"));
        std::string path = "Z:" + folder_.Path(name);
        std::replace(path.begin(), path.end(), '/', '\\');
        ASSERT_NO_FATAL_FAILURE(TypeText(path));
        ASSERT_NO_FATAL_FAILURE(Key("Return"));
    };
    ASSERT_NO_FATAL_FAILURE(answer("existing.TXT"));
    ASSERT_TRUE(WaitFor([&] { return TitledWindows() == 2; }, 20s)) << "no question\n" << AppErr();
    ASSERT_NO_FATAL_FAILURE(AnswerBoxWithEnter());  // No
    ASSERT_NO_FATAL_FAILURE(answer("saved.TXT"));
    ASSERT_EQ(app_.Wait(30s), 0) << AppErr();
    EXPECT_EQ(FileText(folder_.Path("existing.TXT")), "kept");
    EXPECT_EQ(FileText(folder_.Path("saved.TXT")), IqTextHeader() + "\r\n");
    EXPECT_NE(FileText(folder_.Path("app.err")).find("I/Q file written: "), std::string::npos)
        << AppErr();
}

// At 150 %: 144 dots per inch in the registry of a Wine prefix of the test's own (the other
// tests keep 96). The controls and their font follow the screen's factor, the panels show their
// surfaces at twice their pixels, crisp; no control's text or mark is cut: the rows along the
// top and bottom edges of every label, check box and option are the window's background. Moved
// to a screen at 100 %, the window is the control table again.
TEST_F(WineWindow, AtOneHundredFiftyPercentControlsFollowTheScreenAndPanelsStayWhole) {
    // Made on the test's X server, whose size Wine then takes for the screen's work area, and
    // where its desktop shows the window and the helper finds it.
    const std::string prefix = folder_.Path("prefix-144");
    wineEnvironment_ = {"WINEDEBUG=-all", "WINEPREFIX=" + prefix, "DISPLAY=" + x_.Display()};
    ownDesktop_ = false;
    auto wine = [&](const std::vector<std::string>& argv) {
        return RunProgram(argv, wineEnvironment_, folder_.Path("wine.out"),
                          folder_.Path("wine.err"), 180s);
    };
    struct PrefixServer {  // the prefix's own server ended with the test
        std::function<void()> Stop;
        ~PrefixServer() { Stop(); }
    } server{[&] { wine({"sh", "-c", "/usr/lib/wine/wineserver64 -k || wineserver -k"}); }};
    wine({kWine64, "wineboot", "--init"});
    const ToolRun dpi = wine({kWine64, "reg", "add", "HKCU\\Control Panel\\Desktop", "/v",
                              "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f"});
    ASSERT_EQ(dpi.Status, 0) << dpi.Err;

    const WindowScaling scaling{1.5, 2, 96};
    const ClientLayout client = ClientSize(scaling);
    const std::string dump = folder_.Path("layout.txt");
    ASSERT_NO_FATAL_FAILURE(LaunchFromConsole({"--simulate", "--dump-layout", dump}, 1,
                                              client.TableHeight + client.StatusHeight))
        << FileText(dump);
    ASSERT_TRUE(
        WaitFor([&] { return FileText(dump).find("\nitem\t670\t") != std::string::npos; }, 20s))
        << "no layout written\n"
        << AppErr();
    const Layout layout = ReadLayout(FileText(dump));
    EXPECT_EQ(layout.Scale, 2);
    EXPECT_EQ(layout.ClientW, client.Width);
    EXPECT_EQ(layout.ClientH, client.TableHeight + client.StatusHeight);
    EXPECT_EQ(layout.Status, (Box{0, client.TableHeight, client.Width, client.StatusHeight}));
    ASSERT_EQ(layout.Controls.size(), kControls.size());

    Display expected;
    for (const auto& [id, surface] : StartUpPanels(expected)) {
        const auto at = std::find_if(layout.Controls.begin(), layout.Controls.end(),
                                     [&](const DumpedControl& d) { return d.Id == id; });
        ASSERT_NE(at, layout.Controls.end());
        int mismatches = -1;
        std::string first;
        WaitFor([&] { return (mismatches = PanelMismatches(at->Rect, *surface, 2, first)) == 0; },
                10s);
        EXPECT_EQ(mismatches, 0) << ControlName(id) << ": " << first;
    }

    // Once drawn (the first read-out's label shows its text): the controls.
    const Box window = Geometry(window_);
    auto background = [&](const Picture& p) {
        return p.Pixel(window.X + 2, window.Y + menuBar_ + 2);
    };
    const Box label = layout.Controls[16].Rect;
    ASSERT_EQ(layout.Controls[16].Id, IDAUDIOLEVEL);
    auto drawn = [&](const Picture& p) {
        for (int x = label.X; x < label.X + label.W; ++x) {
            const int y = window.Y + menuBar_ + label.Y + label.H / 2;
            if (p.Pixel(window.X + x, y) != background(p)) return true;
        }
        return false;
    };
    Picture screen;
    ASSERT_NO_FATAL_FAILURE(ScreenshotWhen(screen, drawn));
    ASSERT_TRUE(drawn(screen)) << "the window's controls are not drawn";
    for (size_t i = 0; i < kControls.size(); ++i) {
        const ControlSpec& c = kControls[i];
        const Box got = layout.Controls[i].Rect;
        SCOPED_TRACE(std::string(c.Name) + " \"" + c.Text + "\" at " +
                     ::testing::PrintToString(got));
        ControlSpec closed = c;
        if (c.Kind == ControlKind::DeviceList) closed.H = kDeviceListClosedHeight;
        const PixelRect want = ControlRect(closed, scaling);
        EXPECT_EQ(got.X, want.X);
        EXPECT_EQ(got.W, want.W);
        // As tall as the table says, or taller about the same middle where the font needs it.
        EXPECT_GE(got.H, want.H);
        EXPECT_LE(std::abs((2 * got.Y + got.H) - (2 * want.Y + want.H)), 1);
        if (c.Kind != ControlKind::Label && c.Kind != ControlKind::Check &&
            c.Kind != ControlKind::Option) {
            continue;
        }
        for (int row : {got.Y, got.Y + got.H - 1}) {
            for (int x = got.X; x < got.X + got.W; ++x) {
                ASSERT_EQ(screen.Pixel(window.X + x, window.Y + menuBar_ + row), background(screen))
                    << "drawn at the edge, row " << row << ", x " << x;
            }
        }
    }

    // Moved to a screen at 100 % (Windows' message, sent by a helper: Wine moves no window
    // between screens of different scaling): laid out again as the control table, pixel for
    // pixel.
    std::filesystem::remove(dump);
    const ToolRun moved = wine({kWine64, WindowsProgram("quorvelle_dpi_change.exe"), "144", "96"});
    ASSERT_EQ(moved.Status, 0) << moved.Err;
    ASSERT_TRUE(
        WaitFor([&] { return FileText(dump).find("\nitem\t670\t") != std::string::npos; }, 20s))
        << "no layout written after the move\n"
        << AppErr();
    ExpectTableLayout(ReadLayout(FileText(dump)), 1);
    ASSERT_NO_FATAL_FAILURE(CtrlCInConsole());
    EXPECT_EQ(app_.Wait(30s), 0) << AppErr();
}

}  // namespace

}  // namespace qv
