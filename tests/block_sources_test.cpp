// The stand-in sources: the simulator and WAV playback deliver the blocks a sound card would,
// at the pace it would, through the same engine.
#include "capture/block_sources.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/capture_fakes.h"
#include "tests/simulated_frames.h"
#include "tests/test_files.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

// Runs `source` through an engine until it ends; the frames and the block sizes it delivered.
CollectingConsumer Capture(std::unique_ptr<BlockSource> source, std::string& message) {
    BlockQueue queue;
    CaptureEngine engine;
    CollectingConsumer consumer;
    if (!StartCapture(engine, std::move(source), queue, message)) return consumer;
    CaptureBlock* block = nullptr;
    const auto giveUp = std::chrono::steady_clock::now() + 60s;
    for (BlockQueue::Wait w; (w = queue.Next(block, 100ms)) != BlockQueue::Wait::Stopped;) {
        if (w == BlockQueue::Wait::Block) HandleCaptureBlock(engine, block, consumer);
        if (std::chrono::steady_clock::now() > giveUp) {
            ADD_FAILURE() << "the source never ended";
            break;
        }
    }
    EndCapture(engine);
    EXPECT_EQ(ReadCaptureStatistics(engine).FramesDropped, 0);
    return consumer;
}

TEST(BlockSources, WavPlaybackDeliversTheFileInWholeBlocksThenEnds) {
    TestFolder folder;
    const std::string path = folder.Path("play.wav");
    std::vector<Frame> frames(5 * kFramesPerBlock + 44);
    for (size_t k = 0; k < frames.size(); ++k) frames[k] = CountingFrame(static_cast<int64_t>(k));
    WriteWavFile(path, frames);
    std::string message;
    const CollectingConsumer got =
        Capture(std::make_unique<WavPlaybackSource>(path, 20.0), message);
    EXPECT_TRUE(SameFrames(got.frames, frames));
    EXPECT_EQ(got.counts, (std::vector<int>{128, 128, 128, 128, 128, 44}));
}

TEST(BlockSources, SimulatorDeliversItsStreamAtRealTimePace) {
    SimulatorSettings settings;
    settings.Ppm = 30;
    const int64_t total = 4000 + 17;  // half a second and a short last block
    std::string message;
    const auto start = std::chrono::steady_clock::now();
    const CollectingConsumer got =
        Capture(std::make_unique<SimulatorSource>(settings, total), message);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_TRUE(SameFrames(got.frames, Simulate(settings, total)));
    EXPECT_EQ(got.counts.size(), 32u);
    EXPECT_EQ(got.counts.back(), 4017 - 31 * 128);
    // Paced: not before the last frame is due (a hang is caught by Capture's ceiling).
    EXPECT_GE(seconds, 0.5);
}

}  // namespace

}  // namespace qv
