// The Windows installer as a user meets it, in a Wine prefix and home folder of the test's own:
// a silent install into Program Files with its Start-menu entries and Add/Remove Programs entry,
// the window started as its Start-menu entry starts it, measuring into Documents\GPS QuorVelle,
// and a silent uninstall that takes everything it installed and leaves the measurements.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/window_session.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tests/wine/wine_program.h"

namespace qv {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kInstaller =
    std::string(QUORVELLE_WINDOWS_BUILD_DIR) + "/GPS-QuorVelle-" + QUORVELLE_VERSION + "-setup.exe";
const std::string kUninstallKey =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GPS QuorVelle";

// ---------------------------------------------------------------------------------------------
// Shell links (.lnk), as far as a Start-menu entry needs them: the target's path, the
// arguments and the working folder.

struct Shortcut {
    std::string Target, Arguments, WorkingDir;
};

uint32_t Little(const std::string& bytes, size_t at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + static_cast<size_t>(i)));
    }
    return value;
}

// Reads the link in `bytes`: a header of 0x4C bytes whose flags say which parts follow, the
// item list (skipped), the location (a local path in the system's code page: ASCII here), then
// counted strings (UTF-16 when the flags say Unicode; ASCII here): the description, the
// relative path, the working folder, the arguments. False when it is no link.
bool ReadShortcut(const std::string& bytes, Shortcut& link) {
    if (bytes.size() < 0x4C || Little(bytes, 0, 4) != 0x4C) return false;
    const uint32_t flags = Little(bytes, 0x14, 4);
    size_t at = 0x4C;
    if (flags & 0x1) at += 2 + Little(bytes, at, 2);
    if (flags & 0x2) {
        const uint32_t size = Little(bytes, at, 4);
        if ((Little(bytes, at + 8, 4) & 0x1) != 0) {
            link.Target = bytes.c_str() + at + Little(bytes, at + 16, 4);
            link.Target += bytes.c_str() + at + Little(bytes, at + 24, 4);
        }
        at += size;
    }
    const bool unicode = (flags & 0x80) != 0;
    auto next = [&] {
        const size_t count = Little(bytes, at, 2);
        std::string text;
        for (size_t i = 0; i < count; ++i) {
            text += static_cast<char>(bytes.at(at + 2 + (unicode ? 2 * i : i)));
        }
        at += 2 + count * (unicode ? 2 : 1);
        // Wine counts a terminating zero too.
        while (!text.empty() && text.back() == '\0') text.pop_back();
        return text;
    };
    for (const auto& [flag, into] : std::vector<std::pair<uint32_t, std::string*>>{
             {0x4, nullptr}, {0x8, nullptr}, {0x10, &link.WorkingDir}, {0x20, &link.Arguments}}) {
        if ((flags & flag) == 0) continue;
        const std::string text = next();
        if (into != nullptr) *into = text;
    }
    return !link.Target.empty();
}

// ---------------------------------------------------------------------------------------------

// A Wine prefix of the test's own under a home folder of its own (the prefix's Documents is a
// link to the home folder), on the test's X server: nothing of the runner's prefix or the user's
// home is touched.
class WineInstaller : public WindowSession {
protected:
    void SetUp() override {
        if (!fs::exists(kWine64)) GTEST_SKIP() << kWine64 << " missing (make windows-deps)";
        ASSERT_TRUE(fs::exists(kInstaller)) << kInstaller << " is not built (make windows)";
        WindowSession::SetUp();
        fs::create_directories(folder_.Path("home"));
        environment_ = x_.Environment();
        environment_.insert(
            environment_.end(),
            {"WINEPREFIX=" + Prefix(), "HOME=" + folder_.Path("home"), "WINEDEBUG=-all",
             "WINEDLLOVERRIDES=mscoree=;mshtml=;winemenubuilder.exe=d", "LC_ALL=C.UTF-8"});
        const ToolRun boot = Wine({"wineboot", "--init"}, 120s);
        ASSERT_EQ(boot.Status, 0) << boot.Err;
    }
    void TearDown() override {
        app_.Kill();
        // The prefix's own server, which would otherwise outlive the test by a few seconds.
        if (fs::exists(Prefix())) {
            RunProgram({"/usr/lib/wine/wineserver", "-k"}, environment_, folder_.Path("k.out"),
                       folder_.Path("k.err"), 30s);
        }
    }

