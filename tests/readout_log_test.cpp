// The read-out log's file: its line format, a new log against an appended one, lines that
// reach the file while it is open, its close at its end, and a write failure reported at Close.
#include "capture/readout_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
    EXPECT_EQ(error, "/dev/full: cannot write: No space left on device");
    EXPECT_FALSE(log.IsOpen());
    std::string second;
    EXPECT_TRUE(log.Close(second)) << "closed once, nothing left to report";
}

}  // namespace

}  // namespace qv
