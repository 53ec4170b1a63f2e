// One analog signal taken by a card at 48000 frames per second and the same brought to 8000 by
// sox's own resampler, both through quorvelle-batch: the chain reads the first through our rate
// converter, the second straight, and must find the same card, the same I/Q phase and the same
// signal state. sox makes the signal too, so no code of ours stands on both sides.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/csv_output.h"
#include "tests/csv_rows.h"
#include "tests/sox_pps.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

constexpr double kSeconds = 300;  // [card s] the length the comparison asks for
constexpr double kPpm = 25;       // [ppm] the card runs fast

// Runs sox with `args`; an empty text, or what went wrong.
std::string Sox(const TestFolder& folder, std::vector<std::string> args) {
    args.insert(args.begin(), {"sox", "-D", "-R"});
    const ToolRun run = RunProgram(args, {}, folder.Path("sox.out"), folder.Path("sox.err"),
                                   std::chrono::minutes(5));
    return run.Status == 0 ? "" : "sox failed: " + run.Err;
}

// The signal at 48 kHz in card time, where a GPS second lasts 1 + kPpm 1e-6 card seconds: on
// the left a carrier of 0.08 full scale at 1700.1 Hz and a click of 0.5 at 1700 Hz for 6 ms,
// 3.2 ms after each PPS edge; on the right a pulse of 0.6 for 100 ms, 0.3 s after the start and
// once a GPS second. The click is a gated sine: two gates each modulated by (1 +- sin) / 2 and
// subtracted. Written as 32-bit float, then as 16-bit WAVs at 48000 and, through sox's
// linear-phase resampler, at 8000 frames per second, both dithered.
std::string MakeRecordings(const TestFolder& f, const std::string& at48, const std::string& at8) {
    const double g = 1 / (1 + kPpm * 1e-6);  // [GPS s per card s]
    const std::string len = SoxNumber(kSeconds), gps = SoxNumber(g);
    const std::string burst = f.Path("burst.wav"), carrier = f.Path("carrier.wav"),
                      pps = f.Path("pps.wav"), rf = f.Path("rf.wav");
    const std::vector<std::string> floats = {"-r", "48000",          "-n", "-c", "1",
                                             "-e", "floating-point", "-b", "32"};
    auto made = [&floats](const std::string& path, const std::vector<std::string>& effects) {
        std::vector<std::string> args = floats;
        args.push_back(path);
        args.insert(args.end(), effects.begin(), effects.end());
        return args;
    };
    std::vector<std::string> gates = {"-c", "2"};
    gates.insert(gates.end(), floats.begin(), floats.end());
    gates.push_back(burst);
    const std::string click = SoxNumber(1700 * g);
    const std::vector<std::string> gateWords = {
        "synth", len,    "square", gps,   "50",    "69.68", "0.6",         "square",
        gps,     "50",   "69.68",  "0.6", "synth", "sine",  "amod",        click,
        "sine",  "amod", click,    "0",   "50",    "remix", "1v0.5,2v-0.5"};
    gates.insert(gates.end(), gateWords.begin(), gateWords.end());
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             gates,
             made(carrier, {"synth", len, "sine", SoxNumber(1700.1 * g), "vol", "0.08"}),
             made(pps, {"synth", len, "square", gps, "50", "70", "10", "vol", "0.6"}),
             {"-m", "-v", "1", burst, "-v", "1", carrier, rf},
             {"-M", rf, pps, "-b", "16", "-e", "signed-integer", at48, "dither"},
             {"-M", rf, pps, "-b", "16", "-e", "signed-integer", at8, "rate", "-v", "8000",
              "dither"}}) {
        const std::string error = Sox(f, args);
        if (!error.empty()) return error;
    }
    return "";
}

// The angle a - b in degrees, within -180 .. 180.
double DegreesApart(double a, double b) { return std::remainder(a - b, 360.0); }

struct BatchRun {
    std::string Summary;
    Rows Seconds, Periods;
};

// quorvelle-batch with `args` (an input) and CSV files named after `name`.
void RunWithCsv(const TestFolder& folder, const std::string& name, int rate,
                std::vector<std::string> args, BatchRun& run) {
    const std::string csv = folder.Path(name + ".csv"), iq = folder.Path(name + "-iq.csv");
    args.insert(args.begin(), {"--csv", csv, "--iq-csv", iq});
    const ToolRun r = RunBatchTool(args);
    ASSERT_EQ(r.Status, 0) << r.Err;
    run.Summary = r.Out;
    run.Seconds = ReadCsv(csv, SecondColumns(rate));
    run.Periods = ReadCsv(iq, kPeriodColumns);
}

