// The recorder: frame-for-frame files, a header kept valid while recording, and frames that
// cannot be written reported instead of lost in silence.
#include "capture/recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "tests/capture_fakes.h"
#include "tests/test_files.h"

namespace qv {

namespace {

std::vector<Frame> Counting(int64_t first, int64_t count) {
    std::vector<Frame> frames(static_cast<size_t>(count));
    for (int64_t k = 0; k < count; ++k) frames[k] = CountingFrame(first + k);
    return frames;
}

TEST(Recorder, WritesEveryFrameUnchangedWhateverTheCallSizes) {
    TestFolder folder;
    const std::string path = folder.Path("rec.wav");
    const std::vector<Frame> frames = Counting(0, 70001);
    Recorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Open(path, error)) << error;
    size_t done = 0;
    for (int size : {128, 1, 127, 0, 4096, 37}) {
        recorder.Write(frames.data() + done, size);
        done += size;
    }
    while (done < frames.size()) {
        const int n = static_cast<int>(std::min<size_t>(128, frames.size() - done));
        recorder.Write(frames.data() + done, n);
        done += n;
    }
    ASSERT_TRUE(recorder.Close(error)) << error;
    EXPECT_TRUE(SameFrames(ReadWavFile(path), frames));
}

// The RIFF chunk's size field, which a plain WAV reader trusts, and the file's size.
std::pair<uint32_t, uintmax_t> RiffSizes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[8] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const uint32_t riff = head[4] | (head[5] << 8) | (head[6] << 16) | (uint32_t{head[7]} << 24);
    return {riff, std::filesystem::file_size(path)};
}

TEST(Recorder, HeaderIsRewrittenWhileRecordingSoAnAbortedRunLeavesAReadableFile) {
    TestFolder folder;
    const std::string path = folder.Path("live.wav");
    const std::vector<Frame> frames = Counting(0, 2 * kFramesPerSecond);
    Recorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Open(path, error)) << error;
    recorder.Write(frames.data(), static_cast<int>(frames.size()));
    // The writer rewrites the header about once a second; give it three chances.
    bool complete = false;
    for (int attempt = 0; attempt < 30 && !complete; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto [riff, size] = RiffSizes(path);
        complete = size >= frames.size() * sizeof(Frame) && riff == size - 8;
    }
    EXPECT_TRUE(complete) << "the header still describes an empty file";
    EXPECT_TRUE(SameFrames(ReadWavFile(path), frames));
    ASSERT_TRUE(recorder.Close(error)) << error;
}

TEST(Recorder, FramesThatFindTheRingFullAreCountedAndReported) {
    TestFolder folder;
    const std::string path = folder.Path("slow.wav");
    Recorder recorder(1024);
    std::string error;
    ASSERT_TRUE(recorder.Open(path, error)) << error;
    const std::vector<Frame> frames = Counting(0, 3000);
    EXPECT_EQ(recorder.Problem(), "");
    recorder.Write(frames.data(), 3000);  // more than the ring holds, in one go
    EXPECT_EQ(recorder.FramesLost(), 3000 - 1024);
    // Seen at once on the consumer's side, while the recording goes on.
    EXPECT_EQ(recorder.Problem(),
              path + ": frames are being lost from the recording: the disk cannot keep up");
    EXPECT_FALSE(recorder.Close(error));
    EXPECT_EQ(error, path +
                         ": 1976 frames are missing from the recording: the disk could not "
                         "keep up");
    EXPECT_TRUE(SameFrames(ReadWavFile(path), Counting(0, 1024)));
}

TEST(Recorder, FileThatCannotBeCreatedIsOneLine) {
    Recorder recorder;
    std::string error;
    EXPECT_FALSE(recorder.Open("/nonexistent-dir/rec.wav", error));
    EXPECT_EQ(error, "/nonexistent-dir/rec.wav: cannot create: No such file or directory");
    EXPECT_FALSE(recorder.IsOpen());
    EXPECT_TRUE(recorder.Close(error));
}

}  // namespace

}  // namespace qv
