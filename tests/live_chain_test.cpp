// The live chain shared by the window and quorvelle-batch --capture: frames to the recording
// and through the chain up to the frame limit, gaps as CAPTURE lines and on stderr, the drops
// left over at the end, and the closing summary; the I/Q period and record that hold a gap; a
// recording that fails reported while the capture goes on.
#include "capture/live_chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/capture_fakes.h"
#include "tests/chain_fixture.h"
#include "tests/test_files.h"

namespace qv {

namespace {

// The log's lines without their time of day.
std::vector<std::string> LabelsAndTexts(const std::string& path) {
    std::vector<std::string> lines;
    for (const std::string& line : TextLines(path)) lines.push_back(line.substr(13));
    return lines;
}

TEST(LiveChain, RecordsAndProcessesUpToTheLimitAndReportsEveryGapOnce) {
    TestFolder folder;
    const std::string logPath = folder.Path("log.tsv"), recordPath = folder.Path("rec.wav");
    StartedChain c;
    ReadoutLog log;
    std::string error;
    ASSERT_TRUE(log.Open(logPath, LogStart::Truncate, false, error)) << error;
    Recorder recorder;
    ASSERT_TRUE(recorder.Open(recordPath, error)) << error;
    std::ostringstream err;
    LiveChain chain(c.M, log, err, "quorvelle-test");
    chain.Recording = &recorder;
    chain.FrameLimit = 300;

    std::vector<Frame> stream;
    for (int k = 0; k < 4 * kFramesPerBlock; ++k) stream.push_back(CountingFrame(k));
    chain.CaptureFrames(&stream[0], kFramesPerBlock);
    chain.CaptureGap(128, 256, 0);
    chain.CaptureFrames(&stream[128], kFramesPerBlock);
    EXPECT_FALSE(chain.Done());
    chain.CaptureFrames(&stream[256], kFramesPerBlock);  // only 44 of them are wanted
    EXPECT_TRUE(chain.Done());
    chain.CaptureFrames(&stream[384], kFramesPerBlock);
    EXPECT_EQ(chain.FramesProcessed(), 300);
    EXPECT_EQ(c.M.FramesProcessed, 300);

    // The capture's statistics at its end: 100 more frames dropped and two overflows after the
    // last block handed over.
    CaptureStatistics stats;
    stats.FramesCaptured = 1000;
    stats.FramesDropped = 356;
    stats.Overflows = 2;
    chain.ReportGapsAtEnd(stats);
    EXPECT_EQ(CaptureEndedSummary(chain.FramesProcessed(), stats),
              "capture ended: 300 frames processed, 356 dropped, 2 input overflows");

    ASSERT_TRUE(recorder.Close(error)) << error;
    ASSERT_TRUE(log.Close(error)) << error;
    const std::string dropped = DescribeCaptureGap(128, 256, 0);
    const std::string atEnd = DescribeCaptureGap(900, 100, 2);
    EXPECT_EQ(atEnd,
              "100 frames dropped at frame 900 of the capture: the processing fell more than "
              "2.048 s behind; 2 input overflow(s) before frame 1000: the device lost frames");
    EXPECT_EQ(LabelsAndTexts(logPath),
              (std::vector<std::string>{"CAPTURE\t" + dropped, "CAPTURE\t" + atEnd}));
    EXPECT_EQ(err.str(), "quorvelle-test: " + dropped + "\nquorvelle-test: " + atEnd + "\n");
    stream.resize(300);
    EXPECT_TRUE(SameFrames(ReadWavFile(recordPath), stream));
}

// The sample rate in a WAV or RF64 file's "fmt " chunk and the frames of its "data" chunk, read
// as bytes: a recording at a card's rate, whatever the readers take.
struct RawWav {
    uint32_t Rate = 0;
    std::vector<Frame> Frames;
};
RawWav ReadRawWav(const std::string& path) {
    const std::string bytes = FileText(path);
    const auto u32 = [&bytes](size_t at) {
        uint32_t v = 0;
        for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(bytes[at + k]);
        return v;
    };
    RawWav wav;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const size_t size = id == "data" ? bytes.size() - at - 8 : u32(at + 4);
        if (id == "fmt ") wav.Rate = u32(at + 12);
        if (id == "data") {
            wav.Frames.resize(size / sizeof(Frame));
            std::memcpy(wav.Frames.data(), bytes.data() + at + 8, wav.Frames.size() * 4);
        }
        at += 8 + size + (size & 1);
    }
    return wav;
}

// A card at 48000 frames per second: a 1 kHz tone on the left, a 100 ms pulse at 60 % of full
// scale each second on the right.
std::vector<Frame> CardFrames48k(int seconds) {
    std::vector<Frame> frames(static_cast<size_t>(seconds) * 48000);
    for (size_t k = 0; k < frames.size(); ++k) {
        const long double rf = 0.3L * std::sin(2 * 3.14159265358979323846L * 1000 * k / 48000);
        const bool pulse = (k + 48000 - 12345) % 48000 < 4800;
        frames[k] = Frame{static_cast<int16_t>(std::lrint(rf * 32767)),
                          static_cast<int16_t>(pulse ? 19660 : 0)};
    }
    return frames;
}

// At a card's rate the recording holds the device frames at that rate, the limit counts them,
// and the chain's numbers are those of the recording's frames run straight through it (as the
// batch tool runs a file: other chunks, then the end of the input).
TEST(LiveChain, AtACardRateTheRecordingAndTheChainTakeTheDeviceFrames) {
    TestFolder folder;
    const std::string logPath = folder.Path("log.tsv"), recordPath = folder.Path("rec.wav");
    const std::vector<Frame> stream = CardFrames48k(7);
    const int64_t limit = 6 * 48000 + 1000;

    StartedChain live;
    ReadoutLog log;
    std::string error;
    ASSERT_TRUE(log.Open(logPath, LogStart::Truncate, false, error)) << error;
    Recorder recorder;
    ASSERT_TRUE(recorder.Open(recordPath, error)) << error;  // before the rate is known
    std::ostringstream err;
    LiveChain chain(live.M, log, err, "quorvelle-test");
    chain.Recording = &recorder;
    chain.FrameLimit = limit;
    EXPECT_FALSE(chain.Begin(12345, error));
    EXPECT_EQ(error,
              "the chain cannot take 12345 frames per second; it takes 8000, 11025, 16000, 22050, "
              "32000, 44100, 48000, 88200, 96000, 176400 or 192000");
    ASSERT_TRUE(chain.Begin(48000, error)) << error;
    EXPECT_EQ(chain.FramesPerSecond(), 48000);
    EXPECT_EQ(recorder.Rate(), 48000);
    const int block = BlockFramesAt(48000);
    for (size_t k = 0; k < stream.size() && !chain.Done(); k += block) {
        chain.CaptureFrames(&stream[k],
                            static_cast<int>(std::min<size_t>(block, stream.size() - k)));
    }
    chain.Finish();
    EXPECT_EQ(chain.FramesProcessed(), limit);
    EXPECT_EQ(live.M.Fine.FrameIndex, limit);
    EXPECT_NEAR(static_cast<double>(live.M.FramesProcessed), limit / 6.0, 1);  // 8000 a second
    EXPECT_GE(live.M.SecondsEnded, 5);
    ASSERT_TRUE(recorder.Close(error)) << error;
    ASSERT_TRUE(log.Close(error)) << error;
    EXPECT_EQ(err.str(), "");

    const RawWav wav = ReadRawWav(recordPath);
    EXPECT_EQ(wav.Rate, 48000u);
    const std::vector<Frame> wanted(stream.begin(), stream.begin() + limit);
    EXPECT_TRUE(SameFrames(wav.Frames, wanted));

    StartedChain file;
    ASSERT_TRUE(SetDeviceRate(file.M, 48000));
    for (size_t k = 0; k < wav.Frames.size(); k += 1000) {
        ProcessDeviceFrames(file.M, &wav.Frames[k],
                            static_cast<int>(std::min<size_t>(1000, wav.Frames.size() - k)));
    }
    FinishDeviceFrames(file.M);
    ASSERT_EQ(file.Host.readouts.size(), live.Host.readouts.size());
    for (size_t k = 0; k < live.Host.readouts.size(); ++k) {
        EXPECT_EQ(file.Host.readouts[k].Id, live.Host.readouts[k].Id) << k;
        EXPECT_EQ(file.Host.readouts[k].Text, live.Host.readouts[k].Text) << k;
    }
    EXPECT_EQ(file.M.IqText, live.M.IqText);
    EXPECT_EQ(file.M.Fine.FrameIndex, live.M.Fine.FrameIndex);

    // A gap after frames that do not fill a chunk: the fine timing takes those frames first,
    // at their own places, then counts the lost ones.
    StartedChain gapped;
    ReadoutLog noLog;
    LiveChain gappedChain(gapped.M, noLog, err, "quorvelle-test");
    ASSERT_TRUE(gappedChain.Begin(48000, error)) << error;
    gappedChain.CaptureFrames(stream.data(), 100);
    EXPECT_EQ(gapped.M.Fine.FrameIndex, 0) << "a chunk of device frames is not complete yet";
    gappedChain.CaptureGap(100, 50, 0);
    EXPECT_EQ(gapped.M.Fine.FrameIndex, 150);
    EXPECT_TRUE(gapped.M.Pending.empty());
}

// A device that was gone: its missed frames are counted as dropped (at 8000 a second in the
// period, at the device's rate in the fine timing), said once with how long it was gone, not
// again at the end, and in the closing summary.
TEST(LiveChain, DeviceBackCountsItsMissedFramesAsDroppedAndSaysHowLongItWasGone) {
    TestFolder folder;
    const std::string logPath = folder.Path("log.tsv");
    StartedChain c;
    ReadoutLog log;
    std::string error;
    ASSERT_TRUE(log.Open(logPath, LogStart::Truncate, false, error)) << error;
    std::ostringstream err;
    LiveChain chain(c.M, log, err, "quorvelle-test");
    ASSERT_TRUE(chain.Begin(48000, error)) << error;
    std::vector<Frame> stream(768);
    chain.CaptureFrames(stream.data(), 768);
    chain.DeviceGap(768, 120000);
    EXPECT_EQ(c.M.PeriodFramesDropped, 20000);
    EXPECT_EQ(c.M.Fine.FrameIndex, 768 + 120000) << "the fine timing counts the missed frames";
    chain.CaptureFrames(stream.data(), 768);

    CaptureStatistics stats;
    stats.FramesCaptured = 121536;
    stats.FramesMissed = 120000;
    chain.ReportGapsAtEnd(stats);
    EXPECT_EQ(CaptureEndedSummary(chain.FramesProcessed(), stats),
              "capture ended: 1536 frames processed, 0 dropped, 0 input overflows, 120000 "
              "missed while the device was gone");
    ASSERT_TRUE(log.Close(error)) << error;
    const std::string back =
        "the device is back after 2.5 s gone: 120000 frames missing at frame 768 of the "
        "capture, counted as dropped";
    EXPECT_EQ(LabelsAndTexts(logPath), std::vector<std::string>{"CAPTURE\t" + back});
    EXPECT_EQ(err.str(), "quorvelle-test: " + back + "\n");
}

// The I/Q records' times of day, in the order they were added.
std::vector<std::string> RecordTimes(const std::string& iqText) {
    std::vector<std::string> times;
    std::istringstream lines(iqText);
    std::string line;
    for (int k = 0; std::getline(lines, line); ++k) {
        if (k >= 2) times.push_back(line.substr(0, 8));  // after the two header lines
    }
    return times;
}

TEST(LiveChain, GapNamesTheIqPeriodThatHoldsItThenItsRecordOnceThePeriodCloses) {
    TestFolder folder;
    const std::string logPath = folder.Path("log.tsv");
    StartedChain c;
    ReadIntegrationTime(c.M, "1");
    c.M.Params.SaveIqFlag = 1;
    ReadoutLog log;
    std::string error;
    ASSERT_TRUE(log.Open(logPath, LogStart::Truncate, false, error)) << error;
    std::ostringstream err;
    LiveChain chain(c.M, log, err, "quorvelle-test");
    const std::vector<Frame> block(kFramesPerBlock);  // silence: only the periods matter here
    auto feed = [&](int blocks) {
        for (int k = 0; k < blocks; ++k) chain.CaptureFrames(block.data(), kFramesPerBlock);
    };

    chain.CaptureGap(0, 128, 0);  // before the first frame: in the first period
    feed(94);                     // 1.5 s: the first period closes
    chain.CaptureGap(12160, 256, 0);
    chain.CaptureGap(12416, 0, 2);  // two gaps in the second period
    feed(63);                       // 2.5 s: the second closes
    chain.CaptureGap(20480, 64, 0);
    feed(16);  // 2.75 s: the third is still open at the end
    CaptureStatistics stats;
    stats.FramesCaptured = 22752 + 100;
    stats.FramesDropped = 128 + 256 + 64 + 100;
    stats.Overflows = 2;
    chain.ReportGapsAtEnd(stats);
    ASSERT_TRUE(log.Close(error)) << error;

    const std::vector<std::string> records = RecordTimes(c.M.IqText);
    ASSERT_EQ(records.size(), 2u);
    // Each record also by its number in the file: a stall can give several records one stamp.
    auto named = [](int number) {
        return "; its record, number " + std::to_string(number) +
               " in the I/Q file, is named when it closes";
    };
    const std::vector<std::string> expected = {
        "CAPTURE\t" + DescribeCaptureGap(0, 128, 0) + "; the I/Q period begun at 00:00:00 " +
            "holds the gap" + named(1),
        "CAPTURE\tthe I/Q record " + records[0] +
            ", number 1 in the I/Q file, holds the gap at frame 0",
        "CAPTURE\t" + DescribeCaptureGap(12160, 256, 0) + "; the I/Q period begun at " +
            records[0] + " holds the gap" + named(2),
        "CAPTURE\t" + DescribeCaptureGap(12416, 0, 2) + "; the I/Q period begun at " + records[0] +
            " holds the gap" + named(2),
        "CAPTURE\tthe I/Q record " + records[1] +
            ", number 2 in the I/Q file, holds the gaps at frames 12160, 12416",
        "CAPTURE\t" + DescribeCaptureGap(20480, 64, 0) + "; the I/Q period begun at " + records[1] +
            " holds the gap" + named(3),
        "CAPTURE\tno I/Q record holds the gap at frame 20480: the capture ended before its "
        "period closed",
        // Dropped after the last frame processed: in no period at all.
        "CAPTURE\t" + DescribeCaptureGap(22752, 100, 0),
    };
    EXPECT_EQ(LabelsAndTexts(logPath), expected);
    const std::string errText = err.str();
    EXPECT_EQ(std::count(errText.begin(), errText.end(), '\n'), 8) << errText;
    EXPECT_NE(records[0], records[1]);
}

TEST(LiveChain, RecordingThatCannotBeWrittenIsReportedOnceWhileTheCaptureGoesOn) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file size limit to stand in for a full disk";
#else
    // A file size limit makes the recording's writes fail part-way, as a full disk would.
    TestFolder folder;
    const std::string logPath = folder.Path("log.tsv"), recordPath = folder.Path("rec.wav");
    // [bytes] about 2 s of recording; the log stays far below
    std::optional<FileSizeLimit> full(std::in_place, 64 * 1024);

