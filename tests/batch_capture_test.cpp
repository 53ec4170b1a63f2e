// quorvelle-batch --capture without a sound card: options the mode would ignore, device and
// output errors.
#include "tools/batch_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

size_t LineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

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
        {{"--capture", "--rate", "44000"},
         "--rate: \"44000\" is not a rate measured: give 8000, 11025, 16000, 22050, 32000, "
         "44100, 48000, 88200, 96000, 176400 or 192000"},
        {{"--rate", "48000", "x.wav"}, "--rate needs --capture"},
        {{"--capture", "--play", "p.wav", "--rate", "48000"},
         "--rate does not apply to --play: a recording plays at its own rate"},
        {{"--capture", "--give-up", "-1"},
         "--give-up: \"-1\" is not a number of seconds from 0 (never) to 1000000000"},
        {{"--give-up", "60", "x.wav"}, "--give-up needs --capture"},
        {{"--capture", "--min-free", "1.5"},
         "--min-free: \"1.5\" is not a number of megabytes from 0 to 100000000"},
        {{"--min-free", "0", "x.wav"}, "--min-free needs --capture"},
    };
    for (const auto& [args, reason] : cases) {
        ToolRun r = RunBatchTool(args);
        EXPECT_EQ(r.Status, 2) << reason;
        EXPECT_EQ(r.Err, "quorvelle-batch: " + reason + " (see --help)\n");
    }
    EXPECT_EQ(RunBatchTool({"--quiet", "--list-devices"}).Status, 0);
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

// A disk with less free than --min-free (here: any disk) stops the recording at once, said
// once on stderr and in the log, leaving a whole WAV file, while the CSV rows go on and the run
// ends well; with no floor the same run records every frame.
TEST(BatchCaptureDisk, BelowTheFreeSpaceFloorTheRecordingStopsOnceAndTheRowsGoOn) {
    TestFolder folder;
    const std::string rec = folder.Path("rec.wav"), csv = folder.Path("s.csv"),
                      log = folder.Path("log.tsv");
    auto run = [&](const char* minFree) {
        return RunBatchTool({"--capture", "--seconds", "2", "--record", rec, "--csv", csv, "--log",
                             log, "--min-free", minFree, "--simulate", "3"});
    };
    const ToolRun floored = run("100000000");
    EXPECT_EQ(floored.Status, 0) << floored.Err;
    const std::string said = "the recording " + rec + " stops: ";
    const size_t at = floored.Err.find("quorvelle-batch: " + said);
    ASSERT_NE(at, std::string::npos) << floored.Err;
    EXPECT_EQ(floored.Err.find(said, at + 20), std::string::npos) << "said once";
    EXPECT_NE(floored.Err.find(" MB free on its disk, below --min-free 100000000 MB; the "
                               "read-outs, I/Q records and CSV rows go on\n"),
              std::string::npos)
        << floored.Err;
    EXPECT_NE(FileText(log).find("CAPTURE\t" + said), std::string::npos);
    EXPECT_NE(
        floored.Out.find("recording: " + rec + " (stopped early: its disk was short of room)"),
        std::string::npos)
        << floored.Out;
    EXPECT_LT(ReadWavFile(rec).size(), 8000u) << "stopped within the first second";
    EXPECT_GE(TextLines(csv).size(), 3u) << "the header and a row a second";

    const ToolRun unfloored = run("0");
    EXPECT_EQ(unfloored.Status, 0) << unfloored.Err;
    EXPECT_EQ(unfloored.Err.find(said), std::string::npos);
    EXPECT_EQ(ReadWavFile(rec).size(), 16000u);
}

}  // namespace

}  // namespace qv
