// End to end through a real audio server: a private PulseAudio with a null sink at 8000 Hz,
// a simulated signal played into it with paplay, captured from the sink's monitor through
// PortAudio's ALSA "pulse" device by quorvelle-batch --capture; and a null sink at 48 kHz whose
// monitor is listed and captured by its name at its own rate. Each test starts its own server
// and stops it at the end, also when the test fails; a server that cannot start fails the test.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/audio_thread.h"
#include "capture/device_list.h"
#include "capture/pulse_sources.h"
#include "capture/sound_system.h"
#include "dsp/rate_converter.h"
#include "files/wav_file.h"
#include "tests/e2e/private_pulse.h"
#include "tests/readouts.h"
#include "tests/sox_pps.h"
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

// The server's ALSA device converts whatever rate is asked: without --rate it runs at its own
// default rate, not at an 8000 the server would make by resampling.
TEST_F(PulseCapture, TheServersConvertingDeviceRunsAtItsOwnRateUnlessOneIsAsked) {
    ASSERT_NO_FATAL_FAILURE(StartBatch({"--capture", "--device", "pulse", "--seconds", "1"}));
    ASSERT_EQ(batch_.Wait(60s), 0) << BatchErr();
    const std::string err = BatchErr();
    EXPECT_NE(err.find("\"pulse\" at "), std::string::npos) << err;
    EXPECT_NE(err.find(" frames per second, converted to 8000 for the classic chain"),
              std::string::npos)
        << err;
}

