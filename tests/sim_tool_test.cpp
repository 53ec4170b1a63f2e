// Tests of the simulator's command-line options and of the quorvelle-sim tool.
#include "tools/sim_tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "capture/signal_simulator.h"
#include "capture/simulator_options.h"
#include "dsp/rate_converter.h"
#include "files/wav_file.h"
#include "tests/simulated_frames.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

using Words = std::vector<std::string>;

struct ParseOutcome {
    int Result = 0;
    int Next = 1;  // i after the call
    SimulatorSettings Settings;
    std::string Error;
};

ParseOutcome Parse(Words words) {
    Argv args("quorvelle-sim", std::move(words));
    ParseOutcome o;
    o.Result = ParseSimulatorOption(args.Count(), args.Data(), o.Next, o.Settings, o.Error);
    return o;
}

TEST(SimulatorOptions, GoodValuesAreStoredOtherArgumentsLeftAlone) {
    using S = SimulatorSettings;
    const std::tuple<Words, double S::*, double> cases[] = {
        {{"--seconds", "2592000"}, &S::Seconds, 2592000},
        {{"--ppm", "-37.25"}, &S::Ppm, -37.25},
        {{"--ppm", "+1e2"}, &S::Ppm, 100},
        {{"--ppm=12.5"}, &S::Ppm, 12.5},
        {{"--start-offset", ".999"}, &S::StartOffsetSeconds, 0.999},
        {{"--click-delay-ms", "4"}, &S::ClickDelayMs, 4},
        {{"--click-length-ms", "0"}, &S::ClickLengthMs, 0},
        {{"--lock-freq", "1000.5"}, &S::LockFreqHz, 1000.5},
        {{"--carrier-offset-hz", "-0.3"}, &S::CarrierOffsetHz, -0.3},
        {{"--carrier-level", "0"}, &S::CarrierLevel, 0},
        {{"--click-level", "1.5"}, &S::ClickLevel, 1.5},
        {{"--pps-level", "0.9"}, &S::PpsLevel, 0.9},
        {{"--pps-rise-ms", "0.05"}, &S::PpsRiseMs, 0.05},
        {{"--pps-decay-ms", "200"}, &S::PpsDecayMs, 200},
        {{"--noise-level", "0.2"}, &S::NoiseLevel, 0.2},
    };
    for (const auto& [words, field, expected] : cases) {
        const ParseOutcome o = Parse(words);
        ASSERT_EQ(o.Result, 1) << words[0] << ": " << o.Error;
        EXPECT_EQ(o.Next, 1 + static_cast<int>(words.size())) << words[0] << ": i moves past all";
        EXPECT_DOUBLE_EQ(o.Settings.*field, expected) << words[0];  // decimal text: within 4 ulp
    }
    const ParseOutcome seed = Parse({"--seed", "18446744073709551615"});
    ASSERT_EQ(seed.Result, 1) << seed.Error;
    EXPECT_EQ(seed.Settings.Seed, 18446744073709551615ull);
    EXPECT_EQ(seed.Settings.Ppm, SimulatorSettings{}.Ppm) << "other settings untouched";

    for (const std::string word : {"out.wav", "--lock-frequency", "--help", "-", "--seedx"}) {
        const ParseOutcome o = Parse({word, "5"});
        EXPECT_EQ(o.Result, 0) << word;
        EXPECT_EQ(o.Next, 1) << word;
    }
}

class SimToolTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return folder_.Path(name); }

    // Each of `bad` (the words, then the line that refuses them) is bad usage, said in that
    // line with exit status 2, and nothing is written to `out`.
    static void ExpectRefused(const std::vector<std::pair<Words, std::string>>& bad,
                              const std::string& out) {
        for (const auto& [words, line] : bad) {
            Words withFile = words;
            withFile.push_back(out);
            const ToolRun run = RunSimulatorTool(withFile);
            EXPECT_EQ(run.Status, 2) << line;
            EXPECT_EQ(run.Err, "quorvelle-sim: " + line + " (see --help)\n");
        }
        EXPECT_FALSE(std::filesystem::exists(out)) << "nothing written on bad usage";
    }

    TestFolder folder_;
};

