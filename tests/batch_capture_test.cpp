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
