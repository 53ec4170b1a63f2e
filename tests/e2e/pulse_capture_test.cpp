// End to end through a real audio server: a private PulseAudio with a null sink at 8000 Hz,
// a simulated signal played into it with paplay, captured from the sink's monitor through
// PortAudio's ALSA "pulse" device by quorvelle-batch --capture. Each test starts its own server
// and stops it at the end, also when the test fails; a server that cannot start fails the test.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "tests/e2e/private_pulse.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

class PulseCapture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_.Start(error)) << "cannot start a private PulseAudio: " << error;
    }

    // Writes `seconds` of the simulator's default signal (0 ppm) to `path`.
    void Simulate(const std::string& path, double seconds) {
        const ToolRun sim =
            RunProgram({QUORVELLE_SIM_BIN, "--seconds", std::to_string(seconds), path}, {},
                       folder_.Path("sim.out"), folder_.Path("sim.err"), 60s);
        ASSERT_EQ(sim.Status, 0) << sim.Err;
    }

    void Play(const std::string& wav) {
        std::string error;
        ASSERT_TRUE(server_.Play(player_, wav, error)) << error;
    }

    // Starts quorvelle-batch with `args` as a client of the private server.
    void StartBatch(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {QUORVELLE_BATCH_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string error;
        ASSERT_TRUE(batch_.Start(argv, server_.ClientEnvironment(), folder_.Path("batch.out"),
                                 folder_.Path("batch.err"), error))
            << error;
    }

    std::string BatchOut() const { return FileText(folder_.Path("batch.out")); }
    std::string BatchErr() const { return FileText(folder_.Path("batch.err")); }

    TestFolder folder_;
    PrivatePulseServer server_;
    ChildProcess player_;
    ChildProcess batch_;
};

TEST_F(PulseCapture, TwentySecondsOfLiveCaptureMeasureThePlayedSignalWithoutDrops) {
    const std::string wav = folder_.Path("sim.wav");
    ASSERT_NO_FATAL_FAILURE(Simulate(wav, 30));  // outlasts the capture and its start-up
    ASSERT_NO_FATAL_FAILURE(Play(wav));
    const std::string log = folder_.Path("live.tsv"), iq = folder_.Path("iq.txt");
    ASSERT_NO_FATAL_FAILURE(StartBatch(
        {"--capture", "--device", "pulse", "--seconds", "20", "--log", log, "--iq-file", iq}));
    ASSERT_EQ(batch_.Wait(60s), 0) << BatchErr();

    EXPECT_NE(BatchOut().find("capture ended: 160000 frames processed, 0 dropped, 0 input "
                              "overflows from device "),
              std::string::npos)
        << BatchOut();
    EXPECT_EQ(LogTexts(log, "CAPTURE"),
              std::vector<std::string>{
                  "capture ended: 160000 frames processed, 0 dropped, 0 input overflows"});

    // The PPS pulse peaks at 60 % of full scale; the card (the server's clock) is exact, so
    // the clock loop settles near 0 ppm; the click is found and locked at 1700 Hz.
    const std::vector<std::string> levels = LogTexts(log, "IDAUDIOLEVEL");
    ASSERT_GE(levels.size(), 19u);
    for (size_t i = levels.size() - 10; i < levels.size(); ++i) {
        EXPECT_EQ(levels[i], "Audio level = 60.0%");
    }
    const std::vector<std::string> freq = LogTexts(log, "IDFREQERROR");
    const std::vector<std::string> timing = LogTexts(log, "IDTIMINGERROR");
    EXPECT_LT(std::abs(Number(freq.back())), 2.0) << freq.back();
    EXPECT_LT(std::abs(Number(timing.back())), 10.0) << timing.back();
    const std::vector<std::string> clickLevel = LogTexts(log, "IDCLICKLEVEL");
    const std::vector<std::string> lock = LogTexts(log, "IDLOCKFREQOUT");
    EXPECT_GT(Number(clickLevel.back()), 1.0) << clickLevel.back();
    EXPECT_NEAR(static_cast<double>(Number(lock.back())), 1700.0, 0.2) << lock.back();
    // Periods of 3 s: six records between the header and the closing empty line.
    const std::vector<std::string> records = TextLines(iq);
    EXPECT_GE(records.size(), 2u + 6 + 1);
}

TEST_F(PulseCapture, SigtermInTheMiddleStillWritesTheIqFileAndTheRecording) {
    const std::string wav = folder_.Path("sim.wav");
    ASSERT_NO_FATAL_FAILURE(Simulate(wav, 20));
    ASSERT_NO_FATAL_FAILURE(Play(wav));
    const std::string iq = folder_.Path("iq.txt"), rec = folder_.Path("rec.wav");
    const std::string log = folder_.Path("live.tsv");
    ASSERT_NO_FATAL_FAILURE(StartBatch({"--integration", "1", "--iq-file", iq, "--record", rec,
                                        "--log", log, "--capture", "--device", "pulse"}));
    // In the middle: once four seconds have been measured (the log is written line by line).
    ASSERT_TRUE(WaitWhileRunning(
        batch_, [&] { return LogTexts(log, "IDFREQERROR").size() >= 4; }, 30s))
        << BatchErr();
    batch_.Signal(SIGTERM);
    ASSERT_EQ(batch_.Wait(15s), 0) << BatchErr();
    EXPECT_NE(BatchErr().find("SIGTERM: capture ended"), std::string::npos) << BatchErr();
    EXPECT_NE(BatchOut().find(" 0 dropped, 0 input overflows"), std::string::npos) << BatchOut();
    EXPECT_GE(TextLines(iq).size(), 2u + 3 + 1) << FileText(iq);
    // The recording is complete and holds exactly the frames the chain processed.
    const std::vector<std::string> captureLines = LogTexts(log, "CAPTURE");
    ASSERT_EQ(captureLines.size(), 1u);
    const size_t processed =
        std::stoul(captureLines[0].substr(std::string("capture ended: ").size()));
    EXPECT_GE(processed, 3u * kFramesPerSecond);
    EXPECT_EQ(ReadWavFile(rec).size(), processed);
}

