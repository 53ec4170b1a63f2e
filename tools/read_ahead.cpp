#include "tools/read_ahead.h"

#include <utility>

#include "chain/measurement.h"
#include "common/os.h"
#include "dsp/rate_converter.h"

namespace qv {

namespace {

// [frames] read at a time, a multiple of the chain's chunk; [blocks] converted ahead at most:
// some 0.3 s of a 48 kHz recording, enough to keep both threads busy.
constexpr long long kReadFrames = 4096;
constexpr size_t kBlocksAhead = 4;

// The chunk of `count` frames from `frames` through `c` into the block.
void ConvertChunk(RateConverter& c, const Frame* frames, int count, ConvertedBlock& b) {
    ConvertFrames(c, frames, static_cast<size_t>(count), b.Converted);
    b.Chunks.push_back({count, static_cast<int>(b.Converted.size())});
}

}  // namespace

int ProcessConvertedBlock(Measurement& m, const ConvertedBlock& block) {
    int device = 0, converted = 0;
    for (const ConvertedBlock::Chunk& c : block.Chunks) {
        ProcessConvertedChunk(m, block.Device.data() + device, c.DeviceFrames,
                              block.Converted.data() + converted, c.ConvertedEnd - converted);
        device += c.DeviceFrames;
        converted = c.ConvertedEnd;
    }
    return device;
}

ReadAhead::ReadAhead(FrameSource source, int rate, bool swapChannels)
    : source_(std::move(source)),
      rate_(rate),
      swapChannels_(swapChannels),
      thread_([this] { Read(); }) {}

double ReadAhead::Stop() {
    if (!thread_.joinable()) return 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
    return readerCpu_;
}

bool ReadAhead::Hand(ConvertedBlock&& block) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || ready_.size() < kBlocksAhead; });
    if (stopping_) return false;
    ended_ = block.Last || block.Failed;
    ready_.push_back(std::move(block));
    lock.unlock();
    changed_.notify_all();
    return true;
}

bool ReadAhead::Next(ConvertedBlock& block) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty() || ended_ || stopping_; });
    if (ready_.empty()) return false;
    // The caller's last block goes back to the reader to be filled again: no allocation, and
    // memory already in the caches.
    if (spare_.size() < kBlocksAhead) spare_.push_back(std::move(block));
    block = std::move(ready_.front());
    ready_.pop_front();
    lock.unlock();
    changed_.notify_all();
    return true;
}

ConvertedBlock ReadAhead::SpareBlock() {
    ConvertedBlock b;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!spare_.empty()) {
        b.Device = std::move(spare_.back().Device);
        b.Converted = std::move(spare_.back().Converted);
        b.Chunks = std::move(spare_.back().Chunks);
        spare_.pop_back();
        b.Device.clear();
        b.Converted.clear();
        b.Chunks.clear();
    }
    return b;
}

// The chunks are counted from the input's first frame, as ProcessDeviceFrames counts them, so
// that each chunk's converted frames are the ones the chain would make of it itself.
void ReadAhead::Read() {
    const double cpuStart = os::ThreadCpuSeconds();
    RateConverter converter;
    StartRateConverter(converter, rate_);
    std::vector<Frame> open;  // the frames of a chunk not yet complete
    for (;;) {
        // The open chunk's frames first, then the piece read straight behind them.
        ConvertedBlock b = SpareBlock();
        b.Device.assign(open.begin(), open.end());
        open.clear();
        const size_t before = b.Device.size();
        b.Device.resize(before + kReadFrames);
        const long long n = source_(b.Device.data() + before, kReadFrames, b.Error);
        if (n < 0) {
            // As when the chain reads itself: the open chunk is not processed.
            b.Device.clear();
            b.Failed = true;
            Hand(std::move(b));
            break;
        }
        b.Device.resize(before + static_cast<size_t>(n));
        if (n == 0) {
            ConvertChunk(converter, b.Device.data(), static_cast<int>(b.Device.size()), b);
            FinishFrames(converter, b.Converted);
            b.Chunks.push_back({0, static_cast<int>(b.Converted.size())});
            b.Last = true;
            Hand(std::move(b));
            break;
        }
        if (swapChannels_) {
            for (size_t k = before; k < b.Device.size(); ++k) {
                b.Device[k] = {b.Device[k].Pps, b.Device[k].Rf};
            }
        }
        const size_t whole = b.Device.size() / kDeviceChunkFrames * kDeviceChunkFrames;
        open.assign(b.Device.begin() + static_cast<long>(whole), b.Device.end());
        b.Device.resize(whole);
        for (size_t i = 0; i < whole; i += kDeviceChunkFrames)
            ConvertChunk(converter, b.Device.data() + i, kDeviceChunkFrames, b);
        if (!Hand(std::move(b))) break;
    }
    readerCpu_ = os::ThreadCpuSeconds() - cpuStart;
}

}  // namespace qv
