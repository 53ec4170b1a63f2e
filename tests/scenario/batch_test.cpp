// quorvelle-batch over simulated runs of minutes: the closing summary and STATUS lines against
// the simulated truth (a run without a usable signal never ends "locked"), the simulator as a
// live input (the batch run's results, recorded frame for frame), and an I/Q file that cannot be
// written (reported at once, the other outputs still written).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "capture/signal_simulator.h"
#include "files/iq_file.h"
#include "tests/chain_fixture.h"
#include "tests/readouts.h"
#include "tests/simulated_frames.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tools/batch_capture.h"
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
    // The answer first, in three lines: the fine timing's card frequency with its standard
    // error (exact to well below 0.01 ppm), its residuals far below a microsecond, the state.
    const size_t summary = r.Out.find("summary: card frequency error +37.0");
    ASSERT_NE(summary, std::string::npos) << r.Out;
    EXPECT_NEAR(After(r.Out, "summary: card frequency error "), 37, 0.001);
    EXPECT_LT(After(r.Out, "ppm, standard error "), 0.001);
    EXPECT_NE(r.Out.find("ppm, from the fine PPS edges of the last minute (60 edges)\n"
                         "  timing: PPS edges 0.00"),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find(" us RMS about the fit, over 145 fine edges\n  state: locked for "),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find(" s (Measuring: PPS and click locked)\n  length: 150.0 s processed\n"),
              std::string::npos)
        << r.Out;
    // What each timing counted, in one line: the classic loop the seconds it closed with an
    // edge; the fine timing every pulse but the last (still in its hold-off when the input
    // ended).
    EXPECT_NE(r.Out.find("  PPS edges: the classic clock loop found one in 149 of the 150 s it "
                         "closed; the fine timing timed 148 pulses, with 0 s without a pulse "
                         "between them, and rejected 0\n"),
              std::string::npos)
        << r.Out;
    // The details: the classic loop's mean within 0.3 ppm (its sub-sample estimate's bias
    // averages out over a minute), the settled loop holding the edge within 20 us.
    EXPECT_NEAR(After(r.Out, "mean "), 37, 0.3) << r.Out;
    EXPECT_LT(After(r.Out, "standard deviation "), 1.0);
    EXPECT_NEAR(After(r.Out, "classic frequency error: last "), 37, 1.0);
    EXPECT_LT(After(r.Out, "classic timing error: RMS "), 30);
    EXPECT_EQ(After(r.Out, "over the last settled "), 60);
    EXPECT_EQ(After(r.Out, "audio level: "), 60.0);  // the pulse's peak, 0.6 of full scale
    EXPECT_NEAR(After(r.Out, "lock frequency: "), 1700.1, 0.05);  // held on the carrier
    EXPECT_EQ(After(r.Out, "I/Q records written: "), 50);
    EXPECT_NEAR(After(r.Out, "fine card frequency: "), 37, 0.001);
    EXPECT_LT(After(r.Out, "edge residual RMS "), 0.1);
    EXPECT_NE(r.Out.find("us over 145 edges\n  I/Q records written"), std::string::npos);
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
        {{silentWav}, "s (No PPS edge for 20 s: the right channel is silent"},
        {{"--simulate", "40", "--invert-pps"}, "s (No PPS edge for 40 s although"},
        // The hints name the batch tool's own options.
        {{"--invert", "--simulate", "40"}, "(--invert is on)"},
        {{"--simulate", "40", "--swap-channels"},
         "state: pps-unsteady for 30 s (PPS edge unsteady (timing error jumps "},
        {{"--simulate", "40", "--swap-channels"}, "radio on the left? (if not: --swap-channels))"},
        {{"--simulate", "40", "--carrier-level", "0", "--click-level", "0"},
         "state: no-click for "},
        {{"--capture", "--seconds", "3", "--simulate", "3", "--pps-level", "0"},
         "s (No PPS edge for 3 s: the right channel is silent"},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunBatchTool(c.Args);
        EXPECT_EQ(r.Status, 0) << c.Args.back() << r.Err;
        EXPECT_NE(r.Out.find(c.Status), std::string::npos) << r.Out;
        EXPECT_EQ(r.Out.find("state: locked"), std::string::npos) << r.Out;
        EXPECT_NE(r.Out.find("summary: card frequency error "), std::string::npos) << r.Out;
    }
}

