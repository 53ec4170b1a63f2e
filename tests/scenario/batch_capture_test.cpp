// quorvelle-batch --capture with the simulator as a live input, over tens of seconds of stream:
// the batch run's results, recorded frame for frame, and a capture that measures nothing.
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

}  // namespace

}  // namespace qv
