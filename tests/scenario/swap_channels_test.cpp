// quorvelle-batch --swap-channels: a recording with the PPS on the left and the radio on the
// right, measured with it, gives the same files and summary as the same signal wired the usual
// way measured without it, at 8000 frames per second and at a card's own rate. Live, --record
// keeps the frames as the card delivered them, so that the recording measured with
// --swap-channels repeats the live run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "capture/signal_simulator.h"
#include "tests/readouts.h"
#include "tests/simulated_frames.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

// What a run wrote: its standard output (with its files' common part of the name as "RUN", and
// without the line of its CPU time, which is the machine's) and its four files.
struct Results {
    std::string Out, Iq, Csv, IqCsv, Log;
};

Results Measure(const TestFolder& folder, const std::string& name,
                const std::vector<std::string>& input) {
    const std::string base = folder.Path(name);
    std::vector<std::string> args = {"--integration", "1",           "--iq-file", base + ".iq.txt",
                                     "--csv",         base + ".csv", "--iq-csv",  base + ".iq.csv",
                                     "--log",         base + ".tsv"};
    args.insert(args.end(), input.begin(), input.end());
    const ToolRun r = RunBatchTool(args);
    EXPECT_EQ(r.Status, 0) << r.Err;
    Results results{"", FileText(base + ".iq.txt"), FileText(base + ".csv"),
                    FileText(base + ".iq.csv"), FileText(base + ".tsv")};
    std::istringstream lines(r.Out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("of CPU time") != std::string::npos) continue;
        for (size_t at = line.find(base); at != std::string::npos; at = line.find(base, at)) {
            line.replace(at, base.size(), "RUN");
        }
        results.Out += line + "\n";
    }
    return results;
}

// The read-out log's lines without their times of day (wall clock live, stream time over a
// file), CAPTURE lines apart.
std::vector<std::string> Readouts(const std::string& log) {
    std::vector<std::string> lines;
    for (const LogLine& l : ReadLog(log)) {
        if (l.Name != "CAPTURE") lines.push_back(l.Name + "\t" + l.Text);
    }
    return lines;
}

}  // namespace

TEST(SwapChannels, SwappedRecordingMeasuredWithTheOptionGivesTheUsualResults) {
    TestFolder folder;
    for (const std::string rate : {"8000", "48000"}) {
        const std::string plain = folder.Path("plain" + rate + ".wav");
        const std::string swapped = folder.Path("swapped" + rate + ".wav");
        const std::vector<std::string> sim = {"--seconds", "40", "--ppm", "37", "--rate", rate};
        std::vector<std::string> args = sim;
        args.push_back(plain);
        ASSERT_EQ(RunSimulatorTool(args).Status, 0);
        args.back() = "--swap-channels";
        args.push_back(swapped);
        ASSERT_EQ(RunSimulatorTool(args).Status, 0);

        const Results usual = Measure(folder, "usual" + rate, {plain});
        const Results taken = Measure(folder, "taken" + rate, {"--swap-channels", swapped});
        // The fine timing's answer, exact to well below 0.01 ppm after 40 s.
        const size_t answer = usual.Out.find("summary: card frequency error ");
        ASSERT_NE(answer, std::string::npos) << rate << "\n" << usual.Out;
        EXPECT_NEAR(std::strtod(usual.Out.c_str() + answer + 30, nullptr), 37, 0.01) << usual.Out;
        EXPECT_EQ(taken.Out, usual.Out) << rate;
        EXPECT_EQ(taken.Iq, usual.Iq) << rate;
        EXPECT_EQ(taken.Csv, usual.Csv) << rate;
        EXPECT_EQ(taken.IqCsv, usual.IqCsv) << rate;
        EXPECT_EQ(taken.Log, usual.Log) << rate;
    }
    // Without the option the swapped wiring is found, and the option named.
    const Results missed = Measure(folder, "missed", {folder.Path("swapped8000.wav")});
    EXPECT_NE(missed.Out.find("radio on the left? (if not: --swap-channels)"), std::string::npos)
        << missed.Out;
}

TEST(SwapChannels, LiveRecordingKeepsTheCardsFramesAndRepeatsTheLiveRunWithTheOption) {
    TestFolder folder;
    const std::string liveLog = folder.Path("live.tsv"), liveIq = folder.Path("live.txt");
    const std::string rec = folder.Path("rec.wav");
    // The chain's --swap-channels before --simulate, the simulator's wiring after it.
    const ToolRun live =
        RunBatchTool({"--swap-channels", "--integration", "1", "--log", liveLog, "--iq-file",
                      liveIq, "--capture", "--seconds", "2.5", "--record", rec, "--simulate", "3",
                      "--ppm", "40", "--swap-channels"});
    ASSERT_EQ(live.Status, 0) << live.Err;
    EXPECT_NE(live.Err.find("capturing from \"Simulated GPS receiver and radio\"; PPS taken from "
                            "the left channel (--swap-channels)"),
              std::string::npos)
        << live.Err;
    SimulatorSettings settings;
    settings.Ppm = 40;
    settings.SwapChannels = true;
    EXPECT_TRUE(SameFrames(ReadWavFile(rec), Simulate(settings, 20000)))
        << "the recording holds the frames as the card delivered them";

    const std::string batchLog = folder.Path("batch.tsv"), batchIq = folder.Path("batch.txt");
    const ToolRun batch = RunBatchTool({"--quiet", "--swap-channels", "--integration", "1", "--log",
                                        batchLog, "--iq-file", batchIq, rec});
    ASSERT_EQ(batch.Status, 0) << batch.Err;
    const std::vector<std::string> liveReadouts = Readouts(liveLog);
    EXPECT_GE(liveReadouts.size(), 14u);
    EXPECT_EQ(liveReadouts, Readouts(batchLog));
    // The records but for their times of day.
    const std::vector<std::string> liveRecords = TextLines(liveIq);
    const std::vector<std::string> batchRecords = TextLines(batchIq);
    ASSERT_EQ(liveRecords.size(), batchRecords.size());
    ASSERT_GE(liveRecords.size(), 2u + 2 + 1);
    for (size_t i = 2; i + 1 < liveRecords.size(); ++i) {  // the header, the records, CR LF
        EXPECT_EQ(liveRecords[i].substr(8), batchRecords[i].substr(8)) << i;
    }
}

}  // namespace qv