TEST_F(SimToolTest, ExitStatusTellsHelpBadUsageAndOutputErrorsApart) {
    const ToolRun help = RunSimulatorTool({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind("Usage: quorvelle-sim", 0), 0u);
    EXPECT_NE(help.Out.find("--noise-level L"), std::string::npos) << "simulator options listed";

    EXPECT_NE(help.Out.find("--version"), std::string::npos);
    const ToolRun version = RunSimulatorTool({"--seed", "3", "--version", "--frobnicate"});
    EXPECT_EQ(version.Status, 0) << "--version answers before later options are read";
    EXPECT_TRUE(std::regex_match(version.Out, std::regex("quorvelle-sim \\d+\\.\\d+\\.\\d+\n")))
        << version.Out;

    // Bad usage: exit status 2 and one line naming the problem; the usage text only on --help.
    const std::string a = Path("a.wav"), b = Path("b.wav");
    std::vector<std::pair<Words, std::string>> cases = {
        {{}, "no output file: give OUT.wav"},
        {{"--frobnicate", a}, "unknown option --frobnicate"},
        {{a, b}, "more than one output file (" + a + ", " + b + ")"},
        {{"--noise-level=", a}, "--noise-level: \"\" is not a number"},
        {{a, "--seconds"}, "--seconds needs a value"},
        {{"--seconds", "0"}, "--seconds: 0 is out of range (more than 0 and at most 2592000)"},
        {{"--seconds", "2592000.5"},
         "--seconds: 2592000.5 is out of range (more than 0 and at most 2592000)"},
        {{"--ppm", "-10001"}, "--ppm: -10001 is out of range (at least -10000 and at most 10000)"},
        {{"--start-offset", "1"}, "--start-offset: 1 is out of range (at least 0 and below 1)"},
        {{"--lock-freq", "4000"}, "--lock-freq: 4000 is out of range (more than 0 and below 4000)"},
        {{"--pps-rise-ms", "0"}, "--pps-rise-ms: 0 is out of range (more than 0 and at most 100)"},
    };
    for (const std::string bad : {"fast", "", "1x", "nan", "inf", "-inf", "0x10", " 5", "5 ", "1e",
                                  "+-5", "+", ".", "1e999", "1,5"}) {
        cases.push_back({{"--ppm", bad, a}, "--ppm: \"" + bad + "\" is not a number"});
    }
    for (const std::string bad : {"-1", "1.5", "", "18446744073709551616", "+3"}) {
        cases.push_back(
            {{"--seed", bad}, "--seed: \"" + bad + "\" is not a whole number from 0 to 2^64 - 1"});
    }
    for (const std::string level :
         {"--carrier-level", "--click-level", "--pps-level", "--noise-level"}) {
        cases.push_back(
            {{level, "-0.01"}, level + ": -0.01 is out of range (at least 0 and at most 100)"});
    }
    for (const auto& [words, firstLine] : cases) {
        const ToolRun run = RunSimulatorTool(words);
        EXPECT_EQ(run.Status, 2) << firstLine;
        EXPECT_EQ(run.Err, "quorvelle-sim: " + firstLine + " (see --help)\n");
        EXPECT_TRUE(run.Out.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(a)) << "nothing written on bad usage";

    const ToolRun unwritable = RunSimulatorTool({"--seconds", "1", "/nonexistent/dir/x.wav"});
    EXPECT_EQ(unwritable.Status, 1);
    EXPECT_EQ(unwritable.Err,
              "quorvelle-sim: /nonexistent/dir/x.wav: cannot create: No such file or directory\n");
}

TEST_F(SimToolTest, WritesTheSimulatorsStreamToAWav) {
    const std::string path = Path("sim.wav");
    const ToolRun run =
        RunSimulatorTool({"--seconds", "2.5", "--ppm=-80", "--seed", "7", "--", path});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(run.Err.empty());

    const SimulatorSettings settings{.Seconds = 2.5, .Ppm = -80, .Seed = 7};
    const long long total = 19998;  // 2.5 s at 7999.36 frames per second
    ASSERT_EQ(SimulatorTotalFrames(settings), total);
    WavReader reader;
    std::string error;
    ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
    std::vector<Frame> fromFile(total + 1);
    ASSERT_EQ(ReadWavFrames(reader, fromFile.data(), total + 1, error), total);

    const std::vector<Frame> expected = Simulate(settings, total);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), fromFile.begin(),
                           [](Frame a, Frame b) { return a.Rf == b.Rf && a.Pps == b.Pps; }));
}

