// Capture engine: start failures and their messages, the block cycle (full, contiguous, in
// order, on one audio thread), drops and overflows when the consumer stalls, End.
#include "capture/capture_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "tests/capture_fakes.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 10s;  // far beyond any wait that works; only a broken engine hits it

struct Rig {
    std::shared_ptr<SourceProbe> Probe = std::make_shared<SourceProbe>();
    std::unique_ptr<CountingSource> Source = std::make_unique<CountingSource>(Probe);
    FakeAllocator Allocator;
    BlockQueue Queue;
    CaptureEngine Engine;
    std::string Message;

    explicit Rig(int rate = kFramesPerSecond) {
        Engine.Allocator = &Allocator;
        Source->rate = rate;
    }

    bool Start() { return StartCapture(Engine, std::move(Source), Queue, Message); }

    // Handles posted blocks until the source stops; returns the block numbers in order.
    std::vector<int> Drain(CollectingConsumer& consumer, std::vector<CaptureBlock>* copies) {
        std::vector<int> numbers;
        const auto giveUp = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < giveUp) {
            CaptureBlock* block = nullptr;
            const BlockQueue::Wait wait = Queue.Next(block, 100ms);
            if (wait == BlockQueue::Wait::Stopped) return numbers;
            if (wait != BlockQueue::Wait::Block) continue;
            numbers.push_back(block->Number);
            if (copies != nullptr) copies->push_back(*block);
            HandleCaptureBlock(Engine, block, consumer);
        }
        ADD_FAILURE() << "the source never stopped";
        return numbers;
    }
};

void ExpectCountingStream(const std::vector<Frame>& frames, int64_t first) {
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(CountOfFrame(frames[i]), first + static_cast<int64_t>(i)) << "frame " << i;
    }
}

// ---------------------------------------------------------------------------------------------
// Start and End

TEST(CaptureStart, OpenFailureIsNoSuitableDeviceWithTheReasonAndNothingAllocated) {
    Rig rig;
    rig.Source->openFailure = "Invalid sample rate";
    EXPECT_FALSE(rig.Start());
    EXPECT_EQ(rig.Message, "No suitable device found");
    EXPECT_EQ(rig.Engine.ErrorDetail, "Invalid sample rate");
    EXPECT_EQ(rig.Allocator.allocations, 0);
    EXPECT_EQ(rig.Probe->Closes, 1);  // whatever Open did is undone at once
    EXPECT_EQ(rig.Engine.State, CaptureState::Ended);

    // A source open at a rate the chain cannot take is refused the same way, saying why.
    Rig odd(12345);
    EXPECT_FALSE(odd.Start());
    EXPECT_EQ(odd.Message, kUnusableRate);
    EXPECT_EQ(odd.Engine.ErrorDetail,
              "it delivers 12345 frames per second; the rates measured are 8000, 11025, 16000, "
              "22050, 32000, 44100, 48000, 88200, 96000, 176400 or 192000");
    EXPECT_EQ(odd.Allocator.allocations, 0);
    EXPECT_EQ(odd.Probe->Closes, 1);
    EXPECT_EQ(CaptureFramesPerSecond(odd.Engine), 0);
}

TEST(CaptureStart, AllocationFailureAtBlock57StopsThereAndReleasesTheRest) {
    Rig rig;
    rig.Allocator.failAt = 57;
    EXPECT_FALSE(rig.Start());
    EXPECT_EQ(rig.Message, "Can\u00B4t alloc Buffers");
    EXPECT_EQ(rig.Message, "Can\xC2\xB4t alloc Buffers");  // the acute accent, in UTF-8
    EXPECT_EQ(rig.Allocator.allocations, 57);              // blocks 58..128 never requested
    EXPECT_EQ(rig.Allocator.frees, 56);
    EXPECT_EQ(rig.Probe->Starts, 0);
    EXPECT_EQ(rig.Probe->Closes, 1);
    EXPECT_EQ(rig.Engine.State, CaptureState::Ended);  // nothing left for End to release
}

TEST(CaptureStart, StartFailureShowsTheSourceTextAndFreesEveryBlock) {
    Rig rig;
    rig.Source->startFailure = "Device unavailable";
    EXPECT_FALSE(rig.Start());
    EXPECT_EQ(rig.Message, "Device unavailable");
    EXPECT_EQ(rig.Allocator.allocations, 128);
    EXPECT_EQ(rig.Allocator.frees, 128);
    EXPECT_EQ(rig.Probe->Closes, 1);
}

