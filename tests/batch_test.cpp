// quorvelle-batch: usage, input and output errors, and a whole run over the simulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "files/iq_file.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

std::string Temp(const std::string& name) { return testing::TempDir() + name; }

TEST(BatchUsage, BadUsageExitsTwoWithOneLineAndOnlyHelpShowsTheUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--bogus", "x.wav"},
        {"--click-position", "8000", "x.wav"},
        {"--click-position", "-1", "x.wav"},
        {"--start-time", "25:00:00", "x.wav"},
        {"--iq-file"},
        {"-j", "x", "a.wav", "b.wav"},
        {"--jobs", "1025", "a.wav", "b.wav"},
        {"-j", "2", "--capture"},
        {"--simulate", "abc"},
        {"--simulate", "10", "--ppm", "x"},
        {"--simulate", "10", "input.wav"},
        // The capture's options out of place, or without a usable value.
        {"--seconds", "5", "x.wav"},
        {"--device", "0", "--simulate", "3"},
        {"--record", "r.wav", "x.wav"},
        {"--play", "p.wav"},
        {"--capture", "x.wav"},
        {"--capture", "--device", "1", "--simulate", "3"},
        {"--capture", "--device", "1", "--play", "p.wav"},
        {"--capture", "--seconds", "0"},
        {"--capture", "--seconds", "-2"},
        {"--capture", "--seconds", "1e400"},
        {"--capture", "--seconds", "5s"},
        {"--capture", "--device", ""},
        {"--capture", "--record"},
    };
    for (const std::vector<std::string>& args : cases) {
        ToolRun r = RunBatchTool(args);
        EXPECT_EQ(r.Status, 2) << (args.empty() ? "" : args[0]) << ": " << r.Err;
        EXPECT_TRUE(IsUsageErrorLine(r.Err, "quorvelle-batch")) << r.Err;
        EXPECT_TRUE(r.Out.empty());
    }
    EXPECT_EQ(RunBatchTool({"--bogus", "x.wav"}).Err,
              "quorvelle-batch: unknown option --bogus (see --help)\n");
    // "--" ends the options: what follows is the input's name, whatever it begins with.
    const ToolRun dashed = RunBatchTool({"--quiet", "--", "--bogus.wav"});
    EXPECT_EQ(dashed.Status, 1);
    EXPECT_EQ(dashed.Err.find("quorvelle-batch: --bogus.wav: cannot open"), 0u) << dashed.Err;
    EXPECT_EQ(RunBatchTool({"--quiet", "--simulate", "2", "--"}).Status, 0);
    ToolRun help = RunBatchTool({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind("Usage: quorvelle-batch", 0), 0u);
    EXPECT_NE(help.Out.find("--simulate SECONDS"), std::string::npos);
    EXPECT_NE(help.Out.find("--list-devices"), std::string::npos);
    EXPECT_NE(help.Out.find("--version"), std::string::npos);
    // --version wins over the run: one line, nothing else, even amid simulator options.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--version"}, {"--simulate", "5", "--ppm", "3", "--version"}}) {
        ToolRun version = RunBatchTool(args);
        EXPECT_EQ(version.Status, 0);
        EXPECT_TRUE(version.Err.empty());
        EXPECT_TRUE(
            std::regex_match(version.Out, std::regex("quorvelle-batch \\d+\\.\\d+\\.\\d+\n")))
            << version.Out;
    }
}

TEST(BatchErrors, UnreadableInputAndUnwritableOutputsAreOneLineAndExitOne) {
    ToolRun missing = RunBatchTool({"--quiet", Temp("no-such-file.wav")});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(std::count(missing.Err.begin(), missing.Err.end(), '\n'), 1) << missing.Err;
    EXPECT_NE(missing.Err.find("no-such-file.wav"), std::string::npos);

    const std::string text = Temp("notes.wav");
    std::ofstream(text) << "not a recording\n";
    ToolRun notAudio = RunBatchTool({"--quiet", text});
    EXPECT_EQ(notAudio.Status, 1);
    EXPECT_NE(notAudio.Err.find("notes.wav"), std::string::npos);

    // Outputs that cannot be created fail the run instead of vanishing.
    ToolRun iq =
        RunBatchTool({"--quiet", "--iq-file", "/nonexistent-dir/iq.txt", "--simulate", "4"});
    EXPECT_EQ(iq.Status, 1);
    EXPECT_NE(iq.Err.find("/nonexistent-dir/iq.txt: cannot create"), std::string::npos);
    ToolRun log = RunBatchTool({"--quiet", "--log", "/nonexistent-dir/log.tsv", "--simulate", "4"});
    EXPECT_EQ(log.Status, 1);
    EXPECT_NE(log.Err.find("/nonexistent-dir/log.tsv"), std::string::npos);
}