// The front end's three read-outs of each second (frequency error, timing error, audio level),
// from the first second whose PPS edge was measured rather than used for alignment.
std::vector<std::string> MeasuredSeconds(const std::string& logPath) {
    const std::vector<std::string> freq = LogTexts(logPath, "IDFREQERROR");
    const std::vector<std::string> timing = LogTexts(logPath, "IDTIMINGERROR");
    const std::vector<std::string> level = LogTexts(logPath, "IDAUDIOLEVEL");
    std::vector<std::string> seconds;
    for (size_t i = 0; i < timing.size() && i < freq.size() && i < level.size(); ++i) {
        if (seconds.empty() && timing[i] == "Timing error = 0.00uS") continue;
        seconds.push_back(freq[i] + " | " + timing[i] + " | " + level[i]);
    }
    return seconds;
}

TEST_F(PulseCapture, LiveCaptureOfASimulatedSignalMatchesTheBatchRunAndTheRecording) {
    const std::string sim = folder_.Path("sim.wav"), played = folder_.Path("played.wav");
    ASSERT_NO_FATAL_FAILURE(Simulate(sim, 10));
    // A quarter second of silence around the signal: the server may lose a few frames at the
    // very start of a playback, and they must be silence, not signal.
    const std::vector<Frame> signal = ReadWavFile(sim);
    std::vector<Frame> padded(kFramesPerSecond / 4, Frame{0, 0});
    padded.insert(padded.end(), signal.begin(), signal.end());
    padded.resize(padded.size() + kFramesPerSecond / 4, Frame{0, 0});
    WriteWavFile(played, padded);

    const std::string liveLog = folder_.Path("live.tsv"), rec = folder_.Path("rec.wav");
    ASSERT_NO_FATAL_FAILURE(StartBatch(
        {"--capture", "--device", "pulse", "--seconds", "14", "--record", rec, "--log", liveLog}));
    // Play once frames flow (the first read-out comes half a second into the capture).
    ASSERT_TRUE(WaitWhileRunning(
        batch_, [&] { return !TextLines(liveLog).empty(); }, 30s))
        << BatchErr();
    ASSERT_NO_FATAL_FAILURE(Play(played));
    ASSERT_EQ(batch_.Wait(40s), 0) << BatchErr();
    EXPECT_EQ(player_.Wait(10s), 0) << FileText(folder_.Path("paplay.err"));

    // The recording: silence, then every frame of the signal unchanged, then silence.
    const std::vector<Frame> recorded = ReadWavFile(rec);
    ASSERT_EQ(recorded.size(), 14u * kFramesPerSecond);
    const auto isSilent = [](Frame f) { return f.Rf == 0 && f.Pps == 0; };
    const size_t start =
        std::find_if_not(recorded.begin(), recorded.end(), isSilent) - recorded.begin();
    ASSERT_LE(start + signal.size(), recorded.size()) << "the signal did not fit in the capture";
    const std::vector<Frame> middle(recorded.begin() + start,
                                    recorded.begin() + start + signal.size());
    EXPECT_TRUE(SameFrames(middle, signal)) << "the signal starts at frame " << start;
    EXPECT_TRUE(std::all_of(recorded.begin() + start + signal.size(), recorded.end(), isSilent));

    // The live chain saw exactly the recorded frames: the batch tool reproduces its read-outs.
    const std::string recLog = folder_.Path("rec.tsv"), simLog = folder_.Path("sim.tsv");
    const ToolRun replay = RunProgram({QUORVELLE_BATCH_BIN, "--quiet", "--log", recLog, rec}, {},
                                      folder_.Path("b1.out"), folder_.Path("b1.err"), 60s);
    ASSERT_EQ(replay.Status, 0) << replay.Err;
    std::vector<std::string> live = TextLines(liveLog), again = TextLines(recLog);
    live.erase(std::remove_if(
                   live.begin(), live.end(),
                   [](const std::string& l) { return l.find("\tCAPTURE\t") != std::string::npos; }),
               live.end());
    ASSERT_EQ(live.size(), again.size());
    for (size_t i = 0; i < live.size(); ++i) {
        EXPECT_EQ(live[i].substr(live[i].find('\t')), again[i].substr(again[i].find('\t')));
    }

    // And the batch tool on the signal alone measures the same seconds once the PPS edge has
    // aligned both runs, whatever the signal's position in the capture.
    const ToolRun signalOnly = RunProgram({QUORVELLE_BATCH_BIN, "--quiet", "--log", simLog, sim},
                                          {}, folder_.Path("b2.out"), folder_.Path("b2.err"), 60s);
    ASSERT_EQ(signalOnly.Status, 0) << signalOnly.Err;
    const std::vector<std::string> liveSeconds = MeasuredSeconds(liveLog);
    const std::vector<std::string> simSeconds = MeasuredSeconds(simLog);
    ASSERT_GE(simSeconds.size(), 6u);
    ASSERT_GE(liveSeconds.size(), simSeconds.size());
    for (size_t i = 0; i < simSeconds.size(); ++i) {
        EXPECT_EQ(liveSeconds[i], simSeconds[i]) << "measured second " << i;
    }
}

}  // namespace

}  // namespace qv