    std::string Prefix() const { return folder_.Path("prefix"); }
    // A path of the prefix's drive C: ("C:\\Program Files\\...") on this side.
    std::string OnDriveC(std::string path) const {
        for (char& c : path) c = c == '\\' ? '/' : c;
        return Prefix() + "/drive_c" + path.substr(2);
    }
    std::string ProgramFolder() const { return OnDriveC("C:\\Program Files\\GPS QuorVelle"); }
    std::string StartMenu() const {
        return OnDriveC("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
    }
    // The user's Documents folder in the prefix.
    std::string Documents() const {
        for (const auto& user : fs::directory_iterator(Prefix() + "/drive_c/users")) {
            if (user.path().filename() != "Public") return (user.path() / "Documents").string();
        }
        return "";
    }

    ToolRun Wine(std::vector<std::string> args, std::chrono::milliseconds limit = 60s) {
        args.insert(args.begin(), kWine64);
        return RunProgram(args, environment_, folder_.Path("wine.out"), folder_.Path("wine.err"),
                          limit);
    }
    // The Add/Remove Programs entry as `reg query` lists it; "" when it is not there.
    std::string UninstallEntry() {
        const ToolRun r = Wine({"reg", "query", kUninstallKey});
        return r.Status == 0 ? Lf(r.Out) : "";
    }

    std::vector<std::string> environment_;
};

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST_F(WineInstaller, InstallsRunsIntoDocumentsAndUninstallsLeavingTheMeasurements) {
    // The installer carries the programs' icon.
    const ToolRun icon = RunProgram({"wrestool", "--extract", "--type=group_icon",
                                     "--output=" + folder_.Path("setup.ico"), kInstaller},
                                    {}, folder_.Path("res.out"), folder_.Path("res.err"), 60s);
    ASSERT_EQ(icon.Status, 0) << icon.Err;
    const ToolRun sizes = RunProgram({"icotool", "--list", folder_.Path("setup.ico")}, {},
                                     folder_.Path("res.out"), folder_.Path("res.err"), 60s);
    EXPECT_NE(sizes.Out.find("--width=256 --height=256"), std::string::npos) << sizes.Out;

    const ToolRun install = Wine({kInstaller, "/S"}, 120s);
    ASSERT_EQ(install.Status, 0) << install.Err;
    EXPECT_EQ(Names(ProgramFolder()),
              (std::set<std::string>{"quorvelle.exe", "quorvelle-batch.exe", "quorvelle-sim.exe",
                                     "quorvelle-report.exe", "README.txt", "uninstall.exe"}));
    const std::string entry = UninstallEntry();
    const std::string folder = "C:\\Program Files\\GPS QuorVelle\\";
    for (const std::string& value :
         std::vector<std::string>{"DisplayName    REG_SZ    GPS QuorVelle",
                                  std::string("DisplayVersion    REG_SZ    ") + QUORVELLE_VERSION,
                                  "Publisher    REG_SZ    GPS QuorVelle developers",
                                  "DisplayIcon    REG_SZ    " + folder + "quorvelle.exe,0",
                                  "UninstallString    REG_SZ    \"" + folder + "uninstall.exe\""}) {
        EXPECT_NE(entry.find(value), std::string::npos) << value << " not in\n" << entry;
    }

    const std::string program = folder + "quorvelle.exe";
    Shortcut window, simulator;
    ASSERT_TRUE(ReadShortcut(FileText(StartMenu() + "/GPS QuorVelle.lnk"), window));
    ASSERT_TRUE(ReadShortcut(FileText(StartMenu() + "/GPS QuorVelle (simulator).lnk"), simulator));
    EXPECT_EQ(window.Target, program);
    EXPECT_EQ(window.Arguments, "");
    EXPECT_EQ(simulator.Target, program);
    EXPECT_EQ(simulator.Arguments, "--simulate");
    EXPECT_EQ(simulator.WorkingDir, "C:\\Program Files\\GPS QuorVelle");

    // The simulator's entry as Explorer starts it (in the entry's working folder, the program's
    // own), with saving I/Q on and a short integration time so that records come every second.
    const std::vector<std::string> argv = {"env",
                                           "-C",
                                           ProgramFolder(),
                                           kWine64,
                                           simulator.Target,
                                           simulator.Arguments,
                                           "--save-iq",
                                           "--integration",
                                           "1"};
    ASSERT_NO_FATAL_FAILURE(StartWindow(argv, environment_, 60s));
    ASSERT_NO_FATAL_FAILURE(Focus(window_, true));
    ASSERT_NO_FATAL_FAILURE(Key("Return"));  // Start, which has the focus first
    const std::string measurements = Documents() + "/GPS QuorVelle";
    ASSERT_TRUE(
        WaitFor([&] { return TextLines(measurements + "/IQfile.journal").size() >= 2 + 2; }, 30s))
        << "no I/Q records journalled in " << measurements << "\n"
        << AppErr();
    ASSERT_NO_FATAL_FAILURE(Key("alt+F4"));  // the close box's key
    ASSERT_EQ(app_.Wait(30s), 0) << AppErr();
    const std::set<std::string> written = Names(measurements);
    ASSERT_EQ(written.size(), 1u) << "the I/Q file alone, its journal removed";
    EXPECT_TRUE(std::regex_match(*written.begin(), std::regex(R"(IQfile \d{6}\.TXT)")))
        << *written.begin();
    EXPECT_EQ(Names(ProgramFolder()).size(), 6u) << "a measurement went into the program's folder";

    // The uninstaller runs from a copy of itself, and the command returns at once.
    const ToolRun uninstall = Wine({folder + "uninstall.exe", "/S"});
    ASSERT_EQ(uninstall.Status, 0) << uninstall.Err;
    const auto giveUp = std::chrono::steady_clock::now() + 30s;
    while (fs::exists(ProgramFolder()) && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(fs::exists(ProgramFolder()))
        << "left in the program's folder: " << ::testing::PrintToString(Names(ProgramFolder()));
    EXPECT_FALSE(fs::exists(StartMenu() + "/GPS QuorVelle.lnk"));
    EXPECT_FALSE(fs::exists(StartMenu() + "/GPS QuorVelle (simulator).lnk"));
    EXPECT_EQ(UninstallEntry(), "");
    EXPECT_EQ(Names(measurements), written) << "the uninstaller touched the measurements";
}

}  // namespace

}  // namespace qv