// The card's run at 48000 against the one at 8000: the summary's input line, the same seconds on
// the same time line (the converter's delay is taken out; a second ends on the frame where the
// clock loop's re-sampling crosses it, which two filters may put one frame, 125 us, apart);
// after 5 minutes the classic frequency error over the last minute (each second's reading
// wanders by a few tenths of a ppm as the edge sweeps across a frame), the card's, the same
// state, and the I/Q phase of every period of the last minute.
void ExpectTheSameMeasurement(const BatchRun& card, const BatchRun& at8, double seconds) {
    EXPECT_NE(card.Summary.find("\n  input: 48000 frames per second, resampled to 8000 for the "
                                "classic chain\n"),
              std::string::npos)
        << card.Summary;
    EXPECT_EQ(at8.Summary.find("input:"), std::string::npos) << "an 8000 Hz input says nothing";
    char length[64];
    std::snprintf(length, sizeof length, "%.1f s of recording processed", seconds);
    EXPECT_NE(card.Summary.find(length), std::string::npos) << "the input's own seconds";
    ASSERT_EQ(card.Seconds.size(), at8.Seconds.size());
    ASSERT_EQ(card.Periods.size(), at8.Periods.size());
    ASSERT_GE(card.Periods.size(), 90u);
    for (size_t k = 0; k < card.Seconds.size(); ++k) {
        ASSERT_NEAR(Field(card.Seconds[k][1]), Field(at8.Seconds[k][1]), 0.00013)
            << "t_s of second row " << k;
        EXPECT_EQ(card.Seconds[k].back(), "48000") << "device_rate_hz";
    }
    double mean48 = 0, mean8 = 0;
    for (size_t k = card.Seconds.size() - 60; k < card.Seconds.size(); ++k) {
        mean48 += Field(card.Seconds[k][2]) / 60;
        mean8 += Field(at8.Seconds[k][2]) / 60;
    }
    EXPECT_NEAR(mean48, mean8, 0.02) << "freq_error_ppm";
    EXPECT_NEAR(mean48, kPpm, 0.1);
    EXPECT_EQ(card.Seconds.back()[9], "locked");
    EXPECT_EQ(card.Seconds.back()[9], at8.Seconds.back()[9]) << "status";
    for (size_t k = card.Periods.size() - 20; k < card.Periods.size(); ++k) {
        EXPECT_NEAR(DegreesApart(Field(card.Periods[k][4]), Field(at8.Periods[k][4])), 0, 0.5)
            << "phase_deg of period row " << k;
    }
}

TEST(CardRateScenario, A48kHzRecordingMeasuresAsTheSameSignalResampledTo8kHz) {
    TestFolder folder;
    const std::string at48 = folder.Path("card48.wav"), at8 = folder.Path("card8.wav");
    const std::string error = MakeRecordings(folder, at48, at8);
    ASSERT_EQ(error, "");
    BatchRun card, sox;
    ASSERT_NO_FATAL_FAILURE(RunWithCsv(folder, "48", 48000, {at48}, card));
    ASSERT_NO_FATAL_FAILURE(RunWithCsv(folder, "8", 8000, {at8}, sox));
    ExpectTheSameMeasurement(card, sox, kSeconds);
}

// The simulator's card model: a 100 ms AC-coupled pulse taken by a card at its own 48 kHz and
// by one at 8 kHz, each through its own anti-alias filter.
TEST(CardRateScenario, TheSimulatorsCardAt48kHzMeasuresAsItsCardAt8kHz) {
    TestFolder folder;
    const std::vector<std::string> signal = {
        "--simulate", SoxNumber(kSeconds), "--ppm", SoxNumber(kPpm), "--pps-width-ms",
        "100",        "--pps-ac-hz",       "3"};
    std::vector<std::string> at48 = signal, at8 = signal;
    at48.insert(at48.end(), {"--rate", "48000"});
    at8.insert(at8.end(), {"--card-rate", "8000"});
    BatchRun card, native;
    ASSERT_NO_FATAL_FAILURE(RunWithCsv(folder, "48", 48000, at48, card));
    ASSERT_NO_FATAL_FAILURE(RunWithCsv(folder, "8", 8000, at8, native));
    ExpectTheSameMeasurement(card, native, kSeconds);
}

}  // namespace

}  // namespace qv
