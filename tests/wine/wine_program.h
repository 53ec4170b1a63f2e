// Test helper: the Windows programs of this source tree (cross-built into the Windows build
// folder) run under wine64 as child processes. The runner (scripts/with-wine) gives every test
// the same temporary Wine prefix, WINEDEBUG=-all and a wineserver kept running, so a program
// starts in about a second; a test run without it fails and says how to run it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

inline const std::string kWine64 = "/usr/lib/wine/wine64";

// The built Windows program `exe` ("quorvelle-batch.exe"), by its path in the Windows build.
inline std::string WindowsProgram(const std::string& exe) {
    return std::string(QUORVELLE_WINDOWS_BUILD_DIR) + "/" + exe;
}

// Why the Windows programs cannot be run here, or "" when they can: the runner's prefix is
// missing, or the Windows build has not been made.
inline std::string WineUnavailable(const std::string& exe) {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr || !std::filesystem::is_directory(prefix)) {
        return "no Wine prefix: run the Windows tests through scripts/with-wine (make test)";
    }
    if (!std::filesystem::exists(WindowsProgram(exe))) {
        return WindowsProgram(exe) + " is not built (make windows)";
    }
    return "";
}

// argv running `exe` with `args` under wine64.
inline std::vector<std::string> WineArgv(const std::string& exe,
                                         const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kWine64, WindowsProgram(exe)};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

inline const std::string kBatchExe = "quorvelle-batch.exe";

// `text` in single quotes for the shell.
inline std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A Windows program's console output with its line ends (CR LF) as LF.
inline std::string Lf(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

// The environment of a Windows program under Wine: Wine's messages off, and a UTF-8 locale,
// through which Wine turns the command line's bytes into the program's Unicode command line
// (under the C locale every letter beyond ASCII would be lost on the way in).
inline const std::vector<std::string> kWineEnvironment = {"WINEDEBUG=-all", "LC_ALL=C.UTF-8"};

// Runs `exe` under Wine to its end, standard output and error kept in `folder`; killed after
// `limit`. Now and then wine64 ends at once with a failure status before the program has started
// (nothing written at all); our programs never end so without a word, so such a start is Wine's
// and is made again, at most twice.
inline ToolRun RunWindowsProgram(const TestFolder& folder, const std::string& exe,
                                 const std::vector<std::string>& args,
                                 std::chrono::milliseconds limit = std::chrono::seconds(120)) {
    ToolRun run;
    for (int start = 0; start < 3; ++start) {
        run = RunProgram(WineArgv(exe, args), kWineEnvironment, folder.Path(exe + ".out"),
                         folder.Path(exe + ".err"), limit);
        if (run.Status <= 0 || !run.Out.empty() || !run.Err.empty()) break;
    }
    return run;
}

// The same run of a program of the Linux build, for comparisons.
inline ToolRun RunLinuxProgram(const TestFolder& folder, const std::string& program,
                               const std::vector<std::string>& args,
                               std::chrono::milliseconds limit = std::chrono::seconds(120)) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string name = std::filesystem::path(program).filename().string();
    return RunProgram(argv, {}, folder.Path(name + ".out"), folder.Path(name + ".err"), limit);
}

}  // namespace qv