    StartedChain c;
    ReadoutLog log;
    std::string error;
    ASSERT_TRUE(log.Open(logPath, LogStart::Truncate, true, error)) << error;
    Recorder recorder;
    ASSERT_TRUE(recorder.Open(recordPath, error)) << error;
    std::ostringstream err;
    LiveChain chain(c.M, log, err, "quorvelle-test");
    chain.Recording = &recorder;
    std::vector<std::string> shown;
    chain.ShowProblem = [&shown](const std::string& text) { shown.push_back(text); };

    std::vector<Frame> stream;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (shown.empty() && std::chrono::steady_clock::now() < giveUp) {
        const int64_t first = static_cast<int64_t>(stream.size());
        for (int k = 0; k < kFramesPerBlock; ++k) stream.push_back(CountingFrame(first + k));
        chain.CaptureFrames(&stream[first], kFramesPerBlock);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the writer keeps up
    }
    ASSERT_EQ(shown.size(), 1u) << "not reported while capturing";
    EXPECT_EQ(shown[0], recordPath + ": cannot write: File too large");
    for (int k = 0; k < 40; ++k) chain.CaptureFrames(stream.data(), kFramesPerBlock);
    EXPECT_EQ(shown.size(), 1u) << "once";
    EXPECT_EQ(chain.FramesProcessed(), static_cast<int64_t>(stream.size()) + 40 * kFramesPerBlock)
        << "the measurement goes on";

    EXPECT_FALSE(recorder.Close(error));
    EXPECT_EQ(error, shown[0]) << "the close names the same failure";
    EXPECT_EQ(chain.RecordingProblem(), shown[0]);
    ASSERT_TRUE(log.Close(error)) << error;
    full.reset();

    EXPECT_EQ(LabelsAndTexts(logPath), std::vector<std::string>{"CAPTURE\t" + shown[0]});
    EXPECT_EQ(err.str(), "quorvelle-test: " + shown[0] + "\n");
    // What was written before the failure stays readable.
    const std::vector<Frame> kept = ReadWavFile(recordPath);
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), stream.size());
    EXPECT_TRUE(SameFrames(kept, std::vector<Frame>(stream.begin(), stream.begin() + kept.size())));
#endif
}

}  // namespace

}  // namespace qv
