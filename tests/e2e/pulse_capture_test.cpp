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
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "capture/audio_thread.h"
#include "capture/device_list.h"
#include "capture/pulse_sources.h"
#include "capture/sound_system.h"
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

// ---------------------------------------------------------------------------------------------
// The server's own sources: a card at 48 kHz stands in as a null sink's monitor

constexpr int kCardRate = 48000;
constexpr const char* kCardSink = "quorvelle48";
constexpr const char* kCardSource = "quorvelle48.monitor";

class DesktopSource : public PulseCapture {
protected:
    void SetUp() override {
        PulseCapture::SetUp();
        if (HasFatalFailure()) return;
        std::string error;
        ASSERT_TRUE(server_.AddSink(kCardSink, kCardRate, error)) << error;
        // This process's own clients (the listing, the captures) find the private server.
        for (const std::string& setting : server_.ClientEnvironment()) {
            const size_t equals = setting.find('=');
            const std::string name = setting.substr(0, equals);
            const char* old = std::getenv(name.c_str());
            saved_.emplace_back(name,
                                old != nullptr ? std::optional<std::string>(old) : std::nullopt);
            setenv(name.c_str(), setting.c_str() + equals + 1, 1);
        }
    }

    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

    // Plays `frames` at the card's rate into its sink.
    void PlayAtCardRate(const std::vector<Frame>& frames) {
        const std::string path = folder_.Path("played48.wav");
        WavWriter writer;
        std::string error;
        ASSERT_TRUE(
            OpenWavWriter(writer, path, kCardRate, error) &&
            WriteWavFrames(writer, frames.data(), static_cast<long long>(frames.size()), error) &&
            CloseWavWriter(writer, error))
            << error;
        ASSERT_TRUE(server_.Play(player_, path, error, kCardSink)) << error;
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Reads `seconds` of the source's frames in blocks, counting the overflows it reports.
void ReadSeconds(BlockSource& input, double seconds, std::vector<Frame>& frames, int& overflows) {
    const int blockFrames = BlockFramesAt(input.FramesPerSecond());
    std::vector<Frame> block(static_cast<size_t>(blockFrames));
    const std::atomic<bool> stop{false};
    while (frames.size() < seconds * input.FramesPerSecond()) {
        bool overflowed = false;
        std::string error;
        ASSERT_EQ(input.ReadBlock(block.data(), stop, overflowed, error), blockFrames) << error;
        overflows += overflowed ? 1 : 0;
        frames.insert(frames.end(), block.begin(), block.end());
    }
}

TEST_F(DesktopSource, ListedByNameAtItsRateAndReadAtThatRateWithoutDrops) {
    // The server lists both monitors, each with the rate its sink runs at.
    const std::vector<PulseSource> sources = ListPulseSources();
    std::ostringstream names;
    const PulseSource *card = nullptr, *classic = nullptr;
    for (const PulseSource& s : sources) {
        names << s.Name << " ";
        if (s.Name == kCardSource) card = &s;
        if (s.Name == std::string(PrivatePulseServer::kSinkName) + ".monitor") classic = &s;
    }
    ASSERT_TRUE(card != nullptr && classic != nullptr) << names.str();
    EXPECT_EQ(card->Rate, kCardRate);
    EXPECT_EQ(card->Channels, 2);
    EXPECT_EQ(classic->Rate, kFramesPerSecond);

    // In the device list after the sound system's own devices, found by its name, its rate
    // known; the entry opens that source.
    AudioThread thread;
    SoundSystem system(thread);
    DeviceList list;
    ListInputDevices(list, system, ExtraSources{}, nullptr);
    int index = -1;
    std::string error;
    ASSERT_TRUE(FindDevice(list, kCardSource, index, error)) << error;
    const DeviceEntry entry = list.Entries[index];
    EXPECT_EQ(entry.Name, PulseEntryName(*card));
    EXPECT_EQ(entry.Kind, EntryKind::SoundCard);
    std::vector<DeviceCapabilities> devices;
    ASSERT_TRUE(system.EnumerateDevices(devices, error)) << error;
    ASSERT_LT(entry.DeviceNumber, static_cast<int>(devices.size()));
    EXPECT_EQ(devices[entry.DeviceNumber].DefaultRate, kCardRate);
    EXPECT_EQ(devices[entry.DeviceNumber].InputChannels, 2);
    {
        std::unique_ptr<BlockSource> chosen = system.CreateInput(entry.DeviceNumber);
        ASSERT_TRUE(chosen->Open(error) && chosen->Start(error)) << error;
        std::vector<Frame> frames;
        int overflows = 0;
        ReadSeconds(*chosen, 0.1, frames, overflows);
        chosen->Close();
    }

    // Captured at its own rate while a signal plays: white noise on the left, where a frame
    // dropped, repeated or converted shows, and a pulse each second on the right; a quarter
    // second of silence around it, as the server may lose a few frames when a playback starts.
    std::unique_ptr<BlockSource> input = CreatePulseInput(kCardSource, 0);
    ASSERT_TRUE(input->Open(error)) << error;
    EXPECT_EQ(input->FramesPerSecond(), kCardRate);
    ASSERT_TRUE(input->Start(error)) << error;
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
    ASSERT_NO_FATAL_FAILURE(PlayAtCardRate(played));
    std::vector<Frame> captured;
    int overflows = 0;
    ASSERT_NO_FATAL_FAILURE(ReadSeconds(*input, 6, captured, overflows));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    input->Close();
    EXPECT_EQ(player_.Wait(10s), 0) << FileText(folder_.Path("paplay.err"));

    // Six seconds of frames took about six seconds: the source delivers 48000 a second.
    EXPECT_EQ(overflows, 0);
    EXPECT_GT(seconds, 5.0);
    EXPECT_LT(seconds, 7.5);
    // Every frame of the signal, unchanged and in a row, then silence.
    const auto isSilent = [](Frame f) { return f.Rf == 0 && f.Pps == 0; };
    const size_t first =
        std::find_if_not(captured.begin(), captured.end(), isSilent) - captured.begin();
    ASSERT_LE(first + signal.size(), captured.size()) << "the signal did not fit in the capture";
    const std::vector<Frame> middle(captured.begin() + static_cast<long>(first),
                                    captured.begin() + static_cast<long>(first + signal.size()));
    EXPECT_TRUE(SameFrames(middle, signal)) << "the signal starts at frame " << first;
    EXPECT_TRUE(std::all_of(captured.begin() + static_cast<long>(first + signal.size()),
                            captured.end(), isSilent));
}

TEST_F(DesktopSource, ARateAskedForIsTakenAndASourceThatGoesAwayEndsInOneLine) {
    std::string error;
    // A rate the measurement takes, other than the source's own: the server converts.
    std::unique_ptr<BlockSource> converted = CreatePulseInput(kCardSource, 44100);
    ASSERT_TRUE(converted->Open(error) && converted->Start(error)) << error;
    EXPECT_EQ(converted->FramesPerSecond(), 44100);
    std::vector<Frame> frames;
    int overflows = 0;
    ASSERT_NO_FATAL_FAILURE(ReadSeconds(*converted, 0.2, frames, overflows));
    converted->Close();
    // One it does not take is refused, with the ones it takes.
    std::unique_ptr<BlockSource> odd = CreatePulseInput(kCardSource, 12345);
    EXPECT_FALSE(odd->Open(error));
    odd->Close();
    EXPECT_EQ(error, std::string("source \"") + kCardSource +
                         "\": 12345 frames per second cannot be measured; the rates are " +
                         InputRatesText());

    // The card goes while frames flow: the frames already sent, then one line.
    std::unique_ptr<BlockSource> input = CreatePulseInput(kCardSource, 0);
    ASSERT_TRUE(input->Open(error) && input->Start(error)) << error;
    ASSERT_NO_FATAL_FAILURE(ReadSeconds(*input, 0.2, frames, overflows));
    ASSERT_TRUE(server_.RemoveSink(kCardSink, error)) << error;
    const auto removed = std::chrono::steady_clock::now();
    std::vector<Frame> block(BlockFramesAt(kCardRate));
    const std::atomic<bool> stop{false};
    int result = 0;
    for (int reads = 0; reads < 200; ++reads) {
        bool overflowed = false;
        error.clear();
        result = input->ReadBlock(block.data(), stop, overflowed, error);
        if (result != BlockFramesAt(kCardRate)) break;
    }
    input->Close();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(
        error.rfind(std::string("source \"") + kCardSource + "\": the source has gone or failed (",
                    0),
        0u)
        << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - removed, 3s);

    // Opened again, it is not there.
    std::unique_ptr<BlockSource> again = CreatePulseInput(kCardSource, 0);
    EXPECT_FALSE(again->Open(error));
    again->Close();
    EXPECT_EQ(error, std::string("source \"") + kCardSource +
                         "\": the sound server has no such source (--list-devices shows them)");
}

// The named column's numbers of a CSV file, its empty fields left out.
std::vector<double> CsvColumn(const std::string& path, const std::string& column) {
    std::vector<double> values;
    const std::vector<std::string> lines = TextLines(path);
    if (lines.empty()) return values;
    const auto fields = [](const std::string& line) {
        std::vector<std::string> f;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, ',');) f.push_back(field);
        if (!line.empty() && line.back() == ',') f.push_back("");
        return f;
    };
    const std::vector<std::string> header = fields(lines[0]);
    const size_t at = std::find(header.begin(), header.end(), column) - header.begin();
    if (at == header.size()) return values;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> row = fields(lines[i]);
        if (at < row.size() && !row[at].empty()) values.push_back(std::stod(row[at]));
    }
    return values;
}

