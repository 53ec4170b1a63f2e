// Test helpers for files: a private temporary folder per test, a full disk, whole WAV files in
// and out, the lines of a text file and its bytes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "common/frame.h"
#include "files/iq_file.h"
#include "files/wav_file.h"

namespace qv {

#ifndef _WIN32
// A full disk while it lives: no file of this process grows beyond `bytes`; a write that would
// cross the limit writes up to it, the next fails with EFBIG ("File too large"), not SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, handler_);
    }

private:
    void (*handler_)(int);
    rlimit previous_{};
};
#endif

// A folder of its own for the running test, removed at the end; ctest runs tests in parallel
// processes, so the name carries the process id and the test's name.
class TestFolder {
public:
    TestFolder() {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("quorvelle_" + std::string(test->test_suite_name()) + "_" + test->name() + "_" +
                 std::to_string(getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TestFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    std::string Path(const std::string& name) const { return (path_ / name).string(); }
    std::string Dir() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// A fresh empty folder that is the current directory for the test's life.
class InScratchDirectory : public testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    TestFolder folder_;
    const std::filesystem::path dir_ = folder_.Dir();
    std::filesystem::path previous_;
};

// Makes `path` (a new folder) the current directory and removes it, so nothing can be created
// in the current directory.
inline void EnterRemovedFolder(const std::string& path) {
    std::filesystem::create_directories(path);
    std::filesystem::current_path(path);
    std::filesystem::remove(path);
}

inline std::vector<Frame> ReadWavFile(const std::string& path) {
    WavReader reader;
    std::string error;
    std::vector<Frame> frames;
    if (!OpenWavReader(reader, path, error)) {
        ADD_FAILURE() << error;
        return frames;
    }
    frames.resize(static_cast<size_t>(WavFrameCount(reader)));
    const long long n = ReadWavFrames(reader, frames.data(), WavFrameCount(reader), error);
    if (n < 0) ADD_FAILURE() << error;
    frames.resize(static_cast<size_t>(std::max(0LL, n)));
    return frames;
}

inline void WriteWavFile(const std::string& path, const std::vector<Frame>& frames) {
    WavWriter writer;
    std::string error;
    ASSERT_TRUE(OpenWavWriter(writer, path, error)) << error;
    ASSERT_TRUE(WriteWavFrames(writer, frames.data(), frames.size(), error)) << error;
    ASSERT_TRUE(CloseWavWriter(writer, error)) << error;
}

inline bool SameFrames(const std::vector<Frame>& a, const std::vector<Frame>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].Rf != b[i].Rf || a[i].Pps != b[i].Pps) return false;
    }
    return true;
}

inline std::vector<std::string> TextLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A whole file's bytes; empty when it cannot be read.
inline std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The records after an I/Q text's header, each without its CR LF; ADD_FAILURE for a text
// without the header, a record cut short or a line that is no record.
inline std::vector<std::string> IqTextRecords(const std::string& text) {
    std::vector<std::string> records;
    if (text.compare(0, IqTextHeader().size(), IqTextHeader()) != 0) {
        ADD_FAILURE() << "no header: " << text;
        return records;
    }
    const std::regex record(R"(\d\d:\d\d:\d\d,-?\d*\.\d{7},-?\d*\.\d{7})");
    for (size_t at = IqTextHeader().size(); at < text.size();) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a record cut short: " << text.substr(at);
            break;
        }
        records.push_back(text.substr(at, end - at));
        EXPECT_TRUE(std::regex_match(records.back(), record)) << records.back();
        at = end + 2;
    }
    return records;
}

inline void WriteText(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace qv