TEST(CaptureStart, EndBeforeStartOnlyEndsAndCaptureRunsOncePerRun) {
    Rig rig;
    EndCapture(rig.Engine);
    EXPECT_EQ(rig.Engine.State, CaptureState::Ended);
    EXPECT_FALSE(rig.Start());
    EXPECT_EQ(rig.Message, kCaptureAlreadyStarted);
    EXPECT_EQ(rig.Probe->Opens, 0);
    EXPECT_EQ(rig.Allocator.allocations, 0);
}

TEST(CaptureStart, StartTwiceIsRefusedAndTheRunningCaptureGoesOn) {
    Rig rig;
    ASSERT_TRUE(rig.Start()) << rig.Message;
    auto secondProbe = std::make_shared<SourceProbe>();
    std::string message;
    EXPECT_FALSE(StartCapture(rig.Engine, std::make_unique<CountingSource>(secondProbe), rig.Queue,
                              message));
    EXPECT_EQ(message, kCaptureAlreadyStarted);
    EXPECT_EQ(secondProbe->Opens, 0);
    EXPECT_EQ(rig.Engine.State, CaptureState::Recording);
    CaptureBlock* block = nullptr;
    EXPECT_EQ(rig.Queue.Next(block, kPatience), BlockQueue::Wait::Block);
    EndCapture(rig.Engine);
    EXPECT_EQ(rig.Probe->Closes, 1);
    EXPECT_EQ(rig.Allocator.frees, 128);
}

// ---------------------------------------------------------------------------------------------
// The block cycle

// At 8000 frames per second and at two card rates: blocks of 16 ms at the source's rate.
constexpr int kTestRates[] = {8000, 44100, 192000};

TEST(CaptureBlocks, FullContiguousInQueueOrderAndEverySourceCallOnTheAudioThread) {
    for (const int rate : kTestRates) {
        SCOPED_TRACE(rate);
        Rig rig(rate);
        const int blockFrames = BlockFramesAt(rate);  // 128, 706, 3072
        constexpr int64_t kBlocks = 3 * kCaptureBlockCount + 5;
        rig.Source->totalFrames = kBlocks * blockFrames + 37;  // a short last block
        // The source waits for a free block as a sound card with a large buffer would, so that
        // nothing is dropped however slowly the test thread runs.
        CaptureEngine& engine = rig.Engine;
        rig.Source->beforeBlock = [&engine](int64_t, const std::atomic<bool>& stop) {
            while (FreeCaptureBlockCount(engine) == 0 && !stop) std::this_thread::sleep_for(50us);
        };
        ASSERT_TRUE(rig.Start()) << rig.Message;
        CollectingConsumer consumer;
        std::vector<CaptureBlock> blocks;
        const std::vector<int> numbers = rig.Drain(consumer, &blocks);
        EndCapture(rig.Engine);

        ASSERT_EQ(numbers.size(), static_cast<size_t>(kBlocks + 1));
        for (size_t i = 0; i < numbers.size(); ++i) {
            EXPECT_EQ(numbers[i], static_cast<int>(i % kCaptureBlockCount) + 1) << "block " << i;
            EXPECT_EQ(blocks[i].FirstFrame, static_cast<int64_t>(i) * blockFrames);
            EXPECT_EQ(blocks[i].BytesRecorded, i + 1 < numbers.size() ? blockFrames * 4 : 37 * 4);
            EXPECT_EQ(blocks[i].BufferLength, blockFrames * 4);
        }
        EXPECT_TRUE(consumer.gaps.empty());
        ExpectCountingStream(consumer.frames, 0);
        EXPECT_EQ(consumer.frames.size(), static_cast<size_t>(kBlocks * blockFrames + 37));

        const CaptureStatistics stats = ReadCaptureStatistics(rig.Engine);
        EXPECT_EQ(stats.FramesCaptured, kBlocks * blockFrames + 37);
        EXPECT_EQ(stats.FramesDropped, 0);
        EXPECT_EQ(stats.FramesPerSecond, rate);
        EXPECT_EQ(CaptureFramesPerSecond(rig.Engine), rate);
        EXPECT_EQ(CaptureSourceEnd(rig.Engine), SourceEnd::Ended);

        ASSERT_EQ(rig.Probe->Threads.size(), 1u);
        EXPECT_NE(*rig.Probe->Threads.begin(), std::this_thread::get_id());
        EXPECT_EQ(rig.Probe->Closes, 1);
    }
}

