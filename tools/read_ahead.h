// A recording read and brought to the chain's 8000 frames per second on a thread of its own, a
// few blocks ahead of the chain, so that the rate converter's work overlaps the chain's on a
// second processor.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/frame.h"

namespace qv {

// A source of frames: fills up to `count` frames, returns how many (0 at the end, -1 on error
// with `error` set).
using FrameSource = std::function<long long(Frame*, long long, std::string&)>;

// What the reader has read and converted: device frames in the chain's chunks, each with the
// converted frames it completed, as ProcessConvertedChunk takes them.
struct ConvertedBlock {
    struct Chunk {
        int DeviceFrames = 0;  // [frames] of the chunk, after the block's earlier chunks
        int ConvertedEnd = 0;  // [frames] of Converted up to the chunk's end
    };
    std::vector<Frame> Device;
    std::vector<Frame> Converted;
    std::vector<Chunk> Chunks;
    bool Last = false;    // the input's end: the open chunk and the converter's last frames are in
    bool Failed = false;  // a read failed after the frames before it; Error says why
    std::string Error;
};

struct Measurement;

// Every chunk of `block` through ProcessConvertedChunk, in order; the device frames it held.
int ProcessConvertedBlock(Measurement& m, const ConvertedBlock& block);

class ReadAhead {
public:
    // Starts reading `source` at `rate` [frames/s] (one of the convertible rates); with
    // `swapChannels` each frame's two samples exchanged as they are read, as ProcessDeviceFrames
    // exchanges them, so that the blocks carry RF left and PPS right.
    ReadAhead(FrameSource source, int rate, bool swapChannels = false);
    ~ReadAhead() { Stop(); }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next block in input order, waiting for it; false after the last or failed one.
    bool Next(ConvertedBlock& block);
    // Stops the reader where it is, even mid-input, and returns the CPU time [s] its thread
    // used; 0 when called again.
    double Stop();

private:
    void Read();
    // False when the reader is to stop.
    bool Hand(ConvertedBlock&& block);
    // An empty block, with the buffers of one the caller has finished with where there is one.
    ConvertedBlock SpareBlock();

    FrameSource source_;
    int rate_;
    bool swapChannels_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ConvertedBlock> ready_;
    std::deque<ConvertedBlock> spare_;  // blocks the caller has finished with
    bool stopping_ = false;
    bool ended_ = false;    // the reader has handed over its last block
    double readerCpu_ = 0;  // [CPU s] written by the reader as it ends
    std::thread thread_;    // last: started once everything it uses is
};

}  // namespace qv
