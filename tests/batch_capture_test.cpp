// quorvelle-batch --capture without a sound card: option checks, device and output errors, and
// the simulator as a live input (the batch run's results, recorded frame for frame).
#include "tools/batch_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "capture/signal_simulator.h"
#include "tests/readouts.h"
#include "tests/simulated_frames.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

size_t LineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// "label<TAB>text" of every read-out line, without the time of day; CAPTURE lines apart.
std::vector<std::string> Readouts(const std::string& logPath) {
    std::vector<std::string> readouts;
    for (const LogLine& l : ReadLog(logPath)) {
        if (l.Name != "CAPTURE") readouts.push_back(l.Name + "\t" + l.Text);
    }
    return readouts;
}

TEST(BatchCaptureUsage, CaptureOptionsOutOfPlaceAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
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
        EXPECT_EQ(r.Status, 2) << args[0] << " " << args[1] << ": " << r.Err;
        EXPECT_TRUE(IsUsageErrorLine(r.Err, "quorvelle-batch")) << r.Err;
    }
    ToolRun help = RunBatchTool({"--help"});
    EXPECT_NE(help.Out.find("--list-devices"), std::string::npos);
}

TEST(BatchCaptureUsage, OptionsTheModeWouldIgnoreAreUsageErrorsThatSayWhy) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--start-time", "10:00:00", "--capture", "--simulate", "3"},
         "--start-time does not apply to --capture: live times are the wall clock"},
        {{"--capture", "--play", "p.wav", "--start-time", "00:00:00"},
         "--start-time does not apply to --capture: live times are the wall clock"},
        {{"--list-devices", "--log", "x.tsv"}, "--list-devices takes no other option (--log)"},
        {{"--list-devices", "x.wav"}, "--list-devices takes no other option (x.wav)"},
        {{"--capture", "--seconds", "1e10"},
         "--seconds: \"1e10\" is not a number of seconds above 0 and at most 1000000000"},
    };
    for (const auto& [args, reason] : cases) {
        ToolRun r = RunBatchTool(args);
        EXPECT_EQ(r.Status, 2) << reason;
        EXPECT_EQ(r.Err, "quorvelle-batch: " + reason + " (see --help)\n");
    }
    EXPECT_EQ(RunBatchTool({"--quiet", "--list-devices"}).Status, 0);
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

TEST(BatchCaptureErrors, UnknownDeviceOrUnusableOutputIsOneLineAndExitOne) {
    TestFolder folder;
    for (const char* device : {"99", "no such card anywhere"}) {
        ToolRun r = RunBatchTool({"--capture", "--device", device, "--seconds", "1"});
        EXPECT_EQ(r.Status, 1);
        EXPECT_EQ(LineCount(r.Err), 1u) << r.Err;
        EXPECT_EQ(r.Err.rfind("quorvelle-batch: --device ", 0), 0u) << r.Err;
    }
    ToolRun play = RunBatchTool({"--capture", "--play", folder.Path("missing.wav")});
    EXPECT_EQ(play.Status, 1);
    EXPECT_EQ(LineCount(play.Err), 1u) << play.Err;
    EXPECT_NE(play.Err.find("missing.wav: cannot open"), std::string::npos);

    ToolRun record = RunBatchTool(
        {"--quiet", "--capture", "--record", "/nonexistent-dir/r.wav", "--simulate", "2"});
    EXPECT_EQ(record.Status, 1);
    EXPECT_EQ(record.Err,
              "quorvelle-batch: --record /nonexistent-dir/r.wav: cannot create: No such file "
              "or directory\n");

    ToolRun list = RunBatchTool({"--list-devices"});
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out.rfind("Input devices:", 0), 0u);
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

}  // namespace

}  // namespace qv
