// The window tests' X driving, for the Linux window and for the Windows window under Wine: a
// private X server (Xvfb, by default 1024 x 768 x 24 at 96 dots per inch) on a display number of
// its own, windows found, measured and photographed on it, and a test fixture that starts a
// window program there in a test folder of its own (its output in app.out and app.err) and
// drives it with xdotool. No running desktop, window manager or authorisation file is needed;
// the server is stopped when its object goes (the test process's death kills it).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

class PrivateXServer {
public:
    PrivateXServer() = default;
    // A server of another size or resolution: a high-DPI screen, for example.
    PrivateXServer(int width, int height, int dotsPerInch)
        : width_(width), height_(height), dpi_(std::to_string(dotsPerInch)) {}
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;
    ~PrivateXServer() {
        Stop();
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }

    // Starts the server and waits until a client gets an answer; false with the reason and
    // the server's output.
    bool Start(std::string& error) {
        for (const char* tool : {"Xvfb", "xdotool", "xdpyinfo", "import"}) {
            if (!OnPath(tool)) {
                error = std::string(tool) +
                        " is not installed (scripts/install-deps installs it: packages xvfb, "
                        "xdotool, x11-utils, imagemagick)";
                return false;
            }
        }
        char folder[] = "/tmp/quorvelle-x-XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            error = std::string("mkdtemp: ") + std::strerror(errno);
            return false;
        }
        folder_ = folder;
        // -displayfd: the server picks the first free display number itself (the lock files in
        // /tmp settle races between parallel tests) and writes it to standard output once it
        // accepts connections. -noreset: no reset when the last client goes, between two
        // xdotool calls for example.
        const std::string size = std::to_string(width_) + "x" + std::to_string(height_) + "x24";
        const std::vector<std::string> argv = {"Xvfb",      "-displayfd", "1",       "-screen",
                                               "0",         size,         "-dpi",    dpi_,
                                               "-nolisten", "tcp",        "-noreset"};
        if (!server_.Start(argv, {}, Output(), LogPath(), error)) return false;

        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < giveUp) {
            if (!server_.Running()) {
                error = "Xvfb ended at start-up (scripts/install-deps installs it):\n" +
                        FileText(LogPath());
                return false;
            }
            const std::string number = FileText(Output());
            if (!number.empty() && number.back() == '\n' &&
                std::isdigit(static_cast<unsigned char>(number[0]))) {
                display_ = ":" + number.substr(0, number.find_first_of("\r\n"));
                std::string out;
                if (Run({"xdpyinfo"}, out, std::chrono::seconds(10)) == 0) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        error = "Xvfb did not answer within 20 s:\n" + FileText(LogPath()) + LastError();
        return false;
    }

    void Stop() { server_.Stop(std::chrono::seconds(5)); }

    // What a client of this server needs: the display, and no audio server started on the
    // side by a client's sound library.
    std::vector<std::string> Environment() const {
        return {"DISPLAY=" + display_, "JACK_NO_START_SERVER=1"};
    }
    const std::string& Display() const { return display_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

    // Runs an X client (xdotool, import, xdpyinfo ...) against this server to its end, killed
    // after `limit`; its exit status (-1 when killed), its standard output in `out`.
    int Run(const std::vector<std::string>& argv, std::string& out,
            std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        const ToolRun r =
            RunProgram(argv, Environment(), folder_ + "/client.out", ClientErrorPath(), limit);
        out = r.Out;
        return r.Status;
    }
    // The standard error of the last Run, for failure messages.
    std::string LastError() const { return FileText(ClientErrorPath()); }

    std::string LogPath() const { return folder_ + "/server.log"; }

private:
    static bool OnPath(const std::string& program) {
        const char* path = std::getenv("PATH");
        std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
        for (size_t start = 0; start <= dirs.size();) {
            const size_t end = std::min(dirs.find(':', start), dirs.size());
            const std::string candidate = dirs.substr(start, end - start) + "/" + program;
            if (access(candidate.c_str(), X_OK) == 0) return true;
            start = end + 1;
        }
        return false;
    }

    std::string Output() const { return folder_ + "/server.out"; }
    std::string ClientErrorPath() const { return folder_ + "/client.err"; }

    int width_ = 1024, height_ = 768;
    std::string dpi_ = "96";
    std::string folder_;
    std::string display_;
    ChildProcess server_;
};

// A rectangle [pixels]: a window on the screen, or a part of a window's client area.
struct Box {
    int X = 0, Y = 0, W = 0, H = 0;
    bool operator==(const Box&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Box& r) {
    return out << "(" << r.X << ", " << r.Y << ", " << r.W << " x " << r.H << ")";
}
// A point of a window's client area [pixels].
struct Point {
    int X = 0, Y = 0;
};

// The screen as ImageMagick's import writes it (P6).
struct Picture {
    int Width = 0, Height = 0;
    std::string Rgb;  // 3 bytes a pixel, rows top to bottom

    // The pixel at (x, y) as its three bytes.
    std::string Pixel(int x, int y) const {
        return Rgb.substr(3 * (static_cast<size_t>(y) * Width + x), 3);
    }
    // Pixels of exactly this colour within `r`.
    int Count(const Box& r, int red, int green, int blue) const {
        int n = 0;
        for (int y = std::max(r.Y, 0); y < std::min(r.Y + r.H, Height); ++y) {
            for (int x = std::max(r.X, 0); x < std::min(r.X + r.W, Width); ++x) {
                const size_t i = 3 * (static_cast<size_t>(y) * Width + x);
                n += static_cast<unsigned char>(Rgb[i]) == red &&
                     static_cast<unsigned char>(Rgb[i + 1]) == green &&
                     static_cast<unsigned char>(Rgb[i + 2]) == blue;
            }
        }
        return n;
    }
};

inline bool ReadPpm(const std::string& bytes, Picture& p) {
    std::istringstream in(bytes);
    std::string magic;
    int maxValue = 0;
    in >> magic >> p.Width >> p.Height >> maxValue;
    if (magic != "P6" || maxValue != 255 || p.Width <= 0 || p.Height <= 0) return false;
    in.get();  // the one white-space byte before the pixels
    p.Rgb = bytes.substr(static_cast<size_t>(in.tellg()));
    return p.Rgb.size() == 3 * static_cast<size_t>(p.Width) * p.Height;
}

// The whole screen of `x` as it is now, by way of the file `path`.
inline bool Screenshot(const PrivateXServer& x, const std::string& path, Picture& picture) {
    std::string out;
    return x.Run({"import", "-window", "root", "-depth", "8", "ppm:" + path}, out) == 0 &&
           ReadPpm(FileText(path), picture);
}

// A window's position on the screen and its size; all zero when it is gone.
inline Box WindowGeometry(const PrivateXServer& x, const std::string& id) {
    std::string shell;
    Box r;
    if (x.Run({"xdotool", "getwindowgeometry", "--shell", id}, shell) != 0) return r;
    std::istringstream in(shell);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const int value = std::atoi(line.c_str() + eq + 1);
        const std::string key = line.substr(0, eq);
        if (key == "X") r.X = value;
        if (key == "Y") r.Y = value;
        if (key == "WIDTH") r.W = value;
        if (key == "HEIGHT") r.H = value;
    }
    return r;
}

// A window's title, without the line end xdotool adds.
inline std::string WindowTitle(const PrivateXServer& x, const std::string& id) {
    std::string title;
    x.Run({"xdotool", "getwindowname", id}, title);
    while (!title.empty() && (title.back() == '\n' || title.back() == '\r')) title.pop_back();
    return title;
}

// Visible windows whose title matches `title` (a regular expression; ".*" also matches untitled
// ones such as menus), other than the screen's root.
inline std::vector<std::string> VisibleWindows(const PrivateXServer& x, const std::string& title) {
    std::string ids;
    x.Run({"xdotool", "search", "--onlyvisible", "--name", title}, ids);
    std::vector<std::string> found;
    std::istringstream in(ids);
    for (std::string id; in >> id;) {
        if (WindowGeometry(x, id) != Box{0, 0, x.Width(), x.Height()}) found.push_back(id);
    }
    return found;
}

inline const std::string kMainWindowTitle = "^GPS QuorVelle$";

// The largest visible window titled "GPS QuorVelle" (message boxes share the title), or "".
inline std::string MainWindow(const PrivateXServer& x) {
    std::string best;
    long bestArea = 0;
    for (const std::string& id : VisibleWindows(x, kMainWindowTitle)) {
        const Box r = WindowGeometry(x, id);
        if (static_cast<long>(r.W) * r.H > bestArea) {
            bestArea = static_cast<long>(r.W) * r.H;
            best = id;
        }
    }
    return best;
}

// ---------------------------------------------------------------------------------------------

// A window program on a private X server, started in the test's folder and driven there.
class WindowSession : public ::testing::Test {
protected:
    WindowSession() = default;
    WindowSession(int width, int height, int dotsPerInch) : x_(width, height, dotsPerInch) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(x_.Start(error)) << "cannot start a private X server: " << error;
    }

    // Starts `argv` on the private display with `environment` added, and waits for its main
    // window; the pointer is parked in the screen's corner first, off the new window, so that
    // no hover read-out runs before a test moves it. Its output in `outputs`.out and .err.
    void StartWindow(const std::vector<std::string>& argv, std::vector<std::string> environment,
                     std::chrono::milliseconds limit, const std::string& outputs = "app") {
        XOrFail({"xdotool", "mousemove", std::to_string(x_.Width() - 1),
                 std::to_string(x_.Height() - 1)});
        const std::vector<std::string> display = x_.Environment();
        environment.insert(environment.begin(), display.begin(), display.end());
        std::string error;
        ASSERT_TRUE(app_.Start(argv, environment, folder_.Path(outputs + ".out"),
                               folder_.Path(outputs + ".err"), error))
            << error;
        ASSERT_TRUE(WaitFor([&] { return !(window_ = MainWindow(x_)).empty(); }, limit))
            << "no window titled \"GPS QuorVelle\" appeared\n"
            << AppErr();
    }
    // The Linux window program with `args`, in the test's folder.
    void StartProgram(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"env", "-C", folder_.Dir(), QUORVELLE_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_NO_FATAL_FAILURE(StartWindow(argv, {}, std::chrono::seconds(20)));
    }

    int X(const std::vector<std::string>& argv, std::string& out) { return x_.Run(argv, out); }
    void XOrFail(const std::vector<std::string>& argv) {
        std::string out;
        ASSERT_EQ(X(argv, out), 0) << argv[0] << " " << argv[1] << ": " << x_.LastError()
                                   << (app_.Running() ? "" : "the program has ended\n") << AppErr();
    }

    std::string Title() { return WindowTitle(x_, window_); }
    Box Geometry(const std::string& id) { return WindowGeometry(x_, id); }
    // Visible windows matching `title` other than the main window: message boxes, menus.
    std::vector<std::string> OtherWindows(const std::string& title = "^GPS Quor") {
        std::vector<std::string> others = VisibleWindows(x_, title);
        others.erase(std::remove(others.begin(), others.end(), window_), others.end());
        return others;
    }
    // The screen's top-level windows, for failure messages.
    std::string Windows() {
        std::string list;
        X({"xwininfo", "-root", "-children"}, list);
        return list;
    }

    // The pointer to a client-area point of the main window; with a left click there.
    void Move(Point p) {
        XOrFail({"xdotool", "mousemove", "--window", window_, std::to_string(p.X),
                 std::to_string(p.Y + menuBar_)});
    }
    void Click(Point p) {
        XOrFail({"xdotool", "mousemove", "--window", window_, std::to_string(p.X),
                 std::to_string(p.Y + menuBar_), "click", "1"});
    }
    // A key to the focused window ("Escape", "Return", "ctrl+a"), as often as asked.
    void Key(const std::string& key, int times = 1) {
        std::vector<std::string> argv = {"xdotool", "key", "--delay", "20"};
        for (int i = 0; i < times; ++i) argv.push_back(key);
        XOrFail(argv);
    }
    // Text typed into the focused window, key by key.
    void TypeText(const std::string& text) { XOrFail({"xdotool", "type", "--delay", "30", text}); }
    // The keyboard to window `id`; with `sync` once the server says it has it.
    void Focus(const std::string& id, bool sync = false) {
        if (sync) {
            XOrFail({"xdotool", "windowfocus", "--sync", id});
        } else {
            XOrFail({"xdotool", "windowfocus", id});
        }
    }

    // Moves the pointer to `p` and waits for the title to read `expected`.
    void HoverExpecting(Point p, const std::string& expected) {
        ASSERT_NO_FATAL_FAILURE(Move(p));
        EXPECT_TRUE(WaitFor([&] { return Title() == expected; }, std::chrono::seconds(10)))
            << "at client (" << p.X << ", " << p.Y << ") the title is \"" << Title()
            << "\", expected \"" << expected << "\"";
    }

    // `key` opens a menu of the main window's: waits for its list, a window of its own, to
    // show, then `choose` (a key) picks from it and waits for it to close.
    void MenuByKeys(const std::string& key, const std::string& choose) {
        const std::vector<std::string> before = OtherWindows(".*");
        ASSERT_NO_FATAL_FAILURE(Key(key));
        std::string list;
        auto opened = [&] {
            for (const std::string& id : OtherWindows(".*")) {
                if (std::find(before.begin(), before.end(), id) == before.end()) list = id;
            }
            return !list.empty();
        };
        ASSERT_TRUE(WaitFor(opened, std::chrono::seconds(10))) << key << " opened no menu\n"
                                                               << Windows() << AppErr();
        ASSERT_NO_FATAL_FAILURE(Key(choose));
        auto closed = [&] {
            const std::vector<std::string> open = OtherWindows(".*");
            return std::find(open.begin(), open.end(), list) == open.end();
        };
        ASSERT_TRUE(WaitFor(closed, std::chrono::seconds(10))) << "the menu stayed open";
    }

    // The whole screen as it is now.
    void Screenshot(Picture& picture) {
        ASSERT_TRUE(qv::Screenshot(x_, folder_.Path("screen.ppm"), picture))
            << "import wrote no P6 picture: " << x_.LastError();
    }
    // Screenshots until one shows what `shown` looks for (a repaint done), within `limit`; the
    // last one in `picture` either way, for the test's own checks.
    void ScreenshotWhen(Picture& picture, const std::function<bool(const Picture&)>& shown,
                        std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        WaitFor(
            [&] {
                return qv::Screenshot(x_, folder_.Path("screen.ppm"), picture) && shown(picture);
            },
            limit);
        ASSERT_FALSE(picture.Rgb.empty()) << "import wrote no P6 picture: " << x_.LastError();
    }
    // A client-area rectangle of the main window in screen coordinates.
    Box OnScreen(const Box& r) {
        const Box where = Geometry(window_);
        return {where.X + r.X, where.Y + menuBar_ + r.Y, r.W, r.H};
    }

    // Polls `condition` until it holds or `limit` passes; false then, or when the program ended
    // without the condition holding.
    bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
        return WaitWhileRunning(app_, condition, limit);
    }

    std::string Log() const { return folder_.Path("readouts.tsv"); }
    std::string AppErr() const { return "program's stderr:\n" + FileText(folder_.Path("app.err")); }

    TestFolder folder_;
    PrivateXServer x_;
    ChildProcess app_;
    std::string window_;  // the main window's id, once found
    int menuBar_ = 25;    // [pixels] the menu bar above the client area
};

}  // namespace qv
