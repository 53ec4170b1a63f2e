// Capture engine: start, the capture loop on the audio thread, block hand-over and End.
#include "capture/capture_engine.h"

#include <time.h>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "dsp/rate_converter.h"

namespace qv {

// The one way into an engine's shared part.
struct CaptureInternals {
    static CaptureEngine::Shared& Of(CaptureEngine& e) { return e.shared_; }
    static const CaptureEngine::Shared& Of(const CaptureEngine& e) { return e.shared_; }
};

namespace {

using Shared = CaptureEngine::Shared;

Shared& SharedOf(CaptureEngine& e) { return CaptureInternals::Of(e); }
const Shared& SharedOf(const CaptureEngine& e) { return CaptureInternals::Of(e); }

class CallocAllocator final : public BlockAllocator {
public:
    void* Allocate(size_t bytes) override { return std::calloc(1, bytes); }
    void Free(void* data) override { std::free(data); }
};

int64_t Nanoseconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Closes and drops the source on the audio thread, where it was opened.
void CloseSource(CaptureEngine& e) {
    Shared& s = SharedOf(e);
    if (s.Source == nullptr) return;
    e.Audio.Run([&s] {
        s.Source->Close();
        s.Source.reset();
    });
}

// The capture loop, run on the audio thread from Start until End (or the source's end).
void CaptureLoop(Shared& s) {
    const int64_t cpuStart = Nanoseconds(CLOCK_THREAD_CPUTIME_ID);
    const int64_t wallStart = Nanoseconds(CLOCK_MONOTONIC);
    Frame* const scratch = s.Scratch.data();  // takes frames that arrive while every block is out
    CaptureBlock* block = nullptr;            // the free block being filled, if there is one
    int64_t position = 0;                     // [frames] stream index of the next frame
    int64_t pendingDrop = 0;                  // [frames] dropped since the last posted block
    int pendingOverflows = 0;
    int64_t pendingMissed = 0;  // [frames] the device never delivered
    std::string error;
    for (;;) {
        if (s.StopRequested.load(std::memory_order_acquire)) break;
        if (block == nullptr) s.FreeBlocks.Pop(block);
        bool overflowed = false;
        const int n = s.Source->ReadBlock(block != nullptr ? block->Data : scratch, s.StopRequested,
                                          overflowed, error);
        if (overflowed) {
            ++pendingOverflows;
            s.Overflows.fetch_add(1, std::memory_order_relaxed);
        }
        if (n <= 0) {
            if (s.StopRequested.load(std::memory_order_acquire)) break;
            s.StopReason = n < 0 ? error : "the source has ended";
            s.SourceState.store(n < 0 ? SourceEnd::Failed : SourceEnd::Ended);
            s.Notifier->CaptureStopped();
            break;
        }
        assert(n <= s.BlockFrames);
        // Frames a device that was gone never delivered come before the ones just read.
        const int64_t missed = s.Source->TakeFramesMissed();
        if (missed > 0) {
            pendingMissed += missed;
            position += missed;
            s.FramesMissed.fetch_add(missed, std::memory_order_relaxed);
        }
        s.FramesCaptured.fetch_add(n, std::memory_order_relaxed);
        // A block handed back while the source was waiting still takes these frames; they
        // are dropped only if every block is still out now that they have arrived.
        if (block == nullptr && s.FreeBlocks.Pop(block)) {
            std::memcpy(block->Data, scratch, static_cast<size_t>(n) * sizeof(Frame));
        }
        if (block == nullptr) {
            pendingDrop += n;
            position += n;
            s.FramesDropped.fetch_add(n, std::memory_order_relaxed);
            continue;
        }
        block->BytesRecorded = n * static_cast<int>(sizeof(Frame));
        block->FirstFrame = position;
        block->DroppedBefore = pendingDrop;
        block->OverflowsBefore = pendingOverflows;
        block->MissedBefore = pendingMissed;
        position += n;
        pendingDrop = 0;
        pendingOverflows = 0;
        pendingMissed = 0;
        block->PostedNanoseconds = Nanoseconds(CLOCK_MONOTONIC);
        s.Notifier->BlockFilled(block);
        block = nullptr;
    }
    s.AudioCpuNanoseconds.store(Nanoseconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart);
    s.AudioWallNanoseconds.store(Nanoseconds(CLOCK_MONOTONIC) - wallStart);
}

// ---------------------------------------------------------------------------------------------
// The steps of Start and End

// Returns every block's data to the allocator. The headers stay.
void FreeCaptureBlocks(CaptureEngine& e) {
    Shared& s = SharedOf(e);
    assert(e.State != CaptureState::Recording || s.Source == nullptr);
    for (int i = 1; i <= kCaptureBlockCount; ++i) {
        CaptureBlock& header = s.WaveHeaders[i];
        if (header.Data != nullptr) e.Allocator->Free(header.Data);
        header.Data = nullptr;
    }
}

bool OpenCaptureDevice(CaptureEngine& e, std::unique_ptr<BlockSource> source,
                       CaptureNotifier& notifier, std::string& message) {
    if (e.State != CaptureState::Idle) {
        message = kCaptureAlreadyStarted;
        return false;
    }
    Shared& s = SharedOf(e);
    s.Source = std::move(source);
    s.Notifier = &notifier;
    bool opened = false;
    std::string reason;
    int rate = 0;
    e.Audio.Run([&] {
        opened = s.Source->Open(reason);
        if (opened) rate = s.Source->FramesPerSecond();
    });
    if (!opened) {
        CloseSource(e);
        message = kNoSuitableDevice;
        e.ErrorDetail = reason;
        return false;
    }
    if (!IsInputRate(rate)) {
        CloseSource(e);
        message = kUnusableRate;
        e.ErrorDetail =
            "it delivers " + DescribeRate(rate) + "; the rates measured are " + InputRatesText();
        return false;
    }
    s.Rate = rate;
    s.BlockFrames = BlockFramesAt(rate);
    e.State = CaptureState::DeviceOpen;
    return true;
}

bool AllocateCaptureBlocks(CaptureEngine& e, std::string& message) {
    assert(e.State == CaptureState::DeviceOpen);
    FreeCaptureBlocks(e);
    Shared& s = SharedOf(e);
    s.WaveHeaders.fill(CaptureBlock{});
    // The consumer's copy and the audio thread's scratch block, before the flow starts: the
    // audio side never allocates.
    s.Copy.assign(static_cast<size_t>(std::max(s.BlockFrames, kBlockFramesEntries)), Frame{});
    s.Scratch.assign(static_cast<size_t>(s.BlockFrames), Frame{});
    const int bytes = s.BlockFrames * static_cast<int>(sizeof(Frame));
    for (int i = 1; i <= kCaptureBlockCount; ++i) {
        CaptureBlock& header = s.WaveHeaders[i];
        header.Number = i;
        header.Data = static_cast<Frame*>(e.Allocator->Allocate(static_cast<size_t>(bytes)));
        if (header.Data == nullptr) {
            message = kCantAllocBuffers;
            e.ErrorDetail = "block " + std::to_string(i) + " of " +
                            std::to_string(kCaptureBlockCount) + ": out of memory";
            return false;
        }
        header.BufferLength = bytes;
    }
    return true;
}

bool QueueCaptureBlocks(CaptureEngine& e, std::string& message) {
    assert(e.State == CaptureState::DeviceOpen);
    Shared& s = SharedOf(e);
    for (int i = 1; i <= kCaptureBlockCount; ++i) {
        CaptureBlock* block = &s.WaveHeaders[i];
        if (block->Data == nullptr || !s.FreeBlocks.Push(block)) {
            message = "capture block " + std::to_string(i) + " cannot be queued";
            return false;
        }
    }
    return true;
}

bool StartCaptureDevice(CaptureEngine& e, std::string& message) {
    assert(e.State == CaptureState::DeviceOpen);
    Shared& s = SharedOf(e);
    bool started = false;
    e.Audio.Run([&] { started = s.Source->Start(message); });
    if (!started) return false;
    e.State = CaptureState::Recording;
    e.Audio.Post([&s] { CaptureLoop(s); });
    return true;
}

// A failed start ends the capture; the device and the blocks are released at once rather than
// left to the end of the process.
bool FailStart(CaptureEngine& e) {
    CloseSource(e);
    FreeCaptureBlocks(e);
    e.State = CaptureState::Ended;
    return false;
}

}  // namespace

BlockAllocator& HeapAllocator() {
    static CallocAllocator heap;
    return heap;
}

CaptureEngine::~CaptureEngine() {
    if (State == CaptureState::DeviceOpen || State == CaptureState::Recording) EndCapture(*this);
}

bool StartCapture(CaptureEngine& e, std::unique_ptr<BlockSource> source, CaptureNotifier& notifier,
                  std::string& message) {
    e.ErrorDetail.clear();
    if (!OpenCaptureDevice(e, std::move(source), notifier, message)) {
        // A second Start leaves the running capture alone; a failed open ends the capture.
        if (e.State == CaptureState::Idle) e.State = CaptureState::Ended;
        return false;
    }
    if (!AllocateCaptureBlocks(e, message)) return FailStart(e);
    if (!QueueCaptureBlocks(e, message)) return FailStart(e);
    if (!StartCaptureDevice(e, message)) return FailStart(e);
    return true;
}

void EndCapture(CaptureEngine& e) {
    if (e.State == CaptureState::DeviceOpen || e.State == CaptureState::Recording) {
        SharedOf(e).StopRequested.store(true, std::memory_order_release);
        // Runs after the capture loop has returned: jobs run one after the other.
        CloseSource(e);
        FreeCaptureBlocks(e);
    }
    e.State = CaptureState::Ended;
}

bool HandleCaptureBlock(CaptureEngine& e, CaptureBlock* block, CaptureConsumer& consumer,
                        std::string& error) {
    if (e.State != CaptureState::Recording || block == nullptr) return true;
    Shared& s = SharedOf(e);
    // Only the engine's own headers can be handed back; anything else would corrupt the ring.
    const bool ours = block >= &s.WaveHeaders[1] && block <= &s.WaveHeaders[kCaptureBlockCount];
    if (!ours || block->Data == nullptr) {
        error = "A capture block that does not belong to the sound input cannot be handed back";
        return false;
    }
    std::memcpy(s.Copy.data(), block->Data, static_cast<size_t>(block->BufferLength));
    const int count = block->BytesRecorded / static_cast<int>(sizeof(Frame));
    if (block->MissedBefore != 0) {
        consumer.DeviceGap(block->FirstFrame - block->DroppedBefore - block->MissedBefore,
                           block->MissedBefore);
    }
    if (block->DroppedBefore != 0 || block->OverflowsBefore != 0) {
        consumer.CaptureGap(block->FirstFrame - block->DroppedBefore, block->DroppedBefore,
                            block->OverflowsBefore);
    }
    if (count > 0) consumer.CaptureFrames(s.Copy.data(), count);
    // The ring holds all 128 blocks, so only a block handed back twice can find it full.
    if (!s.FreeBlocks.Push(block)) {
        error = "Capture block " + std::to_string(block->Number) +
                " was handed back twice to the sound input";
        return false;
    }
    return true;
}

void HandleCaptureBlock(CaptureEngine& e, CaptureBlock* block, CaptureConsumer& consumer) {
    std::string error;
    const bool handedBack = HandleCaptureBlock(e, block, consumer, error);
    assert(handedBack);
    (void)handedBack;
}

int64_t CaptureClockNanoseconds() { return Nanoseconds(CLOCK_MONOTONIC); }

int64_t ElapsedClockNanoseconds() {
#ifdef CLOCK_BOOTTIME
    return Nanoseconds(CLOCK_BOOTTIME);
#else
    return Nanoseconds(CLOCK_MONOTONIC);
#endif
}

int64_t LookForClockStep(ClockStepWatch& w, int64_t systemMilliseconds,
                         int64_t elapsedMilliseconds) {
    const int64_t offset = systemMilliseconds - elapsedMilliseconds;
    const int64_t step = w.Started ? offset - w.Offset : 0;
    w.Started = true;
    w.Offset = offset;
    return std::abs(step) > kClockStepLimit ? step : 0;
}

std::string DescribeClockStep(int64_t stepMilliseconds) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "the system clock stepped %.1f s %s: the times of day from here on are the new "
                  "clock's",
                  static_cast<double>(std::abs(stepMilliseconds)) / 1000,
                  stepMilliseconds > 0 ? "forward" : "back");
    return text;
}

