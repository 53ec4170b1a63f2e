// Block sources that stand in for a sound card: the signal simulator and a WAV file, both paced
// in real time at their own rate and delivered in the same 16 ms blocks a sound card delivers
// (128 frames at 8000 frames per second), so everything downstream runs the same code as with a
// real device.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "capture/capture_engine.h"
#include "capture/signal_simulator.h"
#include "files/wav_file.h"

namespace qv {

// Holds a stream to its pace: frame k is due k / (FramesPerSecond * Speed) seconds after the
// start, as a sound card would have recorded it. A source that falls behind (the process was
// suspended) catches up at once, as a sound card's buffer would.
struct RealTimePacer {
    // parameters
    double Speed = 1;                        // [x real time]
    int FramesPerSecond = kFramesPerSecond;  // [frames/s] the stream's rate
    // state
    std::chrono::steady_clock::time_point Start{};

    void Begin() { Start = std::chrono::steady_clock::now(); }
    // Sleeps until `frames` frames are due; false as soon as `stop` becomes true.
    bool WaitUntilDue(int64_t frames, const std::atomic<bool>& stop) const;
};

// The signal simulator as an input device, at its DeviceRate.
class SimulatorSource final : public BlockSource {
public:
    // `totalFrames` [frames at DeviceRate] < 0: the simulator runs until End.
    SimulatorSource(const SimulatorSettings& settings, int64_t totalFrames, double speed = 1);

    bool Open(std::string& error) override;
    int FramesPerSecond() const override { return settings_.DeviceRate; }
    bool Start(std::string& error) override;
    int ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                  std::string& error) override;
    void Close() override {}

private:
    SimulatorSettings settings_;
    int64_t totalFrames_;
    int64_t delivered_ = 0;  // [frames]
    RealTimePacer pacer_;
    SignalSimulator simulator_;
};

// A stereo recording played as an input device at its own rate; it ends with the file.
class WavPlaybackSource final : public BlockSource {
public:
    explicit WavPlaybackSource(std::string path, double speed = 1);

    bool Open(std::string& error) override;
    int FramesPerSecond() const override { return reader_.Rate; }
    bool Start(std::string& error) override;
    int ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                  std::string& error) override;
    void Close() override { CloseWavReader(reader_); }

private:
    std::string path_;
    int64_t delivered_ = 0;  // [frames]
    RealTimePacer pacer_;
    WavReader reader_;
};

}  // namespace qv
