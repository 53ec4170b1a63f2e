// quorvelle-batch --capture without a sound card: option checks, device errors, the simulator
// and a recording as live inputs (same results as the batch run), recording, and SIGINT.
#include "tools/batch_capture.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/child_process.h"
#include "tests/test_files.h"
#include "tools/batch.h"

namespace {

using namespace std::chrono_literals;

struct BatchRun {
    int status = -1;
    std::string out, err;
};

BatchRun RunTool(std::vector<std::string> args) {
    args.insert(args.begin(), "quorvelle-batch");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    std::ostringstream out, err;
    BatchRun r;
    r.status = RunBatch(static_cast<int>(argv.size()), argv.data(), out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

size_t LineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

// "label<TAB>text" of every read-out line, without the time of day; CAPTURE lines apart.
std::vector<std::string> Readouts(const std::string& logPath) {
    std::vector<std::string> readouts;
    for (const std::string& line : TextLines(logPath)) {
        const std::string rest = line.substr(line.find('\t') + 1);
        if (rest.rfind("CAPTURE\t", 0) != 0) readouts.push_back(rest);
    }
    return readouts;
}

std::vector<std::string> CaptureLines(const std::string& logPath) {
    std::vector<std::string> lines;
    for (const std::string& line : TextLines(logPath)) {
        const std::string rest = line.substr(line.find('\t') + 1);
        if (rest.rfind("CAPTURE\t", 0) == 0) lines.push_back(rest.substr(8));
    }
    return lines;
}

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
        BatchRun r = RunTool(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << args[1] << ": " << r.err;
        EXPECT_NE(r.err.find("usage: quorvelle-batch"), std::string::npos);
    }
    BatchRun help = RunTool({"--help"});
    EXPECT_NE(help.out.find("--list-devices"), std::string::npos);
}

TEST(BatchCaptureErrors, UnknownDeviceOrUnusableOutputIsOneLineAndExitOne) {
    TestFolder folder;
    for (const char* device : {"99", "no such card anywhere"}) {
        BatchRun r = RunTool({"--capture", "--device", device, "--seconds", "1"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(LineCount(r.err), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("quorvelle-batch: --device ", 0), 0u) << r.err;
    }
    BatchRun play = RunTool({"--capture", "--play", folder.Path("missing.wav")});
    EXPECT_EQ(play.status, 1);
    EXPECT_EQ(LineCount(play.err), 1u) << play.err;
    EXPECT_NE(play.err.find("missing.wav: cannot open"), std::string::npos);

    BatchRun record =
        RunTool({"--quiet", "--capture", "--record", "/nonexistent-dir/r.wav", "--simulate", "2"});
    EXPECT_EQ(record.status, 1);
    EXPECT_EQ(record.err,
              "quorvelle-batch: /nonexistent-dir/r.wav: cannot create: No such file "
              "or directory\n");

    BatchRun list = RunTool({"--list-devices"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.rfind("Input devices:", 0), 0u);
}

TEST(BatchCaptureRun, SimulatorAsLiveInputGivesTheBatchRunsReadouts) {
    TestFolder folder;
    const std::string liveLog = folder.Path("live.tsv"), batchLog = folder.Path("batch.tsv");
    const std::string liveIq = folder.Path("live.txt"), batchIq = folder.Path("batch.txt");
    BatchRun live = RunTool({"--integration", "1", "--log", liveLog, "--iq-file", liveIq,
                             "--capture", "--simulate", "3", "--ppm", "40"});
    ASSERT_EQ(live.status, 0) << live.err;
    BatchRun batch = RunTool({"--quiet", "--integration", "1", "--log", batchLog, "--iq-file",
                              batchIq, "--simulate", "3", "--ppm", "40"});
    ASSERT_EQ(batch.status, 0) << batch.err;

    EXPECT_NE(live.out.find("capture ended: 24001 frames processed, 0 dropped, 0 input overflows"),
              std::string::npos)
        << live.out;
    EXPECT_NE(live.err.find("capturing from \"Simulated GPS receiver and radio\""),
              std::string::npos);
    const std::vector<std::string> readouts = Readouts(liveLog);
    EXPECT_GE(readouts.size(), 14u);
    EXPECT_EQ(readouts, Readouts(batchLog));
    EXPECT_EQ(CaptureLines(liveLog),
              std::vector<std::string>{
                  "capture ended: 24001 frames processed, 0 dropped, 0 input overflows"});
    // The I/Q records agree but for their times of day (wall clock against stream time).
    std::vector<std::string> liveRecords = TextLines(liveIq), batchRecords = TextLines(batchIq);
    ASSERT_EQ(liveRecords.size(), batchRecords.size());
    ASSERT_GE(liveRecords.size(), 5u);
    for (size_t i = 2; i + 1 < liveRecords.size(); ++i) {
        EXPECT_EQ(liveRecords[i].substr(8), batchRecords[i].substr(8));
    }
}

TEST(BatchCaptureRun, PlayedRecordingIsRecordedFrameForFrameUpToTheSeconds) {
    TestFolder folder;
    std::vector<Frame> frames(3 * kFramesPerSecond);
    for (size_t k = 0; k < frames.size(); ++k) {
        frames[k] = {static_cast<int16_t>(k * 7), static_cast<int16_t>(-static_cast<int>(k))};
    }
    WriteWavFile(folder.Path("in.wav"), frames);
    const std::string log = folder.Path("log.tsv");
    BatchRun r = RunTool({"--quiet", "--log", log, "--capture", "--seconds", "1.5", "--play",
                          folder.Path("in.wav"), "--record", folder.Path("rec.wav")});
    ASSERT_EQ(r.status, 0) << r.err;
    frames.resize(12000);
    EXPECT_TRUE(SameFrames(ReadWavFile(folder.Path("rec.wav")), frames));
    EXPECT_EQ(CaptureLines(log),
              std::vector<std::string>{
                  "capture ended: 12000 frames processed, 0 dropped, 0 input overflows"});
}

TEST(BatchCaptureRun, SigintEndsTheRunCleanlyWithItsFilesWritten) {
    TestFolder folder;
    const std::string iq = folder.Path("iq.txt"), rec = folder.Path("rec.wav");
    const std::string log = folder.Path("log.tsv"), err = folder.Path("err.txt");
    ChildProcess batch;
    std::string error;
    ASSERT_TRUE(batch.Start({QUORVELLE_BATCH_BIN, "--integration", "1", "--iq-file", iq, "--record",
                             rec, "--log", log, "--capture", "--simulate", "600"},
                            {}, folder.Path("out.txt"), err, error))
        << error;
    // Until the capture runs, then long enough for two integration periods.
    for (int i = 0; i < 200 && FileText(err).find("capturing from") == std::string::npos; ++i) {
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(2500ms);
    batch.Signal(SIGINT);
    EXPECT_EQ(batch.Wait(10s), 0) << FileText(err);
    EXPECT_NE(FileText(err).find("SIGINT: capture ended"), std::string::npos) << FileText(err);

    const std::vector<std::string> records = TextLines(iq);
    EXPECT_GE(records.size(), 2u + 2 + 1) << "header, two records, the closing empty line";
    const std::vector<std::string> captureLines = CaptureLines(log);
    ASSERT_EQ(captureLines.size(), 1u);
    // The recording holds exactly the frames the chain processed.
    const size_t processed =
        std::stoul(captureLines[0].substr(std::string("capture ended: ").size()));
    EXPECT_GT(processed, 2u * kFramesPerSecond);
    EXPECT_EQ(ReadWavFile(rec).size(), processed);
}

}  // namespace