double Rms(const std::vector<double>& values) {
    double sum = 0;
    for (const double v : values) sum += v * v;
    return values.empty() ? 0 : std::sqrt(sum / static_cast<double>(values.size()));
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
    o.AcHz = 20;
    const std::string recording = folder_.Path("pps48.wav");
    std::vector<std::string> sox = {"sox",    "-D",
                                    "-R",     "-r",
                                    "192000", "-n",
                                    "-b",     "16",
                                    "-e",     "signed-integer",
                                    "-c",     "2",
                                    "-r",     std::to_string(kCardRate),
                                    recording};
    for (const std::string& w : SoxPpsSynth(o)) sox.push_back(w);
    for (const std::string w : {"remix", "0", "1v0.6", "highpass", "-1", "20", "rate", "-v"}) {
        sox.push_back(w);
    }
    sox.push_back(std::to_string(kCardRate));
    sox.push_back("dither");
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

    const std::vector<double> rates = CsvColumn(liveCsv, "device_rate_hz");
    ASSERT_FALSE(rates.empty()) << FileText(liveCsv);
    EXPECT_TRUE(std::all_of(rates.begin(), rates.end(), [](double r) { return r == kCardRate; }));
    const std::vector<double> live = CsvColumn(liveCsv, "pps_residual_us");
    const std::vector<double> recorded = CsvColumn(fileCsv, "pps_residual_us");
    ASSERT_GE(live.size(), 8u) << FileText(liveCsv);
    ASSERT_GE(recorded.size(), 8u) << FileText(fileCsv);
    EXPECT_LE(Rms(live), 2 * Rms(recorded))
        << Rms(live) << " us live, " << Rms(recorded) << " us from the recording";
}

}  // namespace

}  // namespace qv
