// quorvelle-batch: usage, input and output errors, and a whole run over the simulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

std::string Temp(const std::string& name) { return testing::TempDir() + name; }

TEST(BatchUsage, BadUsageExitsTwoWithTheUsageText) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--bogus", "x.wav"},
        {"--click-position", "8000", "x.wav"},
        {"--click-position", "-1", "x.wav"},
        {"--start-time", "25:00:00", "x.wav"},
        {"--iq-file"},
        {"a.wav", "b.wav"},
        {"--simulate", "abc"},
        {"--simulate", "10", "--ppm", "x"},
        {"--simulate", "10", "input.wav"},
    };
    for (const std::vector<std::string>& args : cases) {
        ToolRun r = RunBatchTool(args);
        EXPECT_EQ(r.Status, 2) << r.Err;
        EXPECT_NE(r.Err.find("usage: quorvelle-batch"), std::string::npos);
    }
    ToolRun help = RunBatchTool({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("--simulate SECONDS"), std::string::npos);
}

TEST(BatchErrors, UnreadableInputIsOneLineAndExitOne) {
    ToolRun missing = RunBatchTool({"--quiet", Temp("no-such-file.wav")});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(std::count(missing.Err.begin(), missing.Err.end(), '\n'), 1) << missing.Err;
    EXPECT_NE(missing.Err.find("no-such-file.wav"), std::string::npos);

    const std::string text = Temp("notes.wav");
    std::ofstream(text) << "not a recording\n";
    ToolRun notAudio = RunBatchTool({"--quiet", text});
    EXPECT_EQ(notAudio.Status, 1);
    EXPECT_NE(notAudio.Err.find("notes.wav"), std::string::npos);
}

TEST(BatchErrors, UnwritableOutputsFailInsteadOfVanishing) {
    ToolRun iq =
        RunBatchTool({"--quiet", "--iq-file", "/nonexistent-dir/iq.txt", "--simulate", "4"});
    EXPECT_EQ(iq.Status, 1);
    EXPECT_NE(iq.Err.find("/nonexistent-dir/iq.txt: cannot create"), std::string::npos);
    ToolRun log = RunBatchTool({"--quiet", "--log", "/nonexistent-dir/log.tsv", "--simulate", "4"});
    EXPECT_EQ(log.Status, 1);
    EXPECT_NE(log.Err.find("/nonexistent-dir/log.tsv"), std::string::npos);
    if (std::filesystem::exists("/dev/full")) {
        ToolRun full = RunBatchTool({"--quiet", "--log", "/dev/full", "--simulate", "4"});
        EXPECT_EQ(full.Status, 1);
        EXPECT_NE(full.Err.find("No space left on device"), std::string::npos);
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
}

}  // namespace

}  // namespace qv
