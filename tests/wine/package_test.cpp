// The zip for Windows users: the three programs and the README, programs that need no DLL
// beyond Windows' own, each with its icon and the project's version in its resources, and a
// README that Notepad shows with its line breaks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
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
const std::set<std::string> kSystemDlls = {
    "comctl32.dll", "comdlg32.dll", "gdi32.dll",  "httpapi.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll",    "shell32.dll",  "user32.dll", "winmm.dll",   "ws2_32.dll"};

// ASCII text as UTF-16 (little-endian), as the version resource holds its strings.
std::string Utf16(const std::string& ascii) {
    std::string wide;
    for (char c : ascii) wide += std::string{c, '\0'};
    return wide;
}

// The version resource's string `name` has the value `value`: name and value each end with a
// 16-bit zero, the value on the next 32-bit boundary of the resource.
bool HasVersionString(const std::string& resource, const std::string& name,
                      const std::string& value) {
    const std::string key = Utf16(name) + std::string(2, '\0');
    for (size_t at = resource.find(key); at != std::string::npos; at = resource.find(key, at + 1)) {
        const size_t valueAt = (at + key.size() + 3) / 4 * 4;
        if (resource.compare(valueAt, 2 * value.size() + 2, Utf16(value) + std::string(2, '\0')) ==
            0) {
            return true;
        }
    }
    return false;
}

// A little-endian 32-bit number at `at`.
uint32_t Word32(const std::string& bytes, size_t at) {
    uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = word << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return word;
}

// What Explorer shows of `exe` (a path): its icon at 48 and 256 pixels, and in its Properties
// the project's version (as numbers and as text), the product's name and `description`; the
// manifest's version is the project's too.
void ExpectResources(const TestFolder& folder, const std::string& exe,
                     const std::string& description) {
    SCOPED_TRACE(exe);
    auto run = [&](const std::vector<std::string>& argv) {
        const ToolRun r = RunProgram(argv, {}, folder.Path("res.out"), folder.Path("res.err"),
                                     std::chrono::seconds(60));
        EXPECT_EQ(r.Status, 0) << r.Err;
        return r.Out;
    };
    const std::string version = run({"wrestool", "--extract", "--raw", "--type=16", exe});
    // The fixed part: its signature, then the file's and the product's version as 16-bit parts.
    const size_t fixed = version.find("\xBD\x04\xEF\xFE");
    ASSERT_NE(fixed, std::string::npos) << "no version resource";
    int major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(QUORVELLE_VERSION, "%d.%d.%d", &major, &minor, &patch), 3);
    for (size_t at : {fixed + 8, fixed + 16}) {
        EXPECT_EQ(Word32(version, at), static_cast<uint32_t>(major << 16 | minor));
        EXPECT_EQ(Word32(version, at + 4), static_cast<uint32_t>(patch << 16));
    }
    EXPECT_TRUE(HasVersionString(version, "FileVersion", QUORVELLE_VERSION));
    EXPECT_TRUE(HasVersionString(version, "ProductVersion", QUORVELLE_VERSION));
    EXPECT_TRUE(HasVersionString(version, "ProductName", "GPS QuorVelle"));
    EXPECT_TRUE(HasVersionString(version, "FileDescription", description));
    EXPECT_TRUE(HasVersionString(version, "CompanyName", "GPS QuorVelle developers"));
    EXPECT_TRUE(HasVersionString(version, "OriginalFilename",
                                 std::filesystem::path(exe).filename().string()));

    const std::string manifest = run({"wrestool", "--extract", "--raw", "--type=24", exe});
    EXPECT_NE(manifest.find(std::string("version=\"") + QUORVELLE_VERSION + ".0\""),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos) << manifest;

    const std::string icon = folder.Path("icon.ico");
    run({"wrestool", "--extract", "--type=group_icon", "--output=" + icon, exe});
    ASSERT_TRUE(std::filesystem::exists(icon)) << "no icon";
    const std::string sizes = run({"icotool", "--list", icon});
    EXPECT_NE(sizes.find("--width=48 --height=48 --bit-depth=32"), std::string::npos) << sizes;
    EXPECT_NE(sizes.find("--width=256 --height=256 --bit-depth=32"), std::string::npos) << sizes;
    std::filesystem::remove(icon);
}

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

    const std::vector<std::pair<std::string, std::string>> programs = {
        {"quorvelle.exe", "GPS QuorVelle"},
        {"quorvelle-batch.exe", "GPS QuorVelle measurement of a recording or live input"},
        {"quorvelle-sim.exe", "GPS QuorVelle simulated recording"},
        {"quorvelle-report.exe", "GPS QuorVelle picture and Allan deviation of a run"}};
    for (const auto& [exe, description] : programs) {
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
        ExpectResources(folder, (root / exe).string(), description);
    }
}

}  // namespace

}  // namespace qv
