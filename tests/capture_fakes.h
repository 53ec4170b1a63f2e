// Fakes for the capture engine's tests and benchmark: a source of numbered frames, an
// allocator that fails on request, and a consumer that checks what arrives.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/block_sources.h"
#include "capture/capture_engine.h"

namespace qv {

// Frame k of a counting stream carries k in its two samples (low 16 bits left, high right), so
// a consumer can tell where every frame came from.
inline Frame CountingFrame(int64_t k) {
    return {static_cast<int16_t>(static_cast<uint16_t>(k & 0xFFFF)),
            static_cast<int16_t>(static_cast<uint16_t>((k >> 16) & 0xFFFF))};
}
inline int64_t CountOfFrame(Frame f) {
    return static_cast<int64_t>(static_cast<uint16_t>(f.Rf)) |
           (static_cast<int64_t>(static_cast<uint16_t>(f.Pps)) << 16);
}

// What the test can observe of a source the engine owns.
struct SourceProbe {
    std::atomic<int> Opens{0}, Starts{0}, Closes{0};
    std::atomic<int64_t> BlocksRead{0};
    std::mutex Mutex;
    std::set<std::thread::id> Threads;  // every thread that called the source

    void Called() {
        std::lock_guard<std::mutex> lock(Mutex);
        Threads.insert(std::this_thread::get_id());
    }
};

class CountingSource final : public BlockSource {
public:
    // parameters
    int64_t totalFrames = -1;          // -1: endless
    std::string openFailure;           // non-empty: Open fails with this reason
    std::string startFailure;          // non-empty: Start fails with this text
    std::set<int64_t> overflowBlocks;  // block indices read with an overflow flagged
    RealTimePacer pacer;               // Speed 0: as fast as possible
    int rate = kFramesPerSecond;       // [frames/s] delivered in blocks of 16 ms
    // Called before block `index` is produced; may wait. Runs on the audio thread.
    std::function<void(int64_t index, const std::atomic<bool>& stop)> beforeBlock;

    explicit CountingSource(std::shared_ptr<SourceProbe> probe) : probe_(std::move(probe)) {
        pacer.Speed = 0;
    }

    bool Open(std::string& error) override {
        probe_->Called();
        ++probe_->Opens;
        error = openFailure;
        return openFailure.empty();
    }
    int FramesPerSecond() const override { return rate; }
    bool Start(std::string& error) override {
        probe_->Called();
        ++probe_->Starts;
        pacer.FramesPerSecond = rate;
        pacer.Begin();
        error = startFailure;
        return startFailure.empty();
    }
    int ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                  std::string&) override {
        probe_->Called();
        const int64_t index = next_ / BlockFramesAt(rate);
        int64_t n = BlockFramesAt(rate);
        if (totalFrames >= 0) n = std::min(n, totalFrames - next_);
        if (n <= 0) return 0;
        if (beforeBlock) beforeBlock(index, stop);
        if (stop) return 0;
        if (pacer.Speed > 0 && !pacer.WaitUntilDue(next_ + n, stop)) return 0;
        for (int64_t i = 0; i < n; ++i) frames[i] = CountingFrame(next_ + i);
        overflowed = overflowBlocks.count(index) != 0;
        next_ += n;
        ++probe_->BlocksRead;
        return static_cast<int>(n);
    }
    void Close() override {
        probe_->Called();
        ++probe_->Closes;
    }

private:
    std::shared_ptr<SourceProbe> probe_;
    int64_t next_ = 0;  // [frames]
};

// The process heap with a count of calls; call number `failAt` (1-based) gives nothing.
class FakeAllocator final : public BlockAllocator {
public:
    int failAt = 0;  // 0: never fails
    int allocations = 0, frees = 0;

    void* Allocate(size_t bytes) override {
        ++allocations;
        if (allocations == failAt) return nullptr;
        return HeapAllocator().Allocate(bytes);
    }
    void Free(void* data) override {
        ++frees;
        HeapAllocator().Free(data);
    }
};

// A consumer that keeps everything it is given.
class CollectingConsumer final : public CaptureConsumer {
public:
    struct Gap {
        int64_t AtFrame, DroppedFrames;
        int Overflows;
    };
    std::vector<Frame> frames;
    std::vector<int> counts;  // frames per CaptureFrames call
    std::vector<Gap> gaps;

    void CaptureGap(int64_t atFrame, int64_t droppedFrames, int overflows) override {
        gaps.push_back({atFrame, droppedFrames, overflows});
    }
    void CaptureFrames(const Frame* f, int count) override {
        frames.insert(frames.end(), f, f + count);
        counts.push_back(count);
    }
};

}  // namespace qv
