// Capture engine: start, the capture loop on the audio thread, block hand-over and End.
#include "capture/capture_engine.h"

#include <time.h>

#include <cassert>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace qv {

namespace {

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
    if (e.Source == nullptr) return;
    e.Audio.Run([&e] {
        e.Source->Close();
        e.Source.reset();
    });
}

// A failed start ends the capture; the device and the blocks are released at once rather than
// left to the end of the process.
bool FailStart(CaptureEngine& e) {
    CloseSource(e);
    FreeCaptureBlocks(e);
    e.State = CaptureState::Ended;
    return false;
}

// The capture loop, run on the audio thread from Start until End (or the source's end).
void CaptureLoop(CaptureEngine& e) {
    const int64_t cpuStart = Nanoseconds(CLOCK_THREAD_CPUTIME_ID);
    const int64_t wallStart = Nanoseconds(CLOCK_MONOTONIC);
    Frame scratch[kFramesPerBlock];  // receives the frames that arrive while every block is out
    CaptureBlock* block = nullptr;   // the free block being filled, if there is one
    int64_t position = 0;            // [frames] stream index of the next frame
    int64_t pendingDrop = 0;         // [frames] dropped since the last posted block
    int pendingOverflows = 0;
    std::string error;
    for (;;) {
        if (e.StopRequested.load(std::memory_order_acquire)) break;
        if (block == nullptr) e.FreeBlocks.Pop(block);
        bool overflowed = false;
        const int n = e.Source->ReadBlock(block != nullptr ? block->Data : scratch, e.StopRequested,
                                          overflowed, error);
        if (overflowed) {
            ++pendingOverflows;
            e.Overflows.fetch_add(1, std::memory_order_relaxed);
        }
        if (n <= 0) {
            if (e.StopRequested.load(std::memory_order_acquire)) break;
            e.StopReason = n < 0 ? error : "the source has ended";
            e.SourceState.store(n < 0 ? SourceEnd::Failed : SourceEnd::Ended);
            e.Notifier->CaptureStopped();
            break;
        }
        assert(n <= kFramesPerBlock);
        e.FramesCaptured.fetch_add(n, std::memory_order_relaxed);
        // A block handed back while the source was waiting still takes these frames; they
        // are dropped only if every block is still out now that they have arrived.
        if (block == nullptr && e.FreeBlocks.Pop(block)) {
            std::memcpy(block->Data, scratch, static_cast<size_t>(n) * sizeof(Frame));
        }
        if (block == nullptr) {
            pendingDrop += n;
            position += n;
            e.FramesDropped.fetch_add(n, std::memory_order_relaxed);
            continue;
        }
        block->BytesRecorded = n * static_cast<int>(sizeof(Frame));
        block->FirstFrame = position;
        block->DroppedBefore = pendingDrop;
        block->OverflowsBefore = pendingOverflows;
        position += n;
        pendingDrop = 0;
        pendingOverflows = 0;
        block->PostedNanoseconds = Nanoseconds(CLOCK_MONOTONIC);
        e.Notifier->BlockFilled(block);
        block = nullptr;
    }
    e.AudioCpuNanoseconds.store(Nanoseconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart);
    e.AudioWallNanoseconds.store(Nanoseconds(CLOCK_MONOTONIC) - wallStart);
}

}  // namespace

BlockAllocator& HeapAllocator() {
    static CallocAllocator heap;
    return heap;
}

CaptureEngine::~CaptureEngine() {
    if (State == CaptureState::DeviceOpen || State == CaptureState::Recording) EndCapture(*this);
}

bool OpenCaptureDevice(CaptureEngine& e, std::unique_ptr<BlockSource> source,
                       CaptureNotifier& notifier, std::string& message) {
    if (e.State != CaptureState::Idle) {
        message = kCaptureAlreadyStarted;
        return false;
    }
    e.Source = std::move(source);
    e.Notifier = &notifier;
    bool opened = false;
    std::string reason;
    e.Audio.Run([&] { opened = e.Source->Open(reason); });
    if (!opened) {
        CloseSource(e);
        message = kNoSuitableDevice;
        e.ErrorDetail = reason;
        return false;
    }
    e.State = CaptureState::DeviceOpen;
    return true;
}

