// The live chain shared by the window and quorvelle-batch --capture: frames to the recording
// and through the chain up to the frame limit, gaps as CAPTURE lines and on stderr, the drops
// left over at the end, and the closing summary; the I/Q period and record that hold a gap; a
// recording that fails reported while the capture goes on.
#include "capture/live_chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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