TEST(CaptureBlocks, StalledConsumerDropsAreCountedAndReportedWhereTheyHappened) {
    for (const int rate : kTestRates) {
        SCOPED_TRACE(rate);
        Rig rig(rate);
        const int blockFrames = BlockFramesAt(rate);  // drops count the source's own frames
        constexpr int64_t kExtra = 50;  // blocks the device delivers while all 128 are out
        std::binary_semaphore resume(0);
        SourceProbe& probe = *rig.Probe;
        rig.Source->totalFrames = (kCaptureBlockCount + kExtra + 10) * blockFrames;
        rig.Source->overflowBlocks = {kCaptureBlockCount + kExtra + 3};
        rig.Source->beforeBlock = [&](int64_t index, const std::atomic<bool>& stop) {
            if (index != kCaptureBlockCount + kExtra) return;
            while (!stop && !resume.try_acquire_for(10ms)) {
            }
        };
        ASSERT_TRUE(rig.Start()) << rig.Message;

        // Stall: take nothing until the device has delivered 178 blocks.
        const auto giveUp = std::chrono::steady_clock::now() + kPatience;
        while (probe.BlocksRead < kCaptureBlockCount + kExtra &&
               std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_EQ(probe.BlocksRead, kCaptureBlockCount + kExtra);
        CollectingConsumer consumer;
        for (int i = 0; i < kCaptureBlockCount; ++i) {
            CaptureBlock* block = nullptr;
            ASSERT_EQ(rig.Queue.Next(block, kPatience), BlockQueue::Wait::Block);
            HandleCaptureBlock(rig.Engine, block, consumer);
        }
        // The held blocks were not touched while the frames after them were dropped.
        ExpectCountingStream(consumer.frames, 0);
        EXPECT_TRUE(consumer.gaps.empty());
        EXPECT_EQ(ReadCaptureStatistics(rig.Engine).FramesDropped, kExtra * blockFrames);

        resume.release();
        consumer.frames.clear();
        rig.Drain(consumer, nullptr);
        EndCapture(rig.Engine);

        ASSERT_EQ(consumer.gaps.size(), 2u);
        EXPECT_EQ(consumer.gaps[0].AtFrame, kCaptureBlockCount * blockFrames);
        EXPECT_EQ(consumer.gaps[0].DroppedFrames, kExtra * blockFrames);
        EXPECT_EQ(consumer.gaps[0].Overflows, 0);
        EXPECT_EQ(consumer.gaps[1].AtFrame, (kCaptureBlockCount + kExtra + 3) * blockFrames);
        EXPECT_EQ(consumer.gaps[1].DroppedFrames, 0);
        EXPECT_EQ(consumer.gaps[1].Overflows, 1);
        // After the hole the stream goes on where the device is, not where the consumer was.
        ExpectCountingStream(consumer.frames, (kCaptureBlockCount + kExtra) * blockFrames);
        EXPECT_EQ(consumer.frames.size(), 10u * static_cast<size_t>(blockFrames));
        EXPECT_EQ(ReadCaptureStatistics(rig.Engine).Overflows, 1);
    }
}

TEST(CaptureBlocks, BlocksStillQueuedAtEndReachNoConsumer) {
    Rig rig;
    ASSERT_TRUE(rig.Start()) << rig.Message;
    CaptureBlock* block = nullptr;
    ASSERT_EQ(rig.Queue.Next(block, kPatience), BlockQueue::Wait::Block);
    EndCapture(rig.Engine);
    CollectingConsumer consumer;
    HandleCaptureBlock(rig.Engine, block, consumer);
    EXPECT_TRUE(consumer.counts.empty());
    EXPECT_EQ(rig.Allocator.frees, 128);
    EXPECT_GT(ReadCaptureStatistics(rig.Engine).CaptureSeconds, 0);
}

// The system clock against the elapsed clock: slewing and jitter below a second pass, a step is
// said once with its size and direction, and the clock after it is the new reference.
TEST(ClockStep, AStepBeyondASecondIsSaidOnceAndTheClockAfterItIsTheReference) {
    ClockStepWatch w;
    const int64_t wall = 1'800'000'000'000;  // [ms] some day in 2027
    EXPECT_EQ(LookForClockStep(w, wall, 5'000), 0) << "the first look has nothing to compare";
    EXPECT_EQ(LookForClockStep(w, wall + 1'000 + 999, 6'000), 0) << "999 ms is no step";
    EXPECT_EQ(LookForClockStep(w, wall + 4'500, 7'000), 1'501);
    EXPECT_EQ(LookForClockStep(w, wall + 5'500, 8'000), 0) << "stepped once, not again";
    EXPECT_EQ(LookForClockStep(w, wall + 3'000, 9'000), -3'500);
    EXPECT_EQ(DescribeClockStep(1'501),
              "the system clock stepped 1.5 s forward: the times of day from here on are the "
              "new clock's");
    EXPECT_EQ(DescribeClockStep(-3'500).substr(0, 35), "the system clock stepped 3.5 s back");
}

}  // namespace

}  // namespace qv