TEST_F(PulseCapture, TwentySecondsOfLiveCaptureMeasureThePlayedSignalWithoutDrops) {
    const std::string wav = folder_.Path("sim.wav");
    ASSERT_NO_FATAL_FAILURE(Simulate(wav, 30));  // outlasts the capture and its start-up
    ASSERT_NO_FATAL_FAILURE(Play(wav));
    const std::string log = folder_.Path("live.tsv"), iq = folder_.Path("iq.txt");
    ASSERT_NO_FATAL_FAILURE(StartBatch({"--capture", "--device", "pulse", "--rate", "8000",
                                        "--seconds", "20", "--log", log, "--iq-file", iq}));
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
    ASSERT_NO_FATAL_FAILURE(
        StartBatch({"--integration", "1", "--iq-file", iq, "--record", rec, "--log", log,
                    "--capture", "--device", "pulse", "--rate", "8000"}));
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
    ASSERT_NO_FATAL_FAILURE(StartBatch({"--capture", "--device", "pulse", "--rate", "8000",
                                        "--seconds", "14", "--record", rec, "--log", liveLog}));
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

// ---------------------------------------------------------------------------------------------
// The server's own sources: a card at 48 kHz stands in as a null sink's monitor

constexpr int kCardRate = 48000;
constexpr const char* kCardSink = "quorvelle48";
const std::string kCardSource = "quorvelle48.monitor";

class DesktopSource : public PulseCapture {
protected:
    void SetUp() override {
        PulseCapture::SetUp();
        if (HasFatalFailure()) return;
        std::string error;
        ASSERT_TRUE(server_.AddSink(kCardSink, kCardRate, error)) << error;
        // This process's own clients (the listing, the captures) find the private server; each
        // test runs in a process of its own.
        for (const std::string& setting : server_.ClientEnvironment())
            putenv(strdup(setting.c_str()));
    }

    // Reads `seconds` of frames in blocks, counting the overflows reported.
    void Read(BlockSource& input, double seconds, std::vector<Frame>& frames, int& overflows) {
        std::vector<Frame> block(static_cast<size_t>(BlockFramesAt(input.FramesPerSecond())));
        const std::atomic<bool> stop{false};
        while (static_cast<double>(frames.size()) < seconds * input.FramesPerSecond()) {
            bool overflowed = false;
            std::string error;
            ASSERT_EQ(input.ReadBlock(block.data(), stop, overflowed, error),
                      static_cast<int>(block.size()))
                << error;
            overflows += overflowed ? 1 : 0;
            frames.insert(frames.end(), block.begin(), block.end());
        }
    }
};

TEST_F(DesktopSource, ListedByNameAtItsRateAndReadAtThatRateWithoutDrops) {
    // In the device list after the sound system's own devices, found by its name, its rate
    // known beside the 8000 Hz sink's monitor; the entry opens that source.
    AudioThread thread;
    SoundSystem system(thread);
    DeviceList list;
    ListInputDevices(list, system, ExtraSources{}, nullptr);
    int index = -1;
    std::string error;
    ASSERT_TRUE(FindDevice(list, kCardSource, index, error)) << error;
    EXPECT_EQ(list.Entries[index].Name, "Monitor of Null Output (" + kCardSource + ")");
    std::vector<DeviceCapabilities> devices;
    ASSERT_TRUE(system.EnumerateDevices(devices, error)) << error;
    const DeviceCapabilities& card = devices.at(list.Entries[index].DeviceNumber);
    EXPECT_EQ(card.DefaultRate, kCardRate);
    EXPECT_EQ(card.InputChannels, 2);
    const auto classic = std::find_if(devices.begin(), devices.end(), [](const auto& d) {
        return d.Name.find("(quorvelle.monitor)") != std::string::npos;
    });
    ASSERT_NE(classic, devices.end());
    EXPECT_EQ(classic->DefaultRate, kFramesPerSecond);
    std::vector<Frame> captured;
    int overflows = 0;
    std::unique_ptr<BlockSource> chosen = system.CreateInput(list.Entries[index].DeviceNumber);
    ASSERT_TRUE(chosen->Open(error) && chosen->Start(error)) << error;
    ASSERT_NO_FATAL_FAILURE(Read(*chosen, 0.1, captured, overflows));
    chosen->Close();

    // Captured at its own rate while a signal plays: white noise on the left, where a frame
    // dropped, repeated or converted shows, a pulse each second on the right; a quarter second
    // of silence around it, as the server may lose a few frames when a playback starts.
    std::unique_ptr<BlockSource> input = CreatePulseInput(kCardSource, 0);
    ASSERT_TRUE(input->Open(error) && input->Start(error)) << error;
    EXPECT_EQ(input->FramesPerSecond(), kCardRate);
    const auto start = std::chrono::steady_clock::now();
    std::vector<Frame> signal, played(kCardRate / 4, Frame{0, 0});
    uint32_t noise = 1;
    for (int i = 0; i < 3 * kCardRate; ++i) {
        noise = noise * 1664525u + 1013904223u;
        signal.push_back({static_cast<int16_t>(static_cast<int32_t>(noise >> 16) - 32768),
                          static_cast<int16_t>(i % kCardRate < kCardRate / 10 ? 19660 : 0)});
    }
    played.insert(played.end(), signal.begin(), signal.end());
    played.resize(played.size() + kCardRate / 4, Frame{0, 0});
    const std::string path = folder_.Path("played48.wav");
    WavWriter writer;
    ASSERT_TRUE(
        OpenWavWriter(writer, path, kCardRate, error) &&
        WriteWavFrames(writer, played.data(), static_cast<long long>(played.size()), error) &&
        CloseWavWriter(writer, error))
        << error;
    ASSERT_TRUE(server_.Play(player_, path, error, kCardSink)) << error;
    captured.clear();
    ASSERT_NO_FATAL_FAILURE(Read(*input, 6, captured, overflows));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    input->Close();
    EXPECT_EQ(player_.Wait(10s), 0) << FileText(folder_.Path("paplay.err"));

    // Six seconds of frames took about six seconds, none lost. (A null sink with no stream
    // to serve runs on blocks of 2 s: its first frames may come that much late, or at once.)
    EXPECT_EQ(overflows, 0);
    EXPECT_GT(took.count(), 6 - 2.5);
    EXPECT_LT(took.count(), 6 + 2.5);
    const auto isSilent = [](Frame f) { return f.Rf == 0 && f.Pps == 0; };
    const auto first = std::find_if_not(captured.begin(), captured.end(), isSilent);
    ASSERT_LE(first - captured.begin() + signal.size(), captured.size()) << "the signal is cut";
    EXPECT_TRUE(SameFrames({first, first + static_cast<long>(signal.size())}, signal));
    EXPECT_TRUE(std::all_of(first + static_cast<long>(signal.size()), captured.end(), isSilent));
}

TEST_F(DesktopSource, ARateAskedForIsTakenAndASourceThatGoesAwayEndsInOneLine) {
    std::string error;
    std::vector<Frame> frames;
    int overflows = 0;
    // A rate the measurement takes, other than the source's own: the server converts. One it
    // does not take is refused with the ones it takes.
    std::unique_ptr<BlockSource> converted = CreatePulseInput(kCardSource, 44100);
    ASSERT_TRUE(converted->Open(error) && converted->Start(error)) << error;
    EXPECT_EQ(converted->FramesPerSecond(), 44100);
    ASSERT_NO_FATAL_FAILURE(Read(*converted, 0.2, frames, overflows));
    converted->Close();
    std::unique_ptr<BlockSource> odd = CreatePulseInput(kCardSource, 12345);
    EXPECT_FALSE(odd->Open(error));
    odd->Close();
    const std::string name = "source \"" + kCardSource + "\": ";
    EXPECT_EQ(error, name + "12345 frames per second cannot be measured; the rates are " +
                         InputRatesText());

    // The card goes while frames flow: the frames already sent, then one line, at once.
    std::unique_ptr<BlockSource> input = CreatePulseInput(kCardSource, 0);
    ASSERT_TRUE(input->Open(error) && input->Start(error)) << error;
    ASSERT_NO_FATAL_FAILURE(Read(*input, 0.2, frames, overflows));
    ASSERT_TRUE(server_.RemoveSink(kCardSink, error)) << error;
    const auto removed = std::chrono::steady_clock::now();
    std::vector<Frame> block(BlockFramesAt(kCardRate));
    const std::atomic<bool> stop{false};
    int result = 0;
    for (int reads = 0; reads < 200 && result >= 0; ++reads) {
        bool overflowed = false;
        result = input->ReadBlock(block.data(), stop, overflowed, error);
    }
    input->Close();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error.rfind(name + "the source has gone or failed (", 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - removed, 3s);
    std::unique_ptr<BlockSource> again = CreatePulseInput(kCardSource, 0);
    EXPECT_FALSE(again->Open(error));
    again->Close();
    EXPECT_EQ(error, name + "the sound server has no such source (--list-devices shows them)");
}

// The card goes in the middle of a live run and comes back 2 s later: the run says so once,
// reopens it by name, counts the frames it missed as dropped and ends well at --seconds.
TEST_F(DesktopSource, ACardThatGoesAndComesBackIsReopenedByNameAndTheRunGoesOn) {
    const std::string log = folder_.Path("live.tsv"), csv = folder_.Path("live.csv");
    ASSERT_NO_FATAL_FAILURE(StartBatch(
        {"--capture", "--device", kCardSource, "--seconds", "4", "--csv", csv, "--log", log}));
    ASSERT_TRUE(WaitWhileRunning(
        batch_, [&] { return !TextLines(log).empty(); }, 30s))
        << BatchErr();
    std::this_thread::sleep_for(1s);
    std::string error;
    ASSERT_TRUE(server_.RemoveSink(kCardSink, error)) << error;
    const std::string gone = "the device stopped delivering (source \"" + kCardSource + "\": ";
    ASSERT_TRUE(WaitWhileRunning(
        batch_, [&] { return BatchErr().find(gone) != std::string::npos; }, 10s))
        << BatchErr();
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(server_.AddSink(kCardSink, kCardRate, error)) << error;
    ASSERT_EQ(batch_.Wait(60s), 0) << BatchErr();

    const std::string err = BatchErr();
    EXPECT_EQ(err.find(gone, err.find(gone) + 1), std::string::npos) << "said once: " << err;
    EXPECT_NE(err.find(" (" + kCardSource + ")\" by name every 2 s\n"), std::string::npos) << err;
    const std::regex back(R"(the device is back after [0-9.]+ s gone: (\d+) frames missing at )"
                          R"(frame (\d+) of the capture, counted as dropped)");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(err, found, back)) << err;
    const int64_t missed = std::stoll(found[1]);
    EXPECT_GE(missed, 2 * kCardRate) << "gone for the 2 s at least";
    EXPECT_LE(missed, 10 * kCardRate);
    EXPECT_GE(std::stoll(found[2]), kCardRate / 2) << "after the frames before the loss";
    EXPECT_NE(BatchOut().find(", " + std::to_string(missed) + " missed while the device was gone"),
              std::string::npos)
        << BatchOut();
    const std::string logText = FileText(log);
    EXPECT_NE(logText.find("CAPTURE\t" + gone), std::string::npos) << logText;
    EXPECT_NE(logText.find("CAPTURE\tthe device is back after "), std::string::npos) << logText;
    EXPECT_GE(TextLines(csv).size(), 4u) << "rows from before and after the gap";
}

