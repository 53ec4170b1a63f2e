// The recorder's writer thread and its hand-over ring.
#include "capture/recorder.h"

#include <chrono>

#include "capture/audio_thread.h"

namespace qv {

namespace {

constexpr size_t kChunkFrames = 4096;                           // [frames] per file write
constexpr std::chrono::milliseconds kWriterPeriod{50};          // between two looks at the ring
constexpr std::chrono::milliseconds kHeaderUpdatePeriod{1000};  // between two header rewrites

}  // namespace

Recorder::Recorder(size_t ringFrames) : ring_(ringFrames) {}

Recorder::~Recorder() {
    std::string ignored;
    Close(ignored);
}

bool Recorder::Open(const std::string& path, std::string& error) {
    return Open(path, kFramesPerSecond, error);
}

bool Recorder::Open(const std::string& path, int framesPerSecond, std::string& error) {
    if (IsOpen()) {
        error = path + ": the recorder is already writing " + file_.Path;
        return false;
    }
    if (!OpenWavWriter(file_, path, framesPerSecond, error)) return false;
    chunk_.resize(kChunkFrames);
    quit_ = false;
    writeError_.clear();
    writeFailed_.store(false);
    lost_.store(0);
    writer_ = StartQuietThread([this] { WriterLoop(); });
    return true;
}

bool Recorder::SetRate(int framesPerSecond, std::string& error) {
    if (!IsOpen() || framesPerSecond == file_.Rate) return true;
    const std::string path = file_.Path;
    const bool untouched = file_.FramesWritten == 0 && ring_.Size() == 0 && FramesLost() == 0;
    std::string closeError;
    Close(closeError);  // nothing written yet: nothing to lose
    if (!untouched) {
        error = path + ": frames were recorded at " + std::to_string(file_.Rate) +
                " frames per second before the rate changed";
        return false;
    }
    return Open(path, framesPerSecond, error);
}

void Recorder::Write(const Frame* frames, int count) {
    if (count <= 0) return;
    const size_t queued = ring_.Push(frames, static_cast<size_t>(count));
    if (queued < static_cast<size_t>(count)) {
        lost_.fetch_add(static_cast<int64_t>(count - queued), std::memory_order_relaxed);
    }
}

void Recorder::WriterLoop() {
    auto lastHeader = std::chrono::steady_clock::now();
    int64_t framesAtLastHeader = 0;
    bool failed = false;
    for (;;) {
        bool quitting;
        {
            std::lock_guard<std::mutex> lock(quitMutex_);
            quitting = quit_;
        }
        // Everything queued so far; after a failure the frames are still taken out, so the
        // consumer keeps its never-waiting ring, and only the first failure is kept.
        while (const size_t n = ring_.Pop(chunk_.data(), chunk_.size())) {
            if (!failed &&
                !WriteWavFrames(file_, chunk_.data(), static_cast<long long>(n), writeError_)) {
                failed = true;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        if (!failed && file_.FramesWritten != framesAtLastHeader &&
            now - lastHeader >= kHeaderUpdatePeriod) {
            failed = !UpdateWavHeader(file_, writeError_);
            lastHeader = now;
            framesAtLastHeader = file_.FramesWritten;
        }
        if (failed && !writeFailed_.load(std::memory_order_relaxed)) {
            writeFailed_.store(true, std::memory_order_release);  // writeError_ is final now
        }
        if (quitting) return;
        std::unique_lock<std::mutex> lock(quitMutex_);
        quitSignal_.wait_for(lock, kWriterPeriod, [this] { return quit_; });
    }
}

std::string Recorder::Problem() const {
    if (writeFailed_.load(std::memory_order_acquire)) return writeError_;
    if (FramesLost() > 0) {
        return file_.Path + ": frames are being lost from the recording: the disk cannot keep up";
    }
    return "";
}

bool Recorder::Close(std::string& error) {
    if (!IsOpen()) return true;
    {
        std::lock_guard<std::mutex> lock(quitMutex_);
        quit_ = true;
    }
    quitSignal_.notify_one();
    writer_.join();  // the writer drains the ring once more after seeing quit_
    std::string closeError;
    const bool closed = CloseWavWriter(file_, closeError);
    if (!writeError_.empty()) {
        error = writeError_;
        return false;
    }
    if (!closed) {
        error = closeError;
        return false;
    }
    if (FramesLost() > 0) {
        error = file_.Path + ": " + std::to_string(FramesLost()) +
                " frames are missing from the recording: the disk could not keep up";
        return false;
    }
    return true;
}

}  // namespace qv
