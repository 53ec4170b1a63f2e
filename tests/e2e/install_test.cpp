// `cmake --install` of this build into a folder of its own, as the Debian package is made: the
// three programs answer --version from there, and the desktop entry, the icons, the man pages
// and the station's user service are where a desktop, `man` and systemd look for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/png_pixels.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace fs = std::filesystem;

TEST(Install, PutsProgramsDesktopEntryIconsAndManPagesInPlace) {
    TestFolder folder;
    const std::string root = folder.Path("root");
    const ToolRun install =
        RunProgram({QUORVELLE_CMAKE, "--install", QUORVELLE_BUILD_DIR, "--prefix", "/usr"},
                   {"DESTDIR=" + root}, folder.Path("install.out"), folder.Path("install.err"),
                   std::chrono::seconds(60));
    ASSERT_EQ(install.Status, 0) << install.Out << install.Err;
    const std::string usr = root + "/usr";

    // The four programs and nothing else (no test or benchmark programs), each answering
    // --version with its name and the project's version, from the installed copy.
    std::set<std::string> programs;
    for (const fs::directory_entry& entry : fs::directory_iterator(usr + "/bin")) {
        programs.insert(entry.path().filename().string());
    }
    EXPECT_EQ(programs, (std::set<std::string>{"quorvelle", "quorvelle-batch", "quorvelle-sim",
                                               "quorvelle-report"}));
    for (const std::string& program : programs) {
        const ToolRun version =
            RunProgram({usr + "/bin/" + program, "--version"}, {"DISPLAY="}, folder.Path("v.out"),
                       folder.Path("v.err"), std::chrono::seconds(20));
        EXPECT_EQ(version.Status, 0) << program << ": " << version.Err;
        EXPECT_EQ(version.Out, program + " " + QUORVELLE_VERSION + "\n");
        EXPECT_EQ(version.Err, "");
    }
    // A usage error from an installed program: one line, status 2.
    const ToolRun unknown =
        RunProgram({usr + "/bin/quorvelle-sim", "--foo", "x.wav"}, {}, folder.Path("u.out"),
                   folder.Path("u.err"), std::chrono::seconds(20));
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_EQ(unknown.Err, "quorvelle-sim: unknown option --foo (see --help)\n");

    // The desktop entry starts the window with the installed icon, and passes the validator.
    const std::string desktop = usr + "/share/applications/quorvelle.desktop";
    const std::vector<std::string> lines = TextLines(desktop);
    for (const char* line : {"Name=GPS QuorVelle", "Exec=quorvelle", "Icon=quorvelle"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
    const ToolRun validate =
        RunProgram({"desktop-file-validate", desktop}, {}, folder.Path("d.out"),
                   folder.Path("d.err"), std::chrono::seconds(20));
    EXPECT_EQ(validate.Status, 0) << "desktop-file-validate (desktop-file-utils) " << validate.Err;
    EXPECT_EQ((validate.Out + validate.Err).find("error"), std::string::npos)
        << validate.Out << validate.Err;

    // The station's user service, which systemd reads without complaint (its program looked
    // for where this installation put it).
    const std::string unit = usr + "/lib/systemd/user/quorvelle-station.service";
    std::string unitText = FileText(unit);
    const std::string batch = "/usr/bin/quorvelle-batch ";
    ASSERT_NE(unitText.find("ExecStart=" + batch + "--quiet --capture --daily "), std::string::npos)
        << unitText;
    unitText.replace(unitText.find(batch), batch.size(), usr + "/bin/quorvelle-batch ");
    WriteText(folder.Path("quorvelle-station.service"), unitText);
    const ToolRun verify = RunProgram(
        {"systemd-analyze", "verify", "--man=no", folder.Path("quorvelle-station.service")}, {},
        folder.Path("s.out"), folder.Path("s.err"), std::chrono::seconds(20));
    EXPECT_EQ(verify.Status, 0) << "systemd-analyze (systemd) " << verify.Err;
    EXPECT_EQ(verify.Out + verify.Err, "");

    // Icons in the hicolor theme, each PNG of the size its folder names.
    const std::string icons = usr + "/share/icons/hicolor/";
    EXPECT_EQ(PngSize(icons + "48x48/apps/quorvelle.png"), std::make_pair(48u, 48u));
    EXPECT_EQ(PngSize(icons + "256x256/apps/quorvelle.png"), std::make_pair(256u, 256u));
    EXPECT_NE(FileText(icons + "scalable/apps/quorvelle.svg").find("<svg"), std::string::npos);

    // Man pages made from the programs' own --help: each lists its options and its version.
    for (const std::string program :
         {"quorvelle", "quorvelle-batch", "quorvelle-sim", "quorvelle-report"}) {
        const std::string page = FileText(usr + "/share/man/man1/" + program + ".1");
        EXPECT_NE(page.find(".SH SYNOPSIS"), std::string::npos) << program;
        EXPECT_NE(page.find("\\-\\-version"), std::string::npos) << program;
        EXPECT_NE(page.find(QUORVELLE_VERSION), std::string::npos) << program;
        EXPECT_NE(page.find(".BR quorvelle-batch (1)"), std::string::npos)
            << program << " see also";
    }
    EXPECT_NE(FileText(usr + "/share/man/man1/quorvelle-batch.1").find("lock\\-freq"),
              std::string::npos);
    EXPECT_NE(FileText(usr + "/share/man/man1/quorvelle-report.1").find("rf\\-frequency"),
              std::string::npos);
}

}  // namespace qv
