// The I/Q file: its exact bytes, its name, a write that fails, and the file written record by
// record.
#include "files/iq_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/test_files.h"

namespace qv {

namespace {

// The bytes as laid out, the header alone when no period ended, an existing file replaced, and
// the name from the time of day.
TEST(IqFile, BytesAsLaidOutReplacingAnyFileUnderItsTimeOfDayName) {
    const std::string text = IqTextHeader() + IqRecord("14:02:09", 11502.6L, -0.0123456789L);
    const std::string path = testing::TempDir() + "iq_bytes.txt";
    std::ofstream(path) << std::string(5000, 'x');
    std::string error;
    ASSERT_TRUE(WriteIqFile(text, path, error)) << error;
    EXPECT_EQ(FileText(path),
              "   Time     I            Q \r\n"
              "==================================\r\n"
              "14:02:09,11502.6000000,-.0123457\r\n"
              "\r\n");
    EXPECT_EQ(IqTextHeader().size(), 27u + 2 + 34 + 2);
    ASSERT_TRUE(WriteIqFile(IqTextHeader(), path, error)) << error;
    EXPECT_EQ(FileText(path), IqTextHeader() + "\r\n");

    EXPECT_EQ(IqFileName((14 * 3600 + 2 * 60 + 9) * 1000LL), "IQfile 140209.TXT");
    EXPECT_EQ(IqFileName(0), "IQfile 000000.TXT");
}

// Record by record: after each append the file holds the header and the whole records so far
// (what a killed run leaves); the finished file is WriteIqFile's, byte for byte.
TEST(IqFileWriter, EveryRecordOnDiskAndTheFinishedFileAsWrittenWhole) {
    const std::string path = testing::TempDir() + "iq_stream.txt";
    const std::string whole = testing::TempDir() + "iq_whole.txt";
    std::ofstream(path) << std::string(5000, 'x');  // replaced, as WriteIqFile replaces
    std::string error, text = IqTextHeader();
    IqFileWriter writer;
    ASSERT_TRUE(writer.Create(path, error)) << error;
    EXPECT_EQ(FileText(path), text);
    for (int i = 0; i < 3; ++i) {
        const std::string record = IqRecord("23:59:5" + std::to_string(i), 4000.5L * i, -0.012L);
        ASSERT_TRUE(writer.Append(record, error)) << error;
        text += record;
        EXPECT_EQ(FileText(path), text);
    }
    ASSERT_TRUE(writer.Finish(error)) << error;
    EXPECT_FALSE(writer.IsOpen());
    ASSERT_TRUE(WriteIqFile(text, whole, error)) << error;
    EXPECT_EQ(FileText(path), FileText(whole));

    // Left unfinished (the run ended without its close-time work): no closing CR LF.
    {
        IqFileWriter unfinished;
        ASSERT_TRUE(unfinished.Create(path, error)) << error;
        ASSERT_TRUE(unfinished.Append(IqRecord("00:00:01", 1, 2), error)) << error;
    }
    EXPECT_EQ(FileText(path), IqTextHeader() + IqRecord("00:00:01", 1, 2));
}

// Failures of the file written whole and of the writer name the path and the reason; a writer
// that failed is ended.
TEST(IqFileWriter, FailuresNameThePathAndTheReasonAndEndTheFile) {
    std::string error;
    EXPECT_FALSE(WriteIqFile(IqTextHeader(), "/nonexistent-dir/IQfile.TXT", error));
    EXPECT_EQ(error, "/nonexistent-dir/IQfile.TXT: cannot create: No such file or directory");
    IqFileWriter missing;
    EXPECT_FALSE(missing.Create("/nonexistent-dir/iq.txt", error));
    EXPECT_EQ(error, "/nonexistent-dir/iq.txt: cannot create: No such file or directory");
    EXPECT_FALSE(missing.Append(IqRecord("00:00:01", 1, 2), error));
    EXPECT_FALSE(missing.Finish(error));
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(WriteIqFile(IqTextHeader(), "/dev/full", error));
        EXPECT_EQ(error, "/dev/full: cannot write: No space left on device");
        IqFileWriter full;
        EXPECT_FALSE(full.Create("/dev/full", error));
        EXPECT_EQ(error, "/dev/full: cannot write: No space left on device");
        EXPECT_FALSE(full.IsOpen());
    }
}

// A full disk: the file written record by record, and the one written in one go, end with their
// last whole line, never a record cut short ("00:0"); the writer counts the records on the
// disk, and with room again adds those the file lacks, so that it ends as if written whole.
TEST(IqFileWriter, AFullDiskLeavesWholeLinesCountedAndTheRestFollowsWhenThereIsRoom) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file size limit to stand in for a full disk";
#else
    TestFolder folder;
    const std::string path = folder.Path("iq.txt"), whole = folder.Path("whole.txt");
    std::string text = IqTextHeader(), appended = text, error;
    IqFileWriter writer;
    {
        FileSizeLimit full(200);  // [bytes] the header's 65 and four records
        ASSERT_TRUE(writer.Create(path, error)) << error;
        for (int k = 0; k < 12; ++k) {
            const std::string record = IqRecord("00:00:0" + std::to_string(k % 10), 1e3L * k, 1);
            text += record;
            if (writer.IsOpen() && writer.Append(record, error)) appended += record;
        }
        EXPECT_EQ(error, path + ": cannot write: File too large");
        EXPECT_FALSE(WriteIqFile(text, whole, error));
    }
    EXPECT_EQ(writer.Records(), 4);
    EXPECT_EQ(FileText(path), appended);
    const std::string held = FileText(whole);
    EXPECT_EQ(held, text.substr(0, held.size()));
    EXPECT_TRUE(held.size() > 170 && held.back() == '\n') << held;
    ASSERT_TRUE(writer.Resume(text, error)) << error;
    EXPECT_EQ(FileText(path), text + "\r\n");
    EXPECT_EQ(writer.Records(), 12);
#endif
}

}  // namespace

}  // namespace qv
