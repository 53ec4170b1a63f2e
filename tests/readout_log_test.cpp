// The read-out log's file: its line format, a new log against an appended one, lines that
// reach the file while it is open, its close at its end, and a write failure reported when it
// happens and again at Close.
#include "capture/readout_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace qv {

namespace {

TEST(ReadoutLog, TruncatesOrAppendsAsAskedAndClosesAtItsEnd) {
    TestFolder folder;
    const std::string path = folder.Path("readouts.tsv");
    WriteText(path, "an earlier run\n");
    std::string error;
    {
        ReadoutLog log;
        log.Write(0, "TITLE", "nothing open: no line, no failure");
        EXPECT_TRUE(log.Close(error));
        ASSERT_TRUE(log.Open(path, LogStart::Truncate, true, error)) << error;
        log.Write(3723004, "IDFREQERROR", "Freq error = 1.25 ppm");
        // Line-buffered: the line is in the file before the log closes.
        EXPECT_EQ(FileText(path), "01:02:03.004\tIDFREQERROR\tFreq error = 1.25 ppm\n");
    }
    {
        ReadoutLog log;
        ASSERT_TRUE(log.Open(path, LogStart::Append, false, error)) << error;
        log.Write(86399999, "CAPTURE", "capture ended");
    }  // fully buffered: the line reaches the file when the log ends
    EXPECT_EQ(FileText(path),
              "01:02:03.004\tIDFREQERROR\tFreq error = 1.25 ppm\n"
              "23:59:59.999\tCAPTURE\tcapture ended\n");
}

TEST(ReadoutLog, WriteFailureShowsAtCloseAsOneLine) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    ReadoutLog log;
    std::string error;
    ASSERT_TRUE(log.Open("/dev/full", LogStart::Truncate, false, error)) << error;
    log.Write(0, "TITLE", "GPS QuorVelle");
    EXPECT_FALSE(log.Close(error));
    EXPECT_EQ(error, "/dev/full: cannot write: No space left on device; 1 line never written");
    EXPECT_FALSE(log.IsOpen());
    std::string second;
    EXPECT_TRUE(log.Close(second)) << "closed once, nothing left to report";
}

TEST(ReadoutLog, FirstWriteFailureIsReportedOnceWhenItHappens) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string failure = "/dev/full: cannot write: No space left on device";
    std::string error;
    for (const bool lineBuffered : {true, false}) {
        ReadoutLog log;
        std::vector<std::string> reported;
        // The window's handler shows the failure in its title, which it also logs: that line
        // fails too, and must not report again or recurse.
        log.WriteFailed = [&](const std::string& text) {
            reported.push_back(text);
            log.WriteNow("TITLE", "GPS QuorVelle - " + text);
        };
        ASSERT_TRUE(log.Open("/dev/full", LogStart::Append, lineBuffered, error)) << error;
        log.Write(0, "TITLE", "GPS QuorVelle");
        // Line-buffered, the first line fails at once; fully buffered, when the buffer of a
        // few kilobytes is written out.
        EXPECT_EQ(reported.size(), lineBuffered ? 1u : 0u);
        for (int k = 0; k < 1000; ++k) log.Write(k, "IDAUDIOLEVEL", "Audio level = 45.3%");
        EXPECT_EQ(reported, std::vector<std::string>{failure}) << lineBuffered;
        EXPECT_TRUE(log.HasFailed());
        EXPECT_FALSE(log.Close(error));
        // Said once already: the close adds how many lines the log lacks for good.
        EXPECT_EQ(error, failure + "; 1002 lines never written") << lineBuffered;
        EXPECT_EQ(reported.size(), 1u);
    }
}

}  // namespace

}  // namespace qv
