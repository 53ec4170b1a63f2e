// Tests of the simulator's command-line options and of the quorvelle-sim tool.
#include "tools/sim_tool.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "capture/signal_simulator.h"
#include "files/wav_file.h"
#include "tools/sim_options.h"

namespace {

// argv as a program receives it, argv[0] being the program's name.
class Args {
public:
    explicit Args(std::vector<std::string> words) : words_(std::move(words)) {
        words_.insert(words_.begin(), "quorvelle-sim");
        for (std::string& w : words_) pointers_.push_back(w.data());
        pointers_.push_back(nullptr);
    }
    int Count() const { return static_cast<int>(words_.size()); }
    char** Vector() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

struct ParseOutcome {
    int result = 0;
    int next = 1;  // i after the call
    SimulatorSettings settings;
    std::string error;
};

ParseOutcome Parse(std::vector<std::string> words) {
    Args args(std::move(words));
    ParseOutcome o;
    o.result = ParseSimulatorOption(args.Count(), args.Vector(), o.next, o.settings, o.error);
    return o;
}

void ExpectValue(const std::vector<std::string>& words, double SimulatorSettings::*field,
                 double expected) {
    const ParseOutcome o = Parse(words);
    ASSERT_EQ(o.result, 1) << o.error;
    EXPECT_EQ(o.next, 1 + static_cast<int>(words.size())) << words[0] << ": i moves past all";
    EXPECT_DOUBLE_EQ(o.settings.*field, expected) << words[0];  // decimal text: within 4 ulp
}

void ExpectRejected(const std::vector<std::string>& words, const std::string& expected) {
    const ParseOutcome o = Parse(words);
    EXPECT_EQ(o.result, -1) << words[0];
    EXPECT_EQ(o.error, expected);
}

TEST(SimulatorOptions, GoodValuesAreStored) {
    ExpectValue({"--seconds", "2592000"}, &SimulatorSettings::seconds, 2592000);
    ExpectValue({"--ppm", "-37.25"}, &SimulatorSettings::ppm, -37.25);
    ExpectValue({"--ppm", "+1e2"}, &SimulatorSettings::ppm, 100);
    ExpectValue({"--ppm=12.5"}, &SimulatorSettings::ppm, 12.5);
    ExpectValue({"--start-offset", ".999"}, &SimulatorSettings::startOffsetSeconds, 0.999);
    ExpectValue({"--click-delay-ms", "4"}, &SimulatorSettings::clickDelayMs, 4);
    ExpectValue({"--click-length-ms", "0"}, &SimulatorSettings::clickLengthMs, 0);
    ExpectValue({"--lock-freq", "1000.5"}, &SimulatorSettings::lockFreqHz, 1000.5);
    ExpectValue({"--carrier-offset-hz", "-0.3"}, &SimulatorSettings::carrierOffsetHz, -0.3);
    ExpectValue({"--carrier-level", "0"}, &SimulatorSettings::carrierLevel, 0);
    ExpectValue({"--click-level", "1.5"}, &SimulatorSettings::clickLevel, 1.5);
    ExpectValue({"--pps-level", "0.9"}, &SimulatorSettings::ppsLevel, 0.9);
    ExpectValue({"--pps-rise-ms", "0.05"}, &SimulatorSettings::ppsRiseMs, 0.05);
    ExpectValue({"--pps-decay-ms", "200"}, &SimulatorSettings::ppsDecayMs, 200);
    ExpectValue({"--noise-level", "0.2"}, &SimulatorSettings::noiseLevel, 0.2);
    const ParseOutcome seed = Parse({"--seed", "18446744073709551615"});
    ASSERT_EQ(seed.result, 1) << seed.error;
    EXPECT_EQ(seed.settings.seed, 18446744073709551615ull);
    EXPECT_EQ(seed.settings.ppm, SimulatorSettings{}.ppm) << "other settings untouched";
}

TEST(SimulatorOptions, OtherArgumentsAreLeftAlone) {
    for (const std::string word : {"out.wav", "--lock-frequency", "--help", "-", "--seedx"}) {
        const ParseOutcome o = Parse({word, "5"});
        EXPECT_EQ(o.result, 0) << word;
        EXPECT_EQ(o.next, 1) << word;
    }
}

TEST(SimulatorOptions, MalformedValuesAreRejected) {
    for (const std::string bad : {"abc", "", "1x", "nan", "inf", "-inf", "0x10", " 5", "5 ", "1e",
                                  "+-5", "+", ".", "1e999", "1,5"}) {
        ExpectRejected({"--ppm", bad}, "--ppm: \"" + bad + "\" is not a number");
    }
    ExpectRejected({"--noise-level="}, "--noise-level: \"\" is not a number");
    ExpectRejected({"--seconds"}, "--seconds needs a value");
    for (const std::string bad : {"-1", "1.5", "", "18446744073709551616", "+3"}) {
        ExpectRejected({"--seed", bad},
                       "--seed: \"" + bad + "\" is not a whole number from 0 to 2^64 - 1");
    }
}

TEST(SimulatorOptions, ValuesOutOfRangeAreRejected) {
    ExpectRejected({"--seconds", "0"},
                   "--seconds: 0 is out of range (more than 0 and at most 2592000)");
    ExpectRejected({"--seconds", "2592000.5"},
                   "--seconds: 2592000.5 is out of range (more than 0 and at most 2592000)");
    ExpectRejected({"--ppm", "-10001"},
                   "--ppm: -10001 is out of range (at least -10000 and at most 10000)");
    ExpectRejected({"--start-offset", "1"},
                   "--start-offset: 1 is out of range (at least 0 and below 1)");
    ExpectRejected({"--lock-freq", "4000"},
                   "--lock-freq: 4000 is out of range (more than 0 and below 4000)");
    ExpectRejected({"--pps-rise-ms", "0"},
                   "--pps-rise-ms: 0 is out of range (more than 0 and at most 100)");
    for (const std::string level :
         {"--carrier-level", "--click-level", "--pps-level", "--noise-level"}) {
        ExpectRejected({level, "-0.01"},
                       level + ": -0.01 is out of range (at least 0 and at most 100)");
    }
}

struct ToolRun {
    int status = -1;
    std::string out, err;
};

ToolRun RunTool(std::vector<std::string> words) {
    Args args(std::move(words));
    std::ostringstream out, err;
    const int status = RunSimTool(args.Count(), args.Vector(), out, err);
    return {status, out.str(), err.str()};
}

class SimToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("quorvelle_sim_tool_test_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    std::filesystem::path dir_;
};

void ExpectUsageError(const std::vector<std::string>& words, const std::string& firstLine) {
    const ToolRun run = RunTool(words);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "quorvelle-sim: " + firstLine);
    EXPECT_NE(run.err.find("usage: quorvelle-sim"), std::string::npos);
    EXPECT_TRUE(run.out.empty());
}

TEST_F(SimToolTest, ExitStatusTellsHelpBadUsageAndOutputErrorsApart) {
    const ToolRun help = RunTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: quorvelle-sim", 0), 0u);
    EXPECT_NE(help.out.find("--noise-level L"), std::string::npos) << "simulator options listed";

    ExpectUsageError({}, "no output file: give OUT.wav");
    ExpectUsageError({"--frobnicate", Path("a.wav")}, "unknown option --frobnicate");
    ExpectUsageError({"--ppm", "fast", Path("a.wav")}, "--ppm: \"fast\" is not a number");
    ExpectUsageError({Path("a.wav"), Path("b.wav")},
                     "more than one output file (" + Path("a.wav") + ", " + Path("b.wav") + ")");
    EXPECT_FALSE(std::filesystem::exists(Path("a.wav"))) << "nothing written on bad usage";

    const ToolRun unwritable = RunTool({"--seconds", "1", "/nonexistent/dir/x.wav"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err,
              "quorvelle-sim: /nonexistent/dir/x.wav: cannot create: No such file or directory\n");
}

TEST_F(SimToolTest, WritesTheSimulatorsStreamToAWav) {
    const std::string path = Path("sim.wav");
    const ToolRun run = RunTool({"--seconds", "2.5", "--ppm=-80", "--seed", "7", "--", path});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty());

    SimulatorSettings settings;
    settings.seconds = 2.5;
    settings.ppm = -80;
    settings.seed = 7;
    const long long total = 19998;  // 2.5 s at 7999.36 frames per second
    ASSERT_EQ(SimulatorTotalFrames(settings), total);
    WavReader reader;
    std::string error;
    ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
    std::vector<Frame> fromFile(total + 1);
    ASSERT_EQ(ReadWavFrames(reader, fromFile.data(), total + 1, error), total);

    SignalSimulator sim;
    StartSimulator(sim, settings);
    std::vector<Frame> expected(total);
    NextSimulatorFrames(sim, expected.data(), expected.size());
    for (long long k = 0; k < total; ++k) {
        ASSERT_EQ(fromFile[k].Rf, expected[k].Rf) << "frame " << k;
        ASSERT_EQ(fromFile[k].Pps, expected[k].Pps) << "frame " << k;
    }
}

}  // namespace
