// quorvelle-batch.exe ended by Ctrl-C under Wine in the middle of a long run over the
// simulator: exit status 0, every output whole, and what it wrote is exactly what the Linux
// program writes for the same stretch of signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "files/iq_file.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tests/wine/wine_program.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

TEST(WineBatchStop, CtrlCInALongSimulatedRunEndsItWithEveryOutputWholeAndAsOnLinux) {
    const std::string why = WineUnavailable(kBatchExe);
    if (!why.empty()) GTEST_SKIP() << why;
    TestFolder folder;
    const std::string log = folder.Path("win.tsv"), iq = folder.Path("win.txt");
    // An hour of signal: far more than the test lets it process.
    const std::vector<std::string> args = {"--integration", "1", "--iq-file",  iq,
                                           "--log",         log, "--simulate", "3600"};
    ChildProcess batch;
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(batch.Start(WineArgv(kBatchExe, args), kWineEnvironment, folder.Path("out"),
                            folder.Path("err"), error))
        << error;
    // Once the I/Q file has a few records, Ctrl-C, twice: the second changes nothing.
    ASSERT_TRUE(WaitWhileRunning(
        batch, [&] { return TextLines(iq).size() >= 2 + 20; }, 60s))
        << FileText(folder.Path("err"));
    const double toRecords =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    batch.Signal(SIGINT);
    std::this_thread::sleep_for(50ms);
    batch.Signal(SIGINT);
    ASSERT_EQ(batch.Wait(30s), 0) << FileText(folder.Path("err"));
    RecordProperty("StartToTwentyRecordsS", std::to_string(toRecords));

    const std::string err = Lf(FileText(folder.Path("err")));
    const std::regex ended(R"(quorvelle-batch: Ctrl-C: run ended after (\d+\.\d) s of input\n)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(err, m, ended)) << err;
    const double seconds = std::stod(m[1]);
    EXPECT_GE(seconds, 20.0);
    EXPECT_LT(seconds, 3600.0);
    EXPECT_NE(Lf(FileText(folder.Path("out"))).find("I/Q file: " + iq + "\n"), std::string::npos);

    // Whole files: the I/Q text's header, records and closing CR LF; the log's last line.
    const std::string iqText = FileText(iq);
    ASSERT_EQ(iqText.compare(0, IqTextHeader().size(), IqTextHeader()), 0) << iqText;
    const std::regex records(R"((\d\d:\d\d:\d\d,-?\d*\.\d{7},-?\d*\.\d{7}\r\n)*\r\n)");
    EXPECT_TRUE(std::regex_match(iqText.substr(IqTextHeader().size()), records)) << iqText;
    const std::string logText = FileText(log);
    ASSERT_FALSE(logText.empty());
    EXPECT_EQ(logText.back(), '\n');

    // The Linux program over a few seconds more of the same signal: the Windows files are its
    // first records and lines, byte for byte.
    const int linuxSeconds = static_cast<int>(seconds) + 3;
    const std::string linuxLog = folder.Path("linux.tsv"), linuxIq = folder.Path("linux.txt");
    const ToolRun linux =
        RunLinuxProgram(folder, QUORVELLE_BATCH_BIN,
                        {"--quiet", "--integration", "1", "--iq-file", linuxIq, "--log", linuxLog,
                         "--simulate", std::to_string(linuxSeconds)});
    ASSERT_EQ(linux.Status, 0) << linux.Err;
    const std::vector<std::string> winRecords = TextLines(iq), linuxRecords = TextLines(linuxIq);
    ASSERT_LT(winRecords.size(), linuxRecords.size());
    for (size_t i = 0; i + 1 < winRecords.size(); ++i) {
        ASSERT_EQ(winRecords[i], linuxRecords[i]) << "I/Q line " << i;
    }
    const std::vector<std::string> winLines = TextLines(log), linuxLines = TextLines(linuxLog);
    ASSERT_LT(winLines.size(), linuxLines.size());
    for (size_t i = 0; i < winLines.size(); ++i) {
        ASSERT_EQ(winLines[i], linuxLines[i]) << "log line " << i;
    }
}

// How a capture ends, in the words of the system the help is read on: the console's keys on
// Windows, the signals on Linux, and no signal's name on Windows.
TEST(WineBatchStop, HelpNamesTheWaysToEndACaptureInTheSystemsWords) {
    const std::string why = WineUnavailable(kBatchExe);
    if (!why.empty()) GTEST_SKIP() << why;
    TestFolder folder;
    const ToolRun windows = RunWindowsProgram(folder, kBatchExe, {"--help"});
    ASSERT_EQ(windows.Status, 0) << windows.Err;
    const std::string help = Lf(windows.Out);
    EXPECT_NE(help.find("(default: run until Ctrl-C,\n                         Ctrl-Break or "
                        "closing the console, which end the run\n"),
              std::string::npos)
        << help;
    EXPECT_EQ(help.find("SIG"), std::string::npos) << help;
    const ToolRun linux = RunLinuxProgram(folder, QUORVELLE_BATCH_BIN, {"--help"});
    ASSERT_EQ(linux.Status, 0) << linux.Err;
    EXPECT_NE(linux.Out.find("(default: run until SIGINT,\n                         SIGTERM or "
                             "SIGHUP, which end the run cleanly)"),
              std::string::npos)
        << linux.Out;
}

}  // namespace

}  // namespace qv
