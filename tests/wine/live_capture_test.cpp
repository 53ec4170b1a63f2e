// quorvelle-batch.exe's live capture under Wine: its device list, and a capture through winmm's
// waveIn from a private PulseAudio (Wine's PulseAudio driver is its client) while a simulated
// signal plays into the server's null sink, ended by Ctrl-C (Wine turns the SIGINT it gets into
// the console's Ctrl-C event). Also what happens with no sound server at all.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/private_pulse.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tests/wine/wine_program.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

class WineCapture : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = WineUnavailable(kBatchExe);
        if (!why.empty()) GTEST_SKIP() << why;
        std::string error;
        ASSERT_TRUE(server_.Start(error)) << "cannot start a private PulseAudio: " << error;
    }

    // Starts quorvelle-batch.exe under Wine as a client of the private server.
    void StartBatch(const std::vector<std::string>& args) {
        std::vector<std::string> env = server_.ClientEnvironment();
        env.push_back("WINEDEBUG=-all");
        std::string error;
        ASSERT_TRUE(batch_.Start(WineArgv(kBatchExe, args), env, folder_.Path("batch.out"),
                                 folder_.Path("batch.err"), error))
            << error;
    }

    std::string BatchOut() const { return Lf(FileText(folder_.Path("batch.out"))); }
    std::string BatchErr() const { return Lf(FileText(folder_.Path("batch.err"))); }

    TestFolder folder_;
    PrivatePulseServer server_;
    ChildProcess player_;
    ChildProcess batch_;
};

// The index of the first frame of `part` in `whole`, or -1.
long FindFrames(const std::vector<Frame>& whole, const std::vector<Frame>& part) {
    if (part.empty() || part.size() > whole.size()) return -1;
    const auto same = [](const Frame& a, const Frame& b) { return a.Rf == b.Rf && a.Pps == b.Pps; };
    const auto at = std::search(whole.begin(), whole.end(), part.begin(), part.end(), same);
    return at == whole.end() ? -1 : static_cast<long>(at - whole.begin());
}

