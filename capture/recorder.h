// Recording of the captured stream to a stereo 16-bit WAV file at the device's rate, frame for
// frame as the measurement chain receives it, so that the batch tool run on the file reproduces the
// live results.
//
// The consumer's thread only copies frames into a lock-free ring; a writer thread of its own
// moves them to the file, so a slow disk never stalls the capture. The header is rewritten about
// once a second, so the file stays complete up to the last second if the program dies, and is
// finalised by Close. Frames that find the ring full (the disk fell a minute behind) are counted
// and reported by Close, never lost silently; the consumer's thread can see either problem at
// once through Problem(), so that it is reported while the capture goes on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/spsc_ring.h"
#include "common/frame.h"
#include "files/wav_file.h"

namespace qv {

constexpr size_t kRecorderRingFrames = size_t{1} << 19;  // [frames] about 65 s of sound

class Recorder {
public:
    explicit Recorder(size_t ringFrames = kRecorderRingFrames);
    ~Recorder();  // closes the file if Close was not called
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Creates (or replaces) `path` for frames at `framesPerSecond` (8000 unless given) and
    // starts the writer; false with one line in `error`.
    bool Open(const std::string& path, std::string& error);
    bool Open(const std::string& path, int framesPerSecond, std::string& error);
    // Before the first Write: the frames come at `framesPerSecond` after all (the device's rate
    // is known once the capture has started, after the file was opened). The file is created
    // anew at that rate; false with one line in `error`, and the recording closed, when it
    // cannot be, or when frames have already been queued at the old rate.
    bool SetRate(int framesPerSecond, std::string& error);
    int Rate() const { return file_.Rate; }  // [frames/s] in the file's header
    // On the consumer's thread: queues `count` frames for the file. Never waits.
    void Write(const Frame* frames, int count);
    // Writes what is queued, finalises the header and closes the file. False with one line
    // when frames were lost or the file could not be written.
    bool Close(std::string& error);

    bool IsOpen() const { return writer_.joinable(); }
    int64_t FramesLost() const { return lost_.load(std::memory_order_relaxed); }
    // On the consumer's thread, cheap enough for every block: "" while the recording is whole,
    // else one line saying what went wrong first (the file cannot be written, or frames are
    // being lost). The writer keeps draining the ring after a failure; Close reports it again.
    std::string Problem() const;
    const std::string& Path() const { return file_.Path; }

private:
    void WriterLoop();

    SpscRing<Frame> ring_;
    std::vector<Frame> chunk_;  // the writer's staging buffer
    WavWriter file_;
    std::thread writer_;
    std::mutex quitMutex_;  // only the writer's sleep and Close use it
    std::condition_variable quitSignal_;
    bool quit_ = false;
    std::atomic<int64_t> lost_{0};  // [frames] that found the ring full
    // The writer's first failure; written once by the writer before writeFailed_ is set, read
    // by the consumer only after seeing writeFailed_, and by Close after the writer has ended.
    std::string writeError_;
    std::atomic<bool> writeFailed_{false};
};

}  // namespace qv
