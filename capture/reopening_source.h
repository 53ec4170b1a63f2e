// A sound card that may go away and come back: the block source of a live capture that outlives
// its device. When the device stops delivering (unplugged, taken by another program, the machine
// suspended), the source closes it, says so through a DeviceOutage, and every RetryInterval
// opens it afresh by name, until it delivers again at the same rate, the capture ends, or
// GiveUpSeconds have passed. The frames it did not deliver meanwhile are counted from the time
// between the last block before the loss and the first one after it, and handed to the engine
// (TakeFramesMissed), which reports them before the next block as a DeviceGap.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "capture/capture_engine.h"

namespace qv {

// What the consumer's thread can see of a device that has gone: written on the audio thread,
// read while no blocks arrive.
class DeviceOutage {
public:
    // The device has stopped delivering, for `reason`.
    void Lost(const std::string& reason);
    // [losses] since the capture started, and the reason of the last one.
    int64_t Losses(std::string& reason) const;

private:
    mutable std::mutex mutex_;
    int64_t losses_ = 0;
    std::string reason_;
};

class ReopeningSource final : public BlockSource {
public:
    // Makes a new, unopened source for the same device at `framesPerSecond`, found afresh by
    // name; nullptr with the reason when the device is not there. Runs on the audio thread.
    using Reopener =
        std::function<std::unique_ptr<BlockSource>(int framesPerSecond, std::string& error)>;

    ReopeningSource(std::unique_ptr<BlockSource> first, Reopener reopen,
                    std::shared_ptr<DeviceOutage> outage);

    // parameters
    std::chrono::milliseconds RetryInterval{2000};  // between attempts to reopen the device
    double GiveUpSeconds = 0;  // [s] gone this long ends the capture with a failure; 0: never

    bool Open(std::string& error) override;
    int FramesPerSecond() const override { return rate_; }
    bool Start(std::string& error) override;
    int ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                  std::string& error) override;
    void Close() override;
    int64_t TakeFramesMissed() override;

private:
    // The clock that also counts a suspended machine's sleep: a card gone with the machine
    // missed the frames of the whole sleep.
    struct Clock {
        using duration = std::chrono::nanoseconds;
        using time_point = std::chrono::time_point<Clock, duration>;
        static time_point now();
    };
    // Waits and reopens until the device delivers again; false on give-up (with the reason in
    // `error`) or when `stop` became true (error left empty).
    bool WaitForDevice(const std::atomic<bool>& stop, std::string& error);
    // One attempt to open and start the device again; false with the reason.
    bool TryReopen(std::string& error);
    void CloseInner();

    std::unique_ptr<BlockSource> inner_;
    Reopener reopen_;
    std::shared_ptr<DeviceOutage> outage_;
    // state
    int rate_ = 0;                 // [frames/s] the first open's; the device must keep it
    bool started_ = false;         // inner_ was started
    bool reopened_ = false;        // the next block is the first since the device came back
    Clock::time_point lastBlock_;  // when the last block before the loss arrived
    int64_t missed_ = 0;           // [frames] not yet taken by TakeFramesMissed
};

}  // namespace qv
