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

}  // namespace

}  // namespace qv