TEST(BatchErrors, LogThatFailsIsSaidOnceAndTheRunStillEndsWithStatusOne) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string iq = Temp("full-log.iq.txt");
    ToolRun r = RunBatchTool({"--quiet", "--log", "/dev/full", "--iq-file", iq, "--simulate", "9"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    EXPECT_NE(r.Err.find("/dev/full: cannot write: No space left on device"), std::string::npos);
    // Two header lines, three records and the closing blank line: the results are all there.
    EXPECT_EQ(TextLines(iq).size(), 2u + 3 + 1);
}

TEST(BatchWarnings, RunThatMeasuresNothingSaysWhyAndStillSucceeds) {
    TestFolder folder;
    const std::string empty = folder.Path("empty.wav"), one = folder.Path("one.wav");
    const std::string silent = folder.Path("silent.wav");
    WriteWavFile(empty, {});
    WriteWavFile(one, {Frame{100, 200}});
    WriteWavFile(silent, std::vector<Frame>(3 * 8000 + 100, Frame{300, 0}));
    const std::string noEdge =
        "warning: no PPS edge found in 3 s on the right channel: check the GPS receiver's pulse "
        "and its channel";
    struct Case {
        std::vector<std::string> Input;
        std::string Warning;
        size_t Records;  // I/Q records written all the same
    };
    const Case cases[] = {
        {{empty}, "warning: the recording (0.0 s) is too short to close one second", 0},
        {{one}, "warning: the recording (0.0 s) is too short to close one second", 0},
        {{silent}, noEdge, 1},
        {{"--simulate", "0.99"},
         "warning: the simulated recording (1.0 s) is too short to close one second",
         0},
        {{"--simulate", "3", "--pps-level", "0"}, noEdge, 1},
        {{"--simulate", "1"}, "", 0},  // one second, closed, with its edge
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--quiet", "--iq-file", folder.Path("iq.txt")};
        args.insert(args.end(), c.Input.begin(), c.Input.end());
        ToolRun r = RunBatchTool(args);
        EXPECT_EQ(r.Status, 0) << c.Input[0] << ": " << r.Err;
        EXPECT_EQ(r.Err, c.Warning.empty() ? "" : "quorvelle-batch: " + c.Warning + "\n");
        // Two header lines, the records and the closing blank line.
        EXPECT_EQ(TextLines(folder.Path("iq.txt")).size(), 3 + c.Records) << c.Input[0];
    }
}

TEST(BatchRunSimulated, WritesRecordsAndReadoutsOnStreamTime) {
    const std::string iq = Temp("sim.iq.txt"), log = Temp("sim.readouts.tsv");
    ToolRun r = RunBatchTool({"--quiet", "--start-time", "23:59:50", "--integration", "2",
                              "--iq-file", iq, "--log", log, "--simulate", "20", "--ppm", "-20"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("I/Q file: " + iq), std::string::npos);

    std::vector<std::string> records = TextLines(iq);
    // 20 s in periods of 2 s: the first closes a sample early, so 10 records; then the empty line.
    ASSERT_EQ(records.size(), 2u + 10 + 1);
    EXPECT_EQ(records[2].substr(0, 9), "23:59:51,");
    EXPECT_EQ(records.back(), "\r");
    EXPECT_EQ(records[records.size() - 2].substr(0, 9), "00:00:09,");  // past midnight

    std::vector<std::string> readouts = TextLines(log);
    ASSERT_FALSE(readouts.empty());
    EXPECT_EQ(readouts.front().substr(0, 13), "23:59:50.503\t");
    int freqLines = 0;
    for (const std::string& line : readouts)
        freqLines += line.find("\tIDFREQERROR\t") != std::string::npos;
    EXPECT_EQ(freqLines, 20);

    // A run that writes a picture draws on its surfaces, one that writes none draws nothing:
    // either way the same records and read-outs.
    const std::string drawnIq = Temp("drawn.iq.txt"), drawnLog = Temp("drawn.readouts.tsv");
    ToolRun drawn = RunBatchTool({"--quiet", "--start-time", "23:59:50", "--integration", "2",
                                  "--iq-file", drawnIq, "--log", drawnLog, "--chart",
                                  Temp("drawn.BMP"), "--simulate", "20", "--ppm", "-20"});
    ASSERT_EQ(drawn.Status, 0) << drawn.Err;
    EXPECT_EQ(FileText(drawnIq), FileText(iq));
    EXPECT_EQ(FileText(drawnLog), FileText(log));
}

// Outputs that are the input or one another: a usage error naming both, and nothing touched.
TEST(BatchOutputs, OneFileUnderTwoNamesIsBadUsageAndTouchesNothing) {
    TestFolder folder;
    const std::string rec = folder.Path("rec.wav"), link = folder.Path("link.wav");
    WriteText(rec, "a precious recording");
    std::filesystem::create_hard_link(rec, link);
    const std::string x = folder.Path("x.wav"), p = folder.Path("p");
    struct Case {
        std::vector<std::string> Args;
        std::string Line;
    };
    const std::vector<Case> cases = {
        {{"--log", rec, rec}, "--log " + rec + " is the input recording"},
        {{"--iq-file", link, rec}, "--iq-file " + link + " is the input recording"},
        {{"--capture", "--play", folder.Dir() + "/./rec.wav", "--record", link},
         "--record " + link + " is the input recording"},
        {{"--capture", "--record", x, "--iq-file", folder.Dir() + "/p/../x.wav", "--simulate", "2"},
         "--iq-file " + folder.Dir() + "/p/../x.wav and --record " + x + " are one file"},
        {{"--iq-file", x, "--log", x, "--simulate", "2"},
         "--iq-file " + x + " and --log " + x + " are one file"},
        {{"--chart", p + "/chart.BMP", "--png", "--panels", p, "--simulate", "2"},
         "--png " + p + "/chart.png and --panels " + p + "/chart.png are one file"},
    };
    for (const Case& c : cases) {
        ToolRun r = RunBatchTool(c.Args);
        EXPECT_EQ(r.Status, 2) << r.Err;
        EXPECT_EQ(r.Err, "quorvelle-batch: " + c.Line + " (see --help)\n");
    }
    EXPECT_EQ(FileText(rec), "a precious recording");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Dir()), {}), 2);
}

