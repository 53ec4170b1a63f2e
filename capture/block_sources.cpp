// The simulator and WAV playback as paced block sources.
#include "capture/block_sources.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace qv {

namespace {

// The longest single sleep, so that End is noticed within this time.
constexpr std::chrono::milliseconds kLongestSleep{10};

}  // namespace

bool RealTimePacer::WaitUntilDue(int64_t frames, const std::atomic<bool>& stop) const {
    const auto due =
        Start +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(static_cast<double>(frames) / (FramesPerSecond * Speed)));
    for (;;) {
        if (stop.load(std::memory_order_acquire)) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) return true;
        std::this_thread::sleep_until(std::min(due, now + kLongestSleep));
    }
}

SimulatorSource::SimulatorSource(const SimulatorSettings& settings, int64_t totalFrames,
                                 double speed)
    : settings_(settings), totalFrames_(totalFrames) {
    pacer_.Speed = speed;
}

bool SimulatorSource::Open(std::string&) {
    StartSimulator(simulator_, settings_);
    pacer_.FramesPerSecond = settings_.DeviceRate;
    delivered_ = 0;
    return true;
}

bool SimulatorSource::Start(std::string&) {
    pacer_.Begin();
    return true;
}

int SimulatorSource::ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                               std::string&) {
    overflowed = false;
    int64_t n = BlockFramesAt(settings_.DeviceRate);
    if (totalFrames_ >= 0) n = std::min(n, totalFrames_ - delivered_);
    if (n <= 0 || !pacer_.WaitUntilDue(delivered_ + n, stop)) return 0;
    NextSimulatorFrames(simulator_, frames, static_cast<size_t>(n));
    delivered_ += n;
    return static_cast<int>(n);
}

WavPlaybackSource::WavPlaybackSource(std::string path, double speed) : path_(std::move(path)) {
    pacer_.Speed = speed;
}

bool WavPlaybackSource::Open(std::string& error) {
    delivered_ = 0;
    if (!OpenWavReader(reader_, path_, error)) return false;
    pacer_.FramesPerSecond = reader_.Rate;
    return true;
}

bool WavPlaybackSource::Start(std::string&) {
    pacer_.Begin();
    return true;
}

int WavPlaybackSource::ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                                 std::string& error) {
    overflowed = false;
    const int block = BlockFramesAt(reader_.Rate);
    if (!pacer_.WaitUntilDue(delivered_ + block, stop)) return 0;
    const long long n = ReadWavFrames(reader_, frames, block, error);
    if (n > 0) delivered_ += n;
    return static_cast<int>(n);
}

}  // namespace qv