// The RMS of a CSV column's numbers, its empty fields left out, and how many there were.
std::pair<double, size_t> ColumnRms(const std::string& path, const std::string& column) {
    const std::vector<std::string> lines = TextLines(path);
    double sum = 0;
    size_t count = 0, at = std::string::npos;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::istringstream row(lines[i] + ",");
        std::string field;
        for (size_t f = 0; std::getline(row, field, ','); ++f) {
            if (i == 0 && field == column) at = f;
            if (i > 0 && f == at && !field.empty()) sum += std::stod(field) * std::stod(field);
            count += i > 0 && f == at && !field.empty() ? 1 : 0;
        }
    }
    return {count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0, count};
}

// The whole live run: quorvelle-batch --capture chooses the source by name, takes it at its own
// 48 kHz, and times realistic pulses (sox: 0.6 of full scale, 100 ms, AC-coupled, the card's
// anti-alias filter, 16 bits) as well as the batch tool times the same recording.
TEST_F(DesktopSource, LiveCaptureByNameTimesThePulsesAsWellAsTheRecording) {
    const ToolRun help = RunProgram({QUORVELLE_BATCH_BIN, "--help"}, {}, folder_.Path("help.out"),
                                    folder_.Path("help.err"), 30s);
    if (help.Out.find("--rate") == std::string::npos) {
        GTEST_SKIP() << "quorvelle-batch --capture takes 8000 frames per second only (no --rate): "
                        "a live run at the card's rate needs the capture engine at that rate";
    }
    SoxPpsOptions o;
    o.Seconds = 25;
    const std::string recording = folder_.Path("pps48.wav"), rate = std::to_string(kCardRate);
    std::vector<std::string> sox = {"sox", "-D", "-R", "-r", "192000",
                                    "-n",  "-b", "16", "-e", "signed-integer",
                                    "-c",  "2",  "-r", rate, recording};
    for (const std::string& w : SoxPpsSynth(o)) sox.push_back(w);
    sox.insert(sox.end(),
               {"remix", "0", "1v0.6", "highpass", "-1", "20", "rate", "-v", rate, "dither"});
    const ToolRun made =
        RunProgram(sox, {}, folder_.Path("sox.out"), folder_.Path("sox.err"), 120s);
    ASSERT_EQ(made.Status, 0) << made.Err;

    const std::string liveCsv = folder_.Path("live.csv"), log = folder_.Path("live.tsv");
    ASSERT_NO_FATAL_FAILURE(StartBatch(
        {"--capture", "--device", kCardSource, "--seconds", "20", "--csv", liveCsv, "--log", log}));
    ASSERT_TRUE(WaitWhileRunning(
        batch_, [&] { return !TextLines(log).empty(); }, 30s))
        << BatchErr();
    std::string error;
    ASSERT_TRUE(server_.Play(player_, recording, error, kCardSink)) << error;
    ASSERT_EQ(batch_.Wait(60s), 0) << BatchErr();
    EXPECT_NE(BatchOut().find(" 0 dropped, 0 input overflows"), std::string::npos) << BatchOut();
    const std::string fileCsv = folder_.Path("file.csv");
    const ToolRun file = RunProgram({QUORVELLE_BATCH_BIN, "--quiet", "--csv", fileCsv, recording},
                                    {}, folder_.Path("b.out"), folder_.Path("b.err"), 120s);
    ASSERT_EQ(file.Status, 0) << file.Err;

    // Every row at the card's rate; the residuals about the fit within twice the recording's.
    const auto [rateRms, rows] = ColumnRms(liveCsv, "device_rate_hz");
    EXPECT_GE(rows, 15u);
    EXPECT_EQ(rateRms, kCardRate);
    const auto [live, liveCount] = ColumnRms(liveCsv, "pps_residual_us");
    const auto [recorded, recordedCount] = ColumnRms(fileCsv, "pps_residual_us");
    ASSERT_GE(liveCount, 8u) << FileText(liveCsv);
    ASSERT_GE(recordedCount, 8u) << FileText(fileCsv);
    EXPECT_LE(live, 2 * recorded) << live << " us live, " << recorded << " us recorded";
}

}  // namespace

}  // namespace qv