CaptureStatistics ReadCaptureStatistics(const CaptureEngine& e) {
    const Shared& shared = SharedOf(e);
    CaptureStatistics s;
    s.FramesPerSecond = shared.Rate;
    s.FramesCaptured = shared.FramesCaptured.load();
    s.FramesDropped = shared.FramesDropped.load();
    s.Overflows = shared.Overflows.load();
    s.FramesMissed = shared.FramesMissed.load();
    s.AudioThreadCpuSeconds = static_cast<double>(shared.AudioCpuNanoseconds.load()) * 1e-9;
    s.CaptureSeconds = static_cast<double>(shared.AudioWallNanoseconds.load()) * 1e-9;
    return s;
}

int CaptureFramesPerSecond(const CaptureEngine& e) { return SharedOf(e).Rate; }

size_t FreeCaptureBlockCount(const CaptureEngine& e) { return SharedOf(e).FreeBlocks.Size(); }

SourceEnd CaptureSourceEnd(const CaptureEngine& e) { return SharedOf(e).SourceState.load(); }

std::string CaptureStopReason(const CaptureEngine& e) { return SharedOf(e).StopReason; }

std::string DescribeCaptureGap(int64_t atFrame, int64_t droppedFrames, int overflows) {
    std::string text;
    if (droppedFrames > 0) {
        text = std::to_string(droppedFrames) + " frames dropped at frame " +
               std::to_string(atFrame) +
               " of the capture: the processing fell more than 2.048 s behind";
    }
    if (overflows > 0) {
        if (!text.empty()) text += "; ";
        text += std::to_string(overflows) + " input overflow(s) before frame " +
                std::to_string(atFrame + droppedFrames) + ": the device lost frames";
    }
    return text;
}

std::string DescribeRate(int framesPerSecond) {
    return std::to_string(framesPerSecond) + " frames per second";
}

void BlockQueue::BlockFilled(CaptureBlock* block) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        assert(count_ < blocks_.size());
        blocks_[(first_ + count_) % blocks_.size()] = block;
        ++count_;
    }
    posted_.notify_one();
}

void BlockQueue::CaptureStopped() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    posted_.notify_one();
}

BlockQueue::Wait BlockQueue::Next(CaptureBlock*& block, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!posted_.wait_for(lock, timeout, [this] { return count_ > 0 || stopped_; })) {
        return Wait::TimedOut;
    }
    if (count_ == 0) return Wait::Stopped;
    block = blocks_[first_];
    first_ = (first_ + 1) % blocks_.size();
    --count_;
    return Wait::Block;
}

}  // namespace qv