TEST_F(WineCapture, DeviceListShowsTheServersSourcesByTheirFullNames) {
    // A second sink whose monitor's name is far longer than the 31 characters of waveIn's
    // own device names.
    const std::string longName = "Station_receiver_line_input_with_a_long_name";
    const ToolRun load = RunProgram(
        {"pactl", "load-module", "module-null-sink", "sink_name=long", "rate=8000", "channels=2",
         "sink_properties=device.description=" + longName},
        server_.ClientEnvironment(), folder_.Path("pactl.out"), folder_.Path("pactl.err"), 20s);
    ASSERT_EQ(load.Status, 0) << load.Err;
    std::vector<std::string> env = server_.ClientEnvironment();
    env.push_back("WINEDEBUG=-all");
    ToolRun r = RunProgram(WineArgv(kBatchExe, {"--list-devices"}), env, folder_.Path("list.out"),
                           folder_.Path("list.err"), 60s);
    r.Out = Lf(r.Out);
    ASSERT_EQ(r.Status, 0) << r.Err;
    // "Input devices:" then one line per device (number, channels, the rate a capture takes by
    // default, name); the null sink's monitor among them, by the full name the server gives it.
    ASSERT_TRUE(r.Out.starts_with("Input devices:\n")) << r.Out;
    EXPECT_NE(r.Out.find("  Monitor of Null Output\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("  Monitor of " + longName + "\n"), std::string::npos) << r.Out;
    std::vector<std::string> lines;
    std::istringstream out(r.Out);
    for (std::string line; std::getline(out, line);) lines.push_back(line);
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(
            std::regex_match(lines[i], std::regex(R"( {0,3}\d+  [ \d]\d ch  [ \d]{5}\d Hz  \S.*)")))
            << lines[i];
    }
    EXPECT_EQ(r.Err.find("quorvelle-batch"), std::string::npos) << r.Err;
}

TEST_F(WineCapture, TwentyFiveSecondsOfWaveInMeasureThePlayedSignalAndCtrlCWritesEverything) {
    // The simulator's default signal (0 ppm, PPS peaks at 60 % of full scale), longer than the
    // capture and its start-up, played into the null sink.
    const std::string wav = folder_.Path("sim.wav");
    const ToolRun sim = RunProgram({QUORVELLE_SIM_BIN, "--seconds", "45", wav}, {},
                                   folder_.Path("sim.out"), folder_.Path("sim.err"), 60s);
    ASSERT_EQ(sim.Status, 0) << sim.Err;
    std::string error;
    ASSERT_TRUE(server_.Play(player_, wav, error)) << error;

    const std::string log = folder_.Path("live.tsv"), iq = folder_.Path("iq.txt");
    const std::string rec = folder_.Path("rec.wav");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(StartBatch({"--capture", "--device", "Monitor of Null", "--record", rec,
                                        "--log", log, "--iq-file", iq, "--integration", "1"}));
    // More than 25 seconds measured (the log is written line by line), then Ctrl-C.
    ASSERT_TRUE(WaitWhileRunning(
        batch_, [&] { return LogTexts(log, "IDFREQERROR").size() >= 26; }, 90s))
        << BatchErr();
    const double startSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() - 26;
    batch_.Signal(SIGINT);
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_EQ(batch_.Wait(30s), 0) << BatchErr();
    const double stopSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
    RecordProperty("WineStartAndFirstSecondsS", std::to_string(startSeconds));
    RecordProperty("CtrlCToExitS", std::to_string(stopSeconds));
    EXPECT_LT(stopSeconds, 10.0) << "Ctrl-C took long to end the run";

    EXPECT_NE(BatchErr().find("quorvelle-batch: Ctrl-C: capture ended"), std::string::npos)
        << BatchErr();
    EXPECT_NE(BatchOut().find(" 0 dropped, 0 input overflows from device "), std::string::npos)
        << BatchOut();
    const std::vector<std::string> captureLines = LogTexts(log, "CAPTURE");
    ASSERT_EQ(captureLines.size(), 1u) << "a drop or an overflow was logged";
    const size_t processed =
        std::stoul(captureLines[0].substr(std::string("capture ended: ").size()));
    EXPECT_GE(processed, 25u * kFramesPerSecond);

    // The level the card saw is the level played; the server's clock is the card's, exact, so
    // the clock loop settles near 0 ppm; the click is found and locked at 1700 Hz.
    const std::vector<std::string> levels = LogTexts(log, "IDAUDIOLEVEL");
    ASSERT_GE(levels.size(), 25u);
    for (size_t i = levels.size() - 10; i < levels.size(); ++i) {
        EXPECT_EQ(levels[i], "Audio level = 60.0%");
    }
    const std::vector<std::string> freq = LogTexts(log, "IDFREQERROR");
    const std::vector<std::string> timing = LogTexts(log, "IDTIMINGERROR");
    RecordProperty("LastFrequencyError", freq.back());
    std::string everySecond;
    for (const std::string& f : freq) everySecond += "\n" + f;
    EXPECT_LT(std::abs(Number(freq.back())), 2.0) << everySecond;
    EXPECT_LT(std::abs(Number(timing.back())), 10.0) << timing.back();
    const std::vector<std::string> lock = LogTexts(log, "IDLOCKFREQOUT");
    EXPECT_NEAR(static_cast<double>(Number(lock.back())), 1700.0, 0.2) << lock.back();

    // The I/Q file: the header, a record per second measured, the closing empty line.
    const std::vector<std::string> records = TextLines(iq);
    EXPECT_GE(records.size(), 2u + 20 + 1) << FileText(iq);
    EXPECT_EQ(FileText(iq).substr(FileText(iq).size() - 4), "\r\n\r\n");

    // The recording holds exactly the frames processed, and they are the played ones, bit for
    // bit and without a gap from the first to the last, wherever the capture caught the
    // player; before the player's first frame reached the server there is only silence.
    const std::vector<Frame> recorded = ReadWavFile(rec);
    ASSERT_EQ(recorded.size(), processed);
    const std::vector<Frame> played = ReadWavFile(wav);
    const long lastSecond = static_cast<long>(recorded.size()) - kFramesPerSecond;
    const std::vector<Frame> tail(recorded.begin() + lastSecond, recorded.end());
    const long tailAt = FindFrames(played, tail);
    ASSERT_GE(tailAt, 0) << "the last recorded second is not in the played signal";
    const long offset = tailAt - lastSecond;  // [frames] played index minus recorded index
    long differing = 0, firstDifferent = -1;
    for (long i = 0; i < static_cast<long>(recorded.size()); ++i) {
        const Frame expected = i + offset >= 0 ? played[static_cast<size_t>(i + offset)] : Frame{};
        if (recorded[static_cast<size_t>(i)].Rf != expected.Rf ||
            recorded[static_cast<size_t>(i)].Pps != expected.Pps) {
            if (firstDifferent < 0) firstDifferent = i;
            ++differing;
        }
    }
    EXPECT_EQ(differing, 0) << "from recorded frame " << firstDifferent << " (played frame "
                            << firstDifferent + offset << ")";
    player_.Kill();
}

TEST_F(WineCapture, WithoutASoundServerNoDeviceIsListedAndCaptureFailsLeavingNoOutputs) {
    server_.Stop();
    const std::vector<std::string> env = {"PULSE_SERVER=unix:" + folder_.Path("no-server"),
                                          "WINEDEBUG=-all"};
    ToolRun list = RunProgram(WineArgv(kBatchExe, {"--list-devices"}), env,
                              folder_.Path("list.out"), folder_.Path("list.err"), 60s);
    list.Out = Lf(list.Out);
    list.Err = Lf(list.Err);
    EXPECT_EQ(list.Status, 0) << list.Err;
    EXPECT_EQ(list.Out, "Input devices: none\n");
    EXPECT_NE(list.Err.find("quorvelle-batch: Warning: You have no audio input devices!\n"),
              std::string::npos)
        << list.Err;

    const std::string log = folder_.Path("live.tsv"), iq = folder_.Path("iq.txt");
    ToolRun capture = RunProgram(
        WineArgv(kBatchExe,
                 {"--capture", "--log", log, "--iq-file", iq, "--record", folder_.Path("rec.wav")}),
        env, folder_.Path("capture.out"), folder_.Path("capture.err"), 90s);
    capture.Err = Lf(capture.Err);
    EXPECT_EQ(capture.Status, 1) << capture.Err;
    EXPECT_NE(capture.Err.find("quorvelle-batch: No suitable device found (the default input: "),
              std::string::npos)
        << capture.Err;
    for (const char* name : {"live.tsv", "iq.txt", "rec.wav"}) {
        EXPECT_FALSE(std::filesystem::exists(folder_.Path(name))) << name;
    }
}

}  // namespace

}  // namespace qv