bool AllocateCaptureBlocks(CaptureEngine& e, std::string& message) {
    assert(e.State == CaptureState::DeviceOpen);
    FreeCaptureBlocks(e);
    e.WaveHeaders.fill(CaptureBlock{});
    for (int i = 1; i <= kCaptureBlockCount; ++i) {
        CaptureBlock& header = e.WaveHeaders[i];
        header.Number = i;
        header.Data = static_cast<Frame*>(e.Allocator->Allocate(kCaptureBlockBytes));
        if (header.Data == nullptr) {
            message = kCantAllocBuffers;
            e.ErrorDetail = "block " + std::to_string(i) + " of " +
                            std::to_string(kCaptureBlockCount) + ": out of memory";
            return false;
        }
        header.BufferLength = kCaptureBlockBytes;
    }
    return true;
}

bool QueueCaptureBlocks(CaptureEngine& e, std::string& message) {
    assert(e.State == CaptureState::DeviceOpen);
    for (int i = 1; i <= kCaptureBlockCount; ++i) {
        CaptureBlock* block = &e.WaveHeaders[i];
        if (block->Data == nullptr || !e.FreeBlocks.Push(block)) {
            message = "capture block " + std::to_string(i) + " cannot be queued";
            return false;
        }
    }
    return true;
}

bool StartCaptureDevice(CaptureEngine& e, std::string& message) {
    assert(e.State == CaptureState::DeviceOpen);
    bool started = false;
    e.Audio.Run([&] { started = e.Source->Start(message); });
    if (!started) return false;
    e.State = CaptureState::Recording;
    e.Audio.Post([&e] { CaptureLoop(e); });
    return true;
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
        e.StopRequested.store(true, std::memory_order_release);
        // Runs after the capture loop has returned: jobs run one after the other.
        CloseSource(e);
        FreeCaptureBlocks(e);
    }
    e.State = CaptureState::Ended;
}

void FreeCaptureBlocks(CaptureEngine& e) {
    assert(e.State != CaptureState::Recording || e.Source == nullptr);
    for (int i = 1; i <= kCaptureBlockCount; ++i) {
        CaptureBlock& header = e.WaveHeaders[i];
        if (header.Data != nullptr) e.Allocator->Free(header.Data);
        header.Data = nullptr;
    }
}

bool HandleCaptureBlock(CaptureEngine& e, CaptureBlock* block, CaptureConsumer& consumer,
                        std::string& error) {
    if (e.State != CaptureState::Recording || block == nullptr) return true;
    // Only the engine's own headers can be handed back; anything else would corrupt the ring.
    const bool ours = block >= &e.WaveHeaders[1] && block <= &e.WaveHeaders[kCaptureBlockCount];
    if (!ours || block->Data == nullptr) {
        error = "A capture block that does not belong to the sound input cannot be handed back";
        return false;
    }
    std::memcpy(e.BlockFrames.data(), block->Data, kCaptureBlockBytes);
    const int count = block->BytesRecorded / static_cast<int>(sizeof(Frame));
    if (block->DroppedBefore != 0 || block->OverflowsBefore != 0) {
        consumer.CaptureGap(block->FirstFrame - block->DroppedBefore, block->DroppedBefore,
                            block->OverflowsBefore);
    }
    if (count > 0) consumer.CaptureFrames(e.BlockFrames.data(), count);
    // The ring holds all 128 blocks, so only a block handed back twice can find it full.
    if (!e.FreeBlocks.Push(block)) {
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

CaptureStatistics ReadCaptureStatistics(const CaptureEngine& e) {
    CaptureStatistics s;
    s.FramesCaptured = e.FramesCaptured.load();
    s.FramesDropped = e.FramesDropped.load();
    s.Overflows = e.Overflows.load();
    s.AudioThreadCpuSeconds = e.AudioCpuNanoseconds.load() * 1e-9;
    s.CaptureSeconds = e.AudioWallNanoseconds.load() * 1e-9;
    return s;
}

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