// Every output is proved writable before the device is opened; a failure is one line with the
// option, the path and the reason, and the files that passed are as they were.
TEST(BatchOutputs, UnusableOutputStopsTheLiveRunBeforeAnythingIsTouched) {
    TestFolder folder;
    const std::string log = folder.Path("log.tsv"), rec = folder.Path("new.wav");
    WriteText(log, "earlier log");
    WriteText(folder.Path("a-file"), "not a folder");
    ToolRun r = RunBatchTool({"--quiet", "--log", log, "--capture", "--record", rec, "--panels",
                              folder.Path("a-file/p"), "--seconds", "9", "--simulate", "20"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "quorvelle-batch: --panels " + folder.Path("a-file/p") +
                         ": cannot create the folder: Not a directory\n");
    EXPECT_EQ(FileText(log), "earlier log");
    EXPECT_FALSE(std::filesystem::exists(rec));
}

// A full disk in the middle of a run: the I/Q file (also after the records it lacks are tried
// again at the end) and the read-out log keep whole lines only, and the summary counts the
// records on the disk, of the periods that closed.
TEST(BatchOutputs, AFullDiskLeavesWholeLinesAndTheSummaryCountsWhatIsOnIt) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file size limit to stand in for a full disk";
#else
    TestFolder folder;
    const std::string iq = folder.Path("iq.txt"), log = folder.Path("log.tsv");
    ToolRun r;
    {
        FileSizeLimit full(2000);  // [bytes] about 50 records, and a minute of read-outs
        r = RunBatchTool(
            {"--integration", "1", "--iq-file", iq, "--log", log, "--simulate", "120"});
    }
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find(iq + ": cannot write: File too large (the run goes on)\n"),
              std::string::npos)
        << r.Err;
    const std::string text = FileText(iq);
    const std::regex records(R"((\d\d:\d\d:\d\d,-?\d*\.\d{7},-?\d*\.\d{7}\r\n){30,})");
    EXPECT_EQ(text.compare(0, IqTextHeader().size(), IqTextHeader()), 0) << text;
    EXPECT_TRUE(std::regex_match(text.substr(IqTextHeader().size()), records)) << text;
    EXPECT_NE(r.Out.find("\n  I/Q records written: " + std::to_string(TextLines(iq).size() - 2) +
                         " of 120\n"),
              std::string::npos)
        << r.Out;
    EXPECT_EQ(r.Out.find("I/Q file: "), std::string::npos) << "listed though not whole";
    EXPECT_GT(FileText(log).size(), 1900u);
    EXPECT_EQ(FileText(log).back(), '\n');
#endif
}

}  // namespace

}  // namespace qv