// The options of what a real card and GPS receiver add: each checked alone, then the card's
// clock error with its drift and wander together, over the recording's length.
TEST_F(SimToolTest, JitterDriftAndWanderOptionsAreCheckedAloneAndTogether) {
    const ParseOutcome jitter = Parse({"--pps-jitter", "2e-6"}),
                       wander = Parse({"--wander-ppm=-3"});
    ASSERT_EQ(jitter.Result + wander.Result, 2) << jitter.Error << wander.Error;
    EXPECT_EQ(jitter.Settings.PpsJitterSeconds, 2e-6);
    EXPECT_EQ(wander.Settings.WanderPpm, -3);

    const std::string out = Path("card.wav");
    const std::string together =
        "--ppm, --drift-ppm-per-hour and --wander-ppm let the card's "
        "clock error reach ";
    const std::vector<std::pair<Words, std::string>> bad = {
        {{"--pps-jitter", "-1e-6"},
         "--pps-jitter: -1e-6 is out of range (at least 0 and at most 0.01)"},
        {{"--wander-period", "0"},
         "--wander-period: 0 is out of range (at least 1 and at most 2592000)"},
        {{"--seconds", "7200", "--ppm", "9000", "--drift-ppm-per-hour", "-400", "--wander-ppm",
          "300"},
         together + "10100 ppm within 2 hours (at most 10000)"},
    };
    ExpectRefused(bad, out);
    std::string error;
    EXPECT_TRUE(CheckSimulatorCard(
        {.Seconds = 7200, .Ppm = 9000, .DriftPpmPerHour = -400, .WanderPpm = 200}, false, error))
        << "exactly at the limit: " << error;
    // A simulator that runs until End (the window's) is checked over 30 days.
    EXPECT_TRUE(
        CheckSimulatorCard({.Ppm = -60, .DriftPpmPerHour = 13.75, .WanderPpm = 40}, true, error));
    EXPECT_FALSE(CheckSimulatorCard({.DriftPpmPerHour = 14}, true, error));
    EXPECT_EQ(error, together + "10080 ppm within 720 hours (at most 10000)");

    // The batch tool checks over its --simulate length, which comes first.
    const ToolRun batch =
        RunBatchTool({"--simulate", "3600", "--ppm", "-9999", "--drift-ppm-per-hour", "2"});
    EXPECT_EQ(batch.Status, 2);
    EXPECT_EQ(batch.Err, "quorvelle-batch: " + together +
                             "10001 ppm within 1 hours (at most 10000) (see --help)\n");
}

// The options of the pulse's shape and the card that records it: stored as given, refused out
// of their ranges or lists, the width checked against the jitter, and the tool's file the
// simulator's frames.
TEST_F(SimToolTest, CardModelOptionsAreStoredCheckedAndWritten) {
    const Words given = {"--pps-width-ms", "0.001",   "--pps-ac-hz=0.5", "--card-rate", "44100",
                         "--card-filter",  "minimum", "--dither",        "--pps-noise", "0.001",
                         "--pps-hum",      "0.02",    "--hum-hz",        "60"};
    Argv args("quorvelle-sim", given);
    SimulatorSettings settings;
    std::string error;
    for (int i = 1; i < args.Count();) {
        ASSERT_EQ(ParseSimulatorOption(args.Count(), args.Data(), i, settings, error), 1) << error;
    }
    EXPECT_EQ(settings.PpsWidthMs, 0.001);
    EXPECT_EQ(settings.PpsAcHz, 0.5);
    EXPECT_EQ(settings.CardRate, 44100);
    EXPECT_EQ(settings.CardFilter, CardFilterPhase::Minimum);
    EXPECT_TRUE(settings.Dither);
    EXPECT_EQ(settings.PpsNoiseLevel, 0.001);
    EXPECT_EQ(settings.PpsHumLevel, 0.02);
    EXPECT_EQ(settings.HumHz, 60);
    EXPECT_EQ(Parse({"--pps-width-ms", "0"}).Result, 1) << "0 keeps the rise-and-decay pulse";

    const std::string out = Path("card.wav");
    const std::vector<std::pair<Words, std::string>> bad = {
        {{"--pps-width-ms", "0.0005"},
         "--pps-width-ms: 0.0005 is out of range (0, or at least 0.001 and at most 900)"},
        {{"--pps-ac-hz", "51"},
         "--pps-ac-hz: 51 is out of range (0, or at least 0.5 and at most 50)"},
        {{"--card-rate", "44000"},
         "--card-rate: \"44000\" is not one of 0, 8000, 11025, 16000, 22050, 32000, 44100, "
         "48000, 88200, 96000, 176400 or 192000"},
        {{"--hum-hz", "50.5"}, "--hum-hz: \"50.5\" is not one of 50 or 60"},
        {{"--card-filter", "steep"}, "--card-filter: \"steep\" is neither linear nor minimum"},
        {{"--pps-width-ms", "900", "--pps-jitter", "0.003"},
         "--pps-width-ms 900 with --pps-jitter 0.003 leaves too little between one pulse's end "
         "and the next one's start (the width plus 18 x the jitter at most 950 ms)"},
    };
    ExpectRefused(bad, out);

    Words run = given;
    for (const char* w : {"--seconds", "1.5", "--pps-width-ms", "10"}) run.push_back(w);
    run.push_back(out);
    ASSERT_EQ(RunSimulatorTool(run).Status, 0);
    settings.Seconds = 1.5, settings.PpsWidthMs = 10;
    EXPECT_TRUE(SameFrames(ReadWavFile(out), Simulate(settings)));
}

