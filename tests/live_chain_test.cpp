// The live chain shared by the window and quorvelle-batch --capture: frames to the recording
// and through the chain up to the frame limit, gaps as CAPTURE lines and on stderr, the drops
// left over at the end, and the closing summary.
#include "capture/live_chain.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
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

}  // namespace

}  // namespace qv
