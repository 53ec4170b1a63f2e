// A capture that outlives its sound card: the card stops delivering, is reopened by name until
// it is back, and the frames it missed reach the consumer as one gap before the next block; a
// card that never comes back (or comes back at another rate) ends the capture after the give-up
// time; the capture's end is seen while the card is gone.
#include "capture/reopening_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/capture_fakes.h"

namespace qv {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = 10s;  // far beyond any wait that works

// A counting card at real-time pace that fails (as an unplugged card does) once it has
// delivered `blocksBeforeLoss` blocks; -1: never.
class UnpluggedSource final : public BlockSource {
public:
    UnpluggedSource(std::shared_ptr<SourceProbe> probe, int rate, int64_t blocksBeforeLoss)
        : counting_(std::move(probe)), blocksBeforeLoss_(blocksBeforeLoss) {
        counting_.rate = rate;
        counting_.pacer.Speed = 1;
    }
    std::string openFailure;

    bool Open(std::string& error) override {
        if (!openFailure.empty()) return error = openFailure, false;
        return counting_.Open(error);
    }
    int FramesPerSecond() const override { return counting_.FramesPerSecond(); }
    bool Start(std::string& error) override { return counting_.Start(error); }
    int ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                  std::string& error) override {
        if (blocksBeforeLoss_ >= 0 && blocks_ == blocksBeforeLoss_) {
            error = "the card was unplugged";
            return -1;
        }
        ++blocks_;
        return counting_.ReadBlock(frames, stop, overflowed, error);
    }
    void Close() override { counting_.Close(); }

private:
    CountingSource counting_;
    int64_t blocksBeforeLoss_;
    int64_t blocks_ = 0;
};

// The engine on a card that is lost after 10 blocks; each attempt to reopen it takes the next
// of `attempts`: "absent" (not listed), "busy" (fails to open), a rate (it is back at that
// rate); past the last, it stays absent.
struct Rig {
    std::shared_ptr<SourceProbe> Probe = std::make_shared<SourceProbe>();
    std::shared_ptr<DeviceOutage> Outage = std::make_shared<DeviceOutage>();
    std::vector<std::string> Attempts;
    std::atomic<int> AttemptsMade{0};
    BlockQueue Queue;
    CaptureEngine Engine;
    CollectingConsumer Consumer;

    bool Start(double giveUpSeconds) {
        auto reopen = [this](int rate, std::string& error) -> std::unique_ptr<BlockSource> {
            const size_t k = static_cast<size_t>(AttemptsMade++);
            const std::string what = k < Attempts.size() ? Attempts[k] : "absent";
            if (what == "absent") {
                error = "\"Test card\" is not among the input devices";
                return nullptr;
            }
            EXPECT_EQ(rate, kFramesPerSecond) << "the card is asked for its first rate again";
            auto card = std::make_unique<UnpluggedSource>(
                Probe, what == "busy" ? kFramesPerSecond : std::stoi(what), -1);
            if (what == "busy") card->openFailure = "the card is busy";
            return card;
        };
        auto source = std::make_unique<ReopeningSource>(
            std::make_unique<UnpluggedSource>(Probe, kFramesPerSecond, 10), reopen, Outage);
        source->RetryInterval = 100ms;
        source->GiveUpSeconds = giveUpSeconds;
        std::string message;
        const bool started = StartCapture(Engine, std::move(source), Queue, message);
        EXPECT_TRUE(started) << message;
        return started;
    }

    // Handles blocks until `frames` frames have arrived or the source stops; true if they did.
    bool HandleUntil(size_t frames) {
        const auto giveUp = Clock::now() + kPatience;
        while (Consumer.frames.size() < frames && Clock::now() < giveUp) {
            CaptureBlock* block = nullptr;
            const BlockQueue::Wait wait = Queue.Next(block, 100ms);
            if (wait == BlockQueue::Wait::Stopped) return false;
            if (wait == BlockQueue::Wait::Block) HandleCaptureBlock(Engine, block, Consumer);
        }
        return Consumer.frames.size() >= frames;
    }
};

