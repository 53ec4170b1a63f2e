// The Windows programs' files under Wine against the Linux programs': a simulated recording
// byte for byte, the outputs of a run over a recording (read-out log, I/Q file, bitmap and the
// PNG's pixels), and a live recording that is readable while it grows and ends as the Linux
// writer's bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/png_pixels.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tests/wine/wine_program.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

const std::string kSimExe = "quorvelle-sim.exe";
constexpr size_t kWavHeaderBytes = 112;  // the header the program writes before the frames

// "" when `a` and `b` are the same bytes, else where they first differ (files are too large to
// print).
std::string FirstDifference(const std::string& a, const std::string& b) {
    if (a == b) return "";
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
           ", first difference at byte " + std::to_string(at);
}

TEST(WineWavFiles, SimulatedRecordingAndTheRunOverItGiveTheLinuxFiles) {
    for (const std::string& exe : {kSimExe, kBatchExe}) {
        const std::string why = WineUnavailable(exe);
        if (!why.empty()) GTEST_SKIP() << why;
    }
    TestFolder folder;
    // A card 25 ppm fast, so that the recording is not a whole number of seconds.
    const std::vector<std::string> simulator = {"--seconds", "12", "--ppm", "25", "--seed", "3"};
    auto withOutput = [&](const std::string& name) {
        std::vector<std::string> args = simulator;
        args.push_back(folder.Path(name));
        return args;
    };
    const ToolRun winSim = RunWindowsProgram(folder, kSimExe, withOutput("win.wav"));
    ASSERT_EQ(winSim.Status, 0) << winSim.Err;
    const ToolRun linuxSim = RunLinuxProgram(folder, QUORVELLE_SIM_BIN, withOutput("linux.wav"));
    ASSERT_EQ(linuxSim.Status, 0) << linuxSim.Err;
    const std::string linuxWav = FileText(folder.Path("linux.wav"));
    ASSERT_GT(linuxWav.size(), kWavHeaderBytes + 4 * 8000 * 12);
    EXPECT_EQ(FirstDifference(FileText(folder.Path("win.wav")), linuxWav), "");

    // Both batch tools over the Linux recording: the same read-outs, I/Q records and chart.
    auto runOver = [&](const std::string& prefix) {
        return std::vector<std::string>{"--quiet",
                                        "--integration",
                                        "2",
                                        "--log",
                                        folder.Path(prefix + ".tsv"),
                                        "--iq-file",
                                        folder.Path(prefix + ".txt"),
                                        "--chart",
                                        folder.Path(prefix + ".BMP"),
                                        "--png",
                                        folder.Path("linux.wav")};
    };
    const ToolRun winBatch = RunWindowsProgram(folder, kBatchExe, runOver("w"));
    ASSERT_EQ(winBatch.Status, 0) << winBatch.Err;
    const ToolRun linuxBatch = RunLinuxProgram(folder, QUORVELLE_BATCH_BIN, runOver("l"));
    ASSERT_EQ(linuxBatch.Status, 0) << linuxBatch.Err;
    for (const std::string ext : {".tsv", ".txt", ".BMP"}) {
        const std::string linuxFile = FileText(folder.Path("l" + ext));
        EXPECT_FALSE(linuxFile.empty()) << ext;
        EXPECT_EQ(FirstDifference(FileText(folder.Path("w" + ext)), linuxFile), "") << ext;
    }
    // The PNGs come from different encoders: their pixels, decoded here, are the same.
    PngPixels winPng, linuxPng;
    ASSERT_TRUE(ReadPngPixels(folder.Path("w.png"), winPng));
    ASSERT_TRUE(ReadPngPixels(folder.Path("l.png"), linuxPng));
    EXPECT_EQ(winPng.Width, linuxPng.Width);
    EXPECT_EQ(winPng.Height, linuxPng.Height);
    EXPECT_TRUE(winPng.Rgb == linuxPng.Rgb);
}

TEST(WineWavFiles, LiveRecordingIsReadableWhileItGrowsAndEndsAsTheLinuxWritersBytes) {
    const std::string why = WineUnavailable(kBatchExe);
    if (!why.empty()) GTEST_SKIP() << why;
    TestFolder folder;
    const std::string recording = folder.Path("rec.wav");
    // Four seconds of the simulator in real time: the header is rewritten about every second.
    const std::vector<std::string> args = {"--quiet",  "--seconds", "4",          "--capture",
                                           "--record", recording,   "--simulate", "30"};
    ChildProcess batch;
    std::string error;
    ASSERT_TRUE(batch.Start(WineArgv(kBatchExe, args), kWineEnvironment, folder.Path("out"),
                            folder.Path("err"), error))
        << error;
    // Once two seconds are in the file, a copy as a crash would leave it.
    const size_t twoSeconds = kWavHeaderBytes + 4 * 8000 * 2;
    ASSERT_TRUE(WaitWhileRunning(
        batch, [&] { return FileText(recording).size() >= twoSeconds; }, 60s))
        << FileText(folder.Path("err"));
    WriteText(folder.Path("snapshot.wav"), FileText(recording));
    ASSERT_EQ(batch.Wait(60s), 0) << FileText(folder.Path("err"));

    // The Linux reader reads both; the copy holds the recording's first frames, at least the
    // first second's, whose header update had come.
    const std::vector<Frame> snapshot = ReadWavFile(folder.Path("snapshot.wav"));
    const std::vector<Frame> frames = ReadWavFile(recording);
    EXPECT_EQ(frames.size(), 4u * 8000);
    EXPECT_GE(snapshot.size(), 8000u);
    ASSERT_LE(snapshot.size(), frames.size());
    EXPECT_TRUE(
        SameFrames(snapshot, std::vector<Frame>(frames.begin(), frames.begin() + snapshot.size())));
    // (Which frames they are depends on the load: a capture that falls behind drops blocks.)
    // The Linux writer writes the same frames as the same bytes.
    WriteWavFile(folder.Path("linux.wav"), frames);
    EXPECT_EQ(FirstDifference(FileText(recording), FileText(folder.Path("linux.wav"))), "");
}

}  // namespace

}  // namespace qv