// A little-endian number of `size` bytes at `at` in `bytes`.
unsigned LittleEndian(const std::string& bytes, size_t at, int size) {
    unsigned v = 0;
    for (int b = size - 1; b >= 0; --b) v = v << 8 | static_cast<unsigned char>(bytes[at + b]);
    return v;
}

// --rate N: the card's own frames at N, checked against --card-rate, and written in a WAV whose
// header says N (its chunks walked here from the RIFF layout itself) and whose frames are the
// simulator's at that rate.
TEST_F(SimToolTest, RateOptionWritesTheCardsOwnFramesAtThatRate) {
    const std::string out = Path("rate.wav");
    const std::vector<std::pair<Words, std::string>> bad = {
        {{"--rate", "44000"}, "--rate: \"44000\" is not one of " + InputRatesText()},
        {{"--rate", "0"}, "--rate: \"0\" is not one of " + InputRatesText()},
        {{"--rate", "48000", "--card-rate", "44100"},
         "--card-rate 44100 is a card resampled to 8000 frames per second, --rate 48000 a card's "
         "own frames: give --card-rate 48000 or leave it out"},
    };
    ExpectRefused(bad, out);

    for (const Words& options : {Words{"--rate", "44100", "--ppm", "-20"},
                                 Words{"--rate=192000", "--card-rate", "192000", "--pps-width-ms",
                                       "100", "--pps-ac-hz", "0.5"}}) {
        Words run = options;
        for (const char* w : {"--seconds", "0.75", "--seed", "3"}) run.push_back(w);
        run.push_back(out);
        const ToolRun tool = RunSimulatorTool(run);
        ASSERT_EQ(tool.Status, 0) << tool.Err;
        Argv args("quorvelle-sim", run);
        SimulatorSettings settings;
        std::string error;
        for (int i = 1; i + 1 < args.Count();) {
            ASSERT_EQ(ParseSimulatorOption(args.Count(), args.Data(), i, settings, error), 1);
        }
        const unsigned rate = static_cast<unsigned>(settings.DeviceRate);
        const long long total = SimulatorTotalFrames(settings);
        EXPECT_EQ(tool.Out, out + ": " + std::to_string(total) + " frames at " +
                                std::to_string(rate) + " per second (0.75 GPS s at " +
                                (rate == 44100 ? "-20" : "0") + " ppm)\n");

        const std::string bytes = FileText(out);
        ASSERT_EQ(bytes.substr(0, 4) + bytes.substr(8, 4), "RIFFWAVE");
        std::string data;
        for (size_t at = 12; at + 8 <= bytes.size();) {
            const std::string id = bytes.substr(at, 4);
            const unsigned size = LittleEndian(bytes, at + 4, 4);
            if (id == "fmt ") {
                const unsigned format = LittleEndian(bytes, at + 8, 2);
                EXPECT_TRUE(format == 1 || format == 0xFFFE) << "PCM, plain or extensible";
                EXPECT_EQ(LittleEndian(bytes, at + 10, 2), 2u) << "channels";
                EXPECT_EQ(LittleEndian(bytes, at + 12, 4), rate);
                EXPECT_EQ(LittleEndian(bytes, at + 16, 4), 4 * rate) << "bytes per second";
                EXPECT_EQ(LittleEndian(bytes, at + 20, 2), 4u) << "bytes per frame";
                EXPECT_EQ(LittleEndian(bytes, at + 22, 2), 16u) << "bits";
            }
            if (id == "data") data = bytes.substr(at + 8, size);
            at += 8 + size + (size & 1);
        }
        const std::vector<Frame> frames = Simulate(settings);  // little-endian RF, PPS pairs
        EXPECT_TRUE(data == std::string(reinterpret_cast<const char*>(frames.data()),
                                        static_cast<size_t>(4 * total)));
    }
}

}  // namespace

}  // namespace qv