TEST(ReopeningSource, CardBackAfterTwoFailedAttemptsGoesOnWithOneGapOfTheTimeItWasGone) {
    Rig rig;
    rig.Attempts = {"absent", "busy", "8000"};
    const auto begun = Clock::now();
    ASSERT_TRUE(rig.Start(0));
    ASSERT_TRUE(rig.HandleUntil(20 * kFramesPerBlock));
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    EndCapture(rig.Engine);

    EXPECT_EQ(rig.AttemptsMade, 3);
    std::string reason;
    EXPECT_EQ(rig.Outage->Losses(reason), 1);
    EXPECT_EQ(reason, "the card was unplugged");
    // The frames before the loss, then the returned card's own count from 0.
    for (int k = 0; k < 20 * kFramesPerBlock; ++k) {
        const int expected = k < 10 * kFramesPerBlock ? k : k - 10 * kFramesPerBlock;
        ASSERT_EQ(CountOfFrame(rig.Consumer.frames[k]), expected) << "frame " << k;
    }
    ASSERT_EQ(rig.Consumer.gaps.size(), 1u);
    const CollectingConsumer::Gap gap = rig.Consumer.gaps[0];
    EXPECT_EQ(gap.AtFrame, 10 * kFramesPerBlock);
    EXPECT_EQ(gap.Overflows, 0);
    // Gone for two retry intervals at least; the whole run, paced in real time, bounds it, to
    // the frame that two roundings on two clocks (the source's boot-time clock, the test's
    // steady one) may differ by.
    EXPECT_GE(gap.DroppedFrames, 2 * 800 - kFramesPerBlock);
    EXPECT_LE(gap.DroppedFrames,
              std::llround(seconds * kFramesPerSecond) - 20 * kFramesPerBlock + 1);
    const CaptureStatistics stats = ReadCaptureStatistics(rig.Engine);
    EXPECT_EQ(stats.FramesMissed, gap.DroppedFrames);
    EXPECT_EQ(stats.FramesDropped, 0);
    // Every card opened was closed: the first, the busy one and the one back.
    EXPECT_EQ(rig.Probe->Closes, 3);
    EXPECT_EQ(rig.Probe->Threads.size(), 1u) << "every call on the audio thread";
}

// A card that never comes back, or comes back at another rate, ends the capture once it has
// been gone for the give-up time, with the last attempt's reason.
void ExpectGivesUp(std::vector<std::string> attempts, const std::string& lastReason) {
    SCOPED_TRACE(lastReason);
    Rig rig;
    rig.Attempts = std::move(attempts);
    ASSERT_TRUE(rig.Start(0.4));
    const auto begun = Clock::now();
    EXPECT_FALSE(rig.HandleUntil(1000 * kFramesPerBlock));
    EXPECT_LT(Clock::now() - begun, 3s);
    EXPECT_EQ(rig.Consumer.frames.size(), 10u * kFramesPerBlock);
    EXPECT_EQ(CaptureSourceEnd(rig.Engine), SourceEnd::Failed);
    EXPECT_EQ(CaptureStopReason(rig.Engine),
              "the device has not come back within 0.4 s; last: " + lastReason);
    EndCapture(rig.Engine);
    EXPECT_EQ(rig.Probe->Closes, rig.Probe->Opens);
}

TEST(ReopeningSource, CardThatDoesNotComeBackAtItsRateEndsTheCaptureAfterTheGiveUpTime) {
    ExpectGivesUp({}, "\"Test card\" is not among the input devices");
    ExpectGivesUp({"48000", "48000", "48000", "48000", "48000", "48000"},
                  "it is back at 48000 frames per second, not at 8000 frames per second");
}

TEST(ReopeningSource, EndWhileTheCardIsGoneIsPromptAndReportsNoFailure) {
    Rig rig;  // never back, never given up
    ASSERT_TRUE(rig.Start(0));
    ASSERT_TRUE(rig.HandleUntil(10 * kFramesPerBlock));
    const auto giveUp = Clock::now() + kPatience;
    std::string reason;
    while (rig.Outage->Losses(reason) == 0 && Clock::now() < giveUp)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(250ms);  // a few attempts
    const auto ending = Clock::now();
    EndCapture(rig.Engine);
    EXPECT_LT(Clock::now() - ending, 1s);
    EXPECT_EQ(CaptureSourceEnd(rig.Engine), SourceEnd::Running);
    EXPECT_GE(rig.AttemptsMade, 2);
}

}  // namespace

}  // namespace qv
