// The zip for Windows users: the three programs and the README, programs that need no DLL
// beyond Windows' own, and a README that Notepad shows with its line breaks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tests/wine/wine_program.h"

namespace qv {

namespace {

// The DLLs a program may import: parts of every Windows installation.
const std::set<std::string> kSystemDlls = {"comctl32.dll", "comdlg32.dll", "gdi32.dll",
                                           "kernel32.dll", "msvcrt.dll",   "ole32.dll",
                                           "user32.dll",   "winmm.dll"};

TEST(WindowsPackage, ZipHoldsTheProgramsAndReadmeNeedingOnlyWindowsOwnDlls) {
    const std::string zip = std::string(QUORVELLE_WINDOWS_BUILD_DIR) + "/quorvelle-" +
                            QUORVELLE_VERSION + "-windows-x86_64.zip";
    ASSERT_TRUE(std::filesystem::exists(zip)) << zip << " is not built (make windows)";
    TestFolder folder;
    const ToolRun unzip =
        RunProgram({"cmake", "-E", "chdir", folder.Dir(), "cmake", "-E", "tar", "xf", zip}, {},
                   folder.Path("unzip.out"), folder.Path("unzip.err"), std::chrono::seconds(60));
    ASSERT_EQ(unzip.Status, 0) << unzip.Err;
    const std::filesystem::path root =
        folder.Path(std::string("quorvelle-") + QUORVELLE_VERSION + "-windows-x86_64");
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"README.txt", "quorvelle.exe", "quorvelle-batch.exe",
                                            "quorvelle-sim.exe", "quorvelle-report.exe"}));

    const std::string readme = FileText((root / "README.txt").string());
    EXPECT_NE(readme.find(std::string("GPS QuorVelle ") + QUORVELLE_VERSION), std::string::npos);
    size_t lineEnds = 0, bare = 0;
    for (size_t i = 0; i < readme.size(); ++i) {
        if (readme[i] != '\n') continue;
        ++lineEnds;
        bare += i == 0 || readme[i - 1] != '\r' ? 1 : 0;
    }
    EXPECT_GT(lineEnds, 10u);
    EXPECT_EQ(bare, 0u) << "README.txt has lines ending in LF alone";

    for (const char* exe :
         {"quorvelle.exe", "quorvelle-batch.exe", "quorvelle-sim.exe", "quorvelle-report.exe"}) {
        const ToolRun dump =
            RunProgram({"x86_64-w64-mingw32-objdump", "-p", (root / exe).string()}, {},
                       folder.Path("dump.out"), folder.Path("dump.err"), std::chrono::seconds(60));
        ASSERT_EQ(dump.Status, 0) << dump.Err;
        std::istringstream lines(dump.Out);
        std::string line;
        int dlls = 0;
        while (std::getline(lines, line)) {
            const size_t at = line.find("DLL Name: ");
            if (at == std::string::npos) continue;
            std::string dll = line.substr(at + 10);
            std::transform(dll.begin(), dll.end(), dll.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            EXPECT_TRUE(kSystemDlls.count(dll)) << exe << " imports " << dll;
            ++dlls;
        }
        EXPECT_GE(dlls, 2) << exe << ": no imports found in\n" << dump.Out;
        // Stripped for the zip, and still the program: it answers --version under Wine.
        const ToolRun version = RunProgram({kWine64, (root / exe).string(), "--version"},
                                           kWineEnvironment, folder.Path("version.out"),
                                           folder.Path("version.err"), std::chrono::seconds(60));
        EXPECT_EQ(version.Status, 0) << exe << ": " << version.Err;
        EXPECT_NE(version.Out.find(QUORVELLE_VERSION), std::string::npos) << version.Out;
    }
}

}  // namespace

}  // namespace qv
