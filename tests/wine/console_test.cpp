// The Windows programs' messages on a console and in a file: a path beyond ASCII reads as it
// is. A file or pipe gets the program's own bytes, UTF-8, the same bytes as the Linux build
// writes. A console takes them as UTF-8 too (its output code page set by the program), whatever
// its code page was: under Wine a console program started on a terminal gets a console of its
// own, whose characters Wine passes to the terminal in the terminal's UTF-8. The window, a
// program of the Windows subsystem, writes to the console it was started from all the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tests/wine/wine_program.h"

namespace qv {

namespace {

// The text a terminal shows of `output`: carriage returns and escape sequences left out, a
// cursor moved forward (how Wine draws spaces) as spaces.
std::string Shown(const std::string& output) {
    std::string shown;
    for (size_t at = 0; at < output.size(); ++at) {
        if (output[at] == '\r') continue;
        if (output[at] != '\x1b' || output.compare(at + 1, 1, "[") != 0) {
            shown += output[at];
            continue;
        }
        const size_t end = output.find_first_not_of("0123456789;?", at + 2);
        if (end == std::string::npos) break;
        if (output[end] == 'C') {
            const std::string count = output.substr(at + 2, end - at - 2);
            shown.append(count.empty() ? 1 : std::stoul(count), ' ');
        }
        at = end;
    }
    return shown;
}

TEST(WindowsConsole, APathBeyondAsciiReadsRightInAFileAndOnAConsole) {
    const std::string why = WineUnavailable(kBatchExe);
    if (!why.empty()) GTEST_SKIP() << why;
    TestFolder folder;
    const std::string missing = folder.Path("M\u00e9.wav");
    const ToolRun linux = RunLinuxProgram(folder, QUORVELLE_BATCH_BIN, {missing});
    ASSERT_EQ(linux.Status, 1);
    ASSERT_NE(linux.Err.find("M\xc3\xa9.wav: "), std::string::npos) << linux.Err;

    // Standard error in a file: the Linux build's bytes, with Windows' line ends.
    const ToolRun file = RunWindowsProgram(folder, kBatchExe, {missing});
    EXPECT_EQ(file.Status, 1);
    EXPECT_EQ(Lf(file.Err), linux.Err);

    // On a console, here Wine's on a terminal (script(1) gives the program one): the same
    // words, with the terminal's line ends and Wine's cursor and line sequences between them.
    // Wide enough for the message on one line.
    std::string command = "stty cols 500 && exec env";
    for (const std::string& setting : kWineEnvironment) command += " " + setting;
    for (const std::string& word : WineArgv(kBatchExe, {missing})) {
        command += " " + ShellQuoted(word);
    }
    const ToolRun console = RunProgram(
        {"script", "--quiet", "--return", "--command", command, "/dev/null"}, kWineEnvironment,
        folder.Path("console.out"), folder.Path("console.err"), std::chrono::seconds(120));
    EXPECT_EQ(console.Status, 1) << console.Out << console.Err;
    EXPECT_NE(Shown(console.Out).find(linux.Err), std::string::npos) << console.Out;
}

// The subsystem a PE program is linked for (2: Windows, a window program; 3: console), from the
// optional header; 0 when the file is not a PE program.
int Subsystem(const std::string& exe) {
    const std::string bytes = FileText(exe);
    auto word = [&](size_t at, size_t size) {
        unsigned long value = 0;
        for (size_t i = 0; i < size && at + i < bytes.size(); ++i) {
            value |= static_cast<unsigned long>(static_cast<unsigned char>(bytes[at + i])) << 8 * i;
        }
        return value;
    };
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) return 0;
    const size_t pe = word(0x3C, 4);
    if (bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
    return static_cast<int>(word(pe + 4 + 20 + 68, 2));  // signature, file header, its offset
}

// The window is a program of the Windows subsystem, so that started from Explorer no console
// opens beside it; the tools stay console programs. Started from a console the window still
// writes its messages there, also when it was started without one and attaches to it, and to
// the file its output is redirected to: the Linux build's words either way.
TEST(WindowsConsole, TheWindowIsAWindowProgramWhoseMessagesStillReachItsConsole) {
    const std::string why = WineUnavailable("quorvelle.exe");
    if (!why.empty()) GTEST_SKIP() << why;
    EXPECT_EQ(Subsystem(WindowsProgram("quorvelle.exe")), 2);
    for (const char* tool : {"quorvelle-batch.exe", "quorvelle-sim.exe", "quorvelle-report.exe"}) {
        EXPECT_EQ(Subsystem(WindowsProgram(tool)), 3) << tool;
    }
    TestFolder folder;
    const ToolRun linux = RunLinuxProgram(folder, QUORVELLE_BIN, {"--no-such-option"});
    ASSERT_EQ(linux.Status, 2);
    ASSERT_NE(linux.Err.find("--no-such-option"), std::string::npos) << linux.Err;
    const ToolRun version = RunLinuxProgram(folder, QUORVELLE_BIN, {"--version"});

    const ToolRun file = RunWindowsProgram(folder, "quorvelle.exe", {"--no-such-option"});
    EXPECT_EQ(file.Status, 2);
    EXPECT_EQ(Lf(file.Err), linux.Err);
    const ToolRun fileVersion = RunWindowsProgram(folder, "quorvelle.exe", {"--version"});
    EXPECT_EQ(fileVersion.Status, 0);
    EXPECT_EQ(Lf(fileVersion.Out), version.Out);

    // On the console: started from it as a console program would be (Wine hands a window
    // program its parent's console), and started with no console and no standard handles at
    // all, as Explorer starts it, by a program on the console: the window attaches to that one.
    std::string windowsPath = "Z:" + WindowsProgram("quorvelle.exe");
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    const std::vector<std::string> detached = {"quorvelle_detached_start.exe", windowsPath};
    for (const auto& [starter, option, words, status] :
         {std::tuple{std::vector<std::string>{"quorvelle.exe"}, "--no-such-option", linux.Err, 2},
          std::tuple{std::vector<std::string>{"quorvelle.exe"}, "--version", version.Out, 0},
          std::tuple{detached, "--no-such-option", linux.Err, 2},
          std::tuple{detached, "--version", version.Out, 0}}) {
        SCOPED_TRACE(starter[0] + " " + option);
        std::string command = "stty cols 500 && exec env";
        for (const std::string& setting : kWineEnvironment) command += " " + setting;
        std::vector<std::string> args(starter.begin() + 1, starter.end());
        args.push_back(option);
        for (const std::string& word : WineArgv(starter[0], args)) {
            command += " " + ShellQuoted(word);
        }
        const ToolRun console = RunProgram(
            {"script", "--quiet", "--return", "--command", command, "/dev/null"}, kWineEnvironment,
            folder.Path("console.out"), folder.Path("console.err"), std::chrono::seconds(120));
        EXPECT_EQ(console.Status, status) << console.Out << console.Err;
        EXPECT_NE(Shown(console.Out).find(words), std::string::npos) << console.Out;
    }
}

}  // namespace

}  // namespace qv
