// The I/Q file: its exact bytes, its name, and a write that fails.
#include "files/iq_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qv {

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(IqFile, BytesAsLaidOut) {
    const std::string text = IqTextHeader() + IqRecord("14:02:09", 11502.6L, -0.0123456789L);
    const std::string path = testing::TempDir() + "iq_bytes.txt";
    std::string error;
    ASSERT_TRUE(WriteIqFile(text, path, error)) << error;
    EXPECT_EQ(ReadAll(path),
              "   Time     I            Q \r\n"
              "==================================\r\n"
              "14:02:09,11502.6000000,-.0123457\r\n"
              "\r\n");
    EXPECT_EQ(IqTextHeader().size(), 27u + 2 + 34 + 2);
}

TEST(IqFile, HeaderOnlyWhenNoPeriodEnded) {
    const std::string path = testing::TempDir() + "iq_empty.txt";
    std::string error;
    ASSERT_TRUE(WriteIqFile(IqTextHeader(), path, error)) << error;
    EXPECT_EQ(ReadAll(path), IqTextHeader() + "\r\n");
}

TEST(IqFile, ReplacesAnExistingFile) {
    const std::string path = testing::TempDir() + "iq_replace.txt";
    std::ofstream(path) << std::string(5000, 'x');
    std::string error;
    ASSERT_TRUE(WriteIqFile(IqTextHeader(), path, error)) << error;
    EXPECT_EQ(std::filesystem::file_size(path), IqTextHeader().size() + 2);
}

TEST(IqFile, NameFromTheTimeOfDay) {
    EXPECT_EQ(IqFileName((14 * 3600 + 2 * 60 + 9) * 1000LL), "IQfile 140209.TXT");
    EXPECT_EQ(IqFileName(0), "IQfile 000000.TXT");
}

TEST(IqFile, FailureIsReportedWithPathAndReason) {
    std::string error;
    EXPECT_FALSE(WriteIqFile(IqTextHeader(), "/nonexistent-dir/IQfile.TXT", error));
    EXPECT_EQ(error, "/nonexistent-dir/IQfile.TXT: cannot create: No such file or directory");
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(WriteIqFile(IqTextHeader(), "/dev/full", error));
        EXPECT_EQ(error, "/dev/full: cannot write: No space left on device");
    }
}

}  // namespace

}  // namespace qv
