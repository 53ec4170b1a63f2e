// The batch tool's closing summary and STATUS lines over simulated runs of minutes: the numbers
// against the simulated truth, and a run without a usable signal never ends "locked".
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "tests/chain_fixture.h"
#include "tests/readouts.h"
#include "tests/simulated_frames.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tools/batch_run.h"

namespace qv {

namespace {

// The number after `label` in the summary; NaN (which no comparison accepts) when missing.
double After(const std::string& out, const std::string& label) {
    const size_t at = out.find(label);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no \"" << label << "\" in:\n" << out;
        return std::nan("");
    }
    return std::strtod(out.c_str() + at + label.size(), nullptr);
}

std::vector<std::string> StatusLines(const std::string& log) {
    std::vector<std::string> texts;
    for (const LogLine& line : ReadLog(log)) {
        if (line.Name == "STATUS") texts.push_back(line.Text);
    }
    return texts;
}

TEST(BatchSummary, CardThirtySevenPpmFastIsTheAnswer) {
    TestFolder folder;
    const std::string log = folder.Path("log.tsv"), iq = folder.Path("iq.txt");
    const ToolRun r =
        RunBatchTool({"--log", log, "--iq-file", iq, "--simulate", "150", "--ppm", "37"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    // The sub-sample estimate's bias averages out over a minute: the mean within 0.3 ppm.
    EXPECT_NEAR(After(r.Out, "mean "), 37, 0.3) << r.Out;
    EXPECT_LT(After(r.Out, "standard deviation "), 1.0);
    EXPECT_NEAR(After(r.Out, "frequency error: last "), 37, 1.0);
    EXPECT_LT(After(r.Out, "RMS "), 30);  // [us] the settled loop holds the edge within 20 us
    EXPECT_EQ(After(r.Out, "over the last settled "), 60);
    EXPECT_EQ(After(r.Out, "audio level: "), 60.0);  // the pulse's peak, 0.6 of full scale
    EXPECT_NEAR(After(r.Out, "lock frequency: "), 1700.1, 0.05);  // held on the carrier
    EXPECT_EQ(After(r.Out, "I/Q records written: "), 50);
    // The fine timing's lines: every pulse but the last (still in its hold-off) found, the
    // card's frequency exact to well below 0.01 ppm, residuals far below a microsecond.
    EXPECT_NE(r.Out.find("  fine PPS edges: 148 found, 0 s without an edge, 0 pulses rejected\n"),
              std::string::npos)
        << r.Out;
    EXPECT_NEAR(After(r.Out, "fine card frequency: "), 37, 0.001);
    EXPECT_NE(r.Out.find("fine card frequency: +37."), std::string::npos);
    EXPECT_LT(After(r.Out, "ppm, standard error "), 0.001);
    EXPECT_LT(After(r.Out, "edge residual RMS "), 0.1);
    EXPECT_NE(r.Out.find("us over 145 edges\n  I/Q records written"), std::string::npos);
    EXPECT_NE(r.Out.find("149 s with a PPS edge, 1 s without"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("status: locked (Measuring: PPS and click locked)\n"), std::string::npos);
    // The closing list follows the summary, unchanged.
    EXPECT_NE(r.Out.find("\nI/Q file: " + iq + "\nread-out log: " + log + "\n"), std::string::npos);
    const std::vector<std::string> status = StatusLines(log);
    ASSERT_EQ(status.size(), 3u);
    EXPECT_EQ(status[0].rfind("clock-settling: ", 0), 0u) << status[0];
    EXPECT_EQ(status[1].rfind("lock-settling: ", 0), 0u) << status[1];
    EXPECT_EQ(status[2], "locked: Measuring: PPS and click locked");
}

TEST(BatchSummary, NoUsableSignalIsNeverLocked) {
    TestFolder folder;
    const std::string silentWav = folder.Path("silent.wav");
    ASSERT_EQ(RunSimulatorTool({"--seconds", "20", "--pps-level", "0", "--carrier-level", "0",
                                "--click-level", "0", "--noise-level", "0", silentWav})
                  .Status,
              0);
    struct Case {
        std::vector<std::string> Args;
        const char* Status;
    };
    const Case cases[] = {
        {{silentWav}, "status: no-pps (No PPS edge for 20 s: the right channel is silent"},
        {{"--simulate", "40", "--invert-pps"}, "status: no-pps (No PPS edge for 40 s although"},
        {{"--invert", "--simulate", "40"}, "(\"Inverted\" is on)"},
        {{"--simulate", "40", "--swap-channels"}, "status: pps-unsteady"},
        {{"--simulate", "40", "--carrier-level", "0", "--click-level", "0"},
         "status: no-click (Click not found at position 31"},
        {{"--capture", "--seconds", "3", "--simulate", "3", "--pps-level", "0"},
         "status: no-pps (No PPS edge for 3 s: the right channel is silent"},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunBatchTool(c.Args);
        EXPECT_EQ(r.Status, 0) << c.Args.back() << r.Err;
        EXPECT_NE(r.Out.find(c.Status), std::string::npos) << r.Out;
        EXPECT_EQ(r.Out.find("status: locked"), std::string::npos) << r.Out;
        EXPECT_NE(r.Out.find("summary: "), std::string::npos) << r.Out;
    }
}

// A card without error: its tiny negative values round to zero and show no sign ("0.000 ppm",
// never "-0.000 ppm").
TEST(BatchSummary, NumbersThatRoundToZeroShowNoSign) {
    const ToolRun r = RunBatchTool({"--simulate", "200"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("frequency error: last 0.000 ppm"), std::string::npos) << r.Out;
    EXPECT_FALSE(std::regex_search(r.Out, std::regex(R"(-0\.0+[^0-9])"))) << r.Out;
}

}  // namespace

}  // namespace qv