// A card without error: its tiny negative values round to zero and show no sign ("0.000 ppm",
// never "-0.000 ppm").
TEST(BatchSummary, NumbersThatRoundToZeroShowNoSign) {
    const ToolRun r = RunBatchTool({"--simulate", "200"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("classic frequency error: last 0.000 ppm"), std::string::npos) << r.Out;
    EXPECT_FALSE(std::regex_search(r.Out, std::regex(R"(-0\.0+[^0-9])"))) << r.Out;
}

// "label<TAB>text" of every read-out line, without the time of day; CAPTURE lines apart.
std::vector<std::string> Readouts(const std::string& logPath) {
    std::vector<std::string> readouts;
    for (const LogLine& l : ReadLog(logPath)) {
        if (l.Name != "CAPTURE") readouts.push_back(l.Name + "\t" + l.Text);
    }
    return readouts;
}

TEST(BatchCaptureRun, CaptureThatMeasuresNothingEndsWithAWarningBeforeItsSummary) {
    TestFolder folder;
    const std::string log = folder.Path("live.tsv");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--seconds", "0.5", "--simulate", "2"},
         "warning: the capture (0.5 s) is too short to close one second"},
        {{"--seconds", "1.25", "--simulate", "2", "--pps-level", "0"},
         "warning: no PPS edge found in 1 s on the right channel: check the GPS receiver's "
         "pulse and its channel"},
    };
    for (const auto& [input, warning] : cases) {
        std::vector<std::string> args = {"--quiet", "--log", log, "--capture"};
        args.insert(args.end(), input.begin(), input.end());
        ToolRun r = RunBatchTool(args);
        EXPECT_EQ(r.Status, 0) << r.Err;
        EXPECT_EQ(r.Err, "quorvelle-batch: " + warning + "\n");
        const std::vector<std::string> capture = LogTexts(log, "CAPTURE");
        ASSERT_EQ(capture.size(), 2u);
        EXPECT_EQ(capture[0], warning);
        EXPECT_EQ(capture[1].rfind("capture ended: ", 0), 0u) << "the summary stays last";
    }
}

TEST(BatchCaptureRun, SimulatorAsLiveInputGivesTheBatchRunsResultsAndRecordsWhatItProcessed) {
    TestFolder folder;
    const std::string liveLog = folder.Path("live.tsv"), batchLog = folder.Path("batch.tsv");
    const std::string liveIq = folder.Path("live.txt"), batchIq = folder.Path("batch.txt");
    const std::string rec = folder.Path("rec.wav"), chart = folder.Path("chart.BMP");
    ToolRun live =
        RunBatchTool({"--integration", "1", "--log", liveLog, "--iq-file", liveIq, "--chart", chart,
                      "--panels", folder.Path("panels"), "--capture", "--seconds", "2.5",
                      "--record", rec, "--simulate", "3", "--ppm", "40"});
    ASSERT_EQ(live.Status, 0) << live.Err;
    EXPECT_NE(live.Out.find("picture: " + chart), std::string::npos) << live.Out;
    EXPECT_NE(live.Out.find("picture: " + folder.Path("panels") + "/iq.png"), std::string::npos);
    ToolRun batch = RunBatchTool({"--quiet", "--integration", "1", "--log", batchLog, "--iq-file",
                                  batchIq, "--simulate", "3", "--ppm", "40"});
    ASSERT_EQ(batch.Status, 0) << batch.Err;

    const std::string summary =
        "capture ended: 20000 frames processed, 0 dropped, 0 input overflows";
    EXPECT_NE(live.Out.find(summary), std::string::npos) << live.Out;
    EXPECT_NE(live.Err.find("capturing from \"Simulated GPS receiver and radio\""),
              std::string::npos);
    EXPECT_EQ(LogTexts(liveLog, "CAPTURE"), std::vector<std::string>{summary});

    // The live run stopped half a second earlier: its read-outs and I/Q records (but for their
    // times of day, wall clock against stream time) begin the batch run's.
    const std::vector<std::string> liveReadouts = Readouts(liveLog);
    std::vector<std::string> batchReadouts = Readouts(batchLog);
    ASSERT_GE(liveReadouts.size(), 14u);
    ASSERT_GT(batchReadouts.size(), liveReadouts.size());
    batchReadouts.resize(liveReadouts.size());
    EXPECT_EQ(liveReadouts, batchReadouts);
    const std::vector<std::string> liveRecords = TextLines(liveIq);
    const std::vector<std::string> batchRecords = TextLines(batchIq);
    ASSERT_GE(liveRecords.size(), 2u + 2 + 1);
    for (size_t i = 2; i + 1 < liveRecords.size(); ++i) {
        EXPECT_EQ(liveRecords[i].substr(8), batchRecords[i].substr(8));
    }

    SimulatorSettings settings;
    settings.Ppm = 40;
    EXPECT_TRUE(SameFrames(ReadWavFile(rec), Simulate(settings, 20000)));
}

// An I/Q file that cannot be written (a full disk) is reported at once, on stderr and in the
// log; the other outputs are still written and listed, the I/Q file is not. Over a recording
// and live.
TEST(BatchOutputs, FailingIqFileIsReportedAtOnceAndTheOtherOutputsAreWritten) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TestFolder folder;
    const std::string log = folder.Path("log.tsv"), chart = folder.Path("c.BMP");
    const std::string failure = "/dev/full: cannot write: No space left on device";
    for (const bool live : {false, true}) {
        std::vector<std::string> args = {"--quiet",   "--integration", "1", "--iq-file",
                                         "/dev/full", "--log",         log, "--chart",
                                         chart,       "--simulate",    "3"};
        if (live) args.insert(args.end() - 2, {"--capture", "--seconds", "2"});
        ToolRun r = RunBatchTool(args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_EQ(r.Err, "quorvelle-batch: " + failure + " (the run goes on)\n");
        const std::vector<LogLine> lines = ReadLog(log);
        ASSERT_GT(lines.size(), 10u);
        EXPECT_EQ(lines[0].Name + "\t" + lines[0].Text,
                  "CAPTURE\tI/Q file not written: " + failure);
        EXPECT_TRUE(live || lines[0].Time == "00:00:00.000") << lines[0].Time;
        EXPECT_EQ(r.Out, "read-out log: " + log + "\npicture: " + chart + "\n");
    }
}

}  // namespace

}  // namespace qv
