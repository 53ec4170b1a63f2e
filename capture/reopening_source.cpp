// A block source that reopens its sound card by name when the card stops delivering.
#include "capture/reopening_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>
#include <utility>

namespace qv {

namespace {

constexpr std::chrono::milliseconds kStopPoll{50};  // longest wait before the capture's end is seen

template <typename TimePoint>
double SecondsBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

ReopeningSource::Clock::time_point ReopeningSource::Clock::now() {
    return time_point(std::chrono::nanoseconds(ElapsedClockNanoseconds()));
}

void DeviceOutage::Lost(const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++losses_;
    reason_ = reason;
}

int64_t DeviceOutage::Losses(std::string& reason) const {
    std::lock_guard<std::mutex> lock(mutex_);
    reason = reason_;
    return losses_;
}

ReopeningSource::ReopeningSource(std::unique_ptr<BlockSource> first, Reopener reopen,
                                 std::shared_ptr<DeviceOutage> outage)
    : inner_(std::move(first)), reopen_(std::move(reopen)), outage_(std::move(outage)) {}

bool ReopeningSource::Open(std::string& error) {
    if (!inner_->Open(error)) return false;
    rate_ = inner_->FramesPerSecond();
    return true;
}

bool ReopeningSource::Start(std::string& error) {
    if (!inner_->Start(error)) return false;
    started_ = true;
    lastBlock_ = Clock::now();
    return true;
}

int ReopeningSource::ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                               std::string& error) {
    for (;;) {
        const int n = inner_->ReadBlock(frames, stop, overflowed, error);
        if (n == 0) return 0;  // the capture is ending
        if (n > 0) {
            const Clock::time_point now = Clock::now();
            if (reopened_) {
                // The first block after the return took its own 16 ms to arrive.
                const int64_t gone = std::llround(SecondsBetween(lastBlock_, now) * rate_);
                missed_ += std::max<int64_t>(0, gone - n);
                reopened_ = false;
            }
            lastBlock_ = now;
            return n;
        }
        if (outage_ != nullptr) outage_->Lost(error);
        CloseInner();
        if (!WaitForDevice(stop, error)) return error.empty() ? 0 : -1;
        reopened_ = true;
        overflowed = false;
        error.clear();
    }
}

bool ReopeningSource::WaitForDevice(const std::atomic<bool>& stop, std::string& error) {
    std::string reason = error;  // why the device is not back, as the last attempt said
    error.clear();
    for (;;) {
        if (stop.load(std::memory_order_acquire)) return false;
        const double gone = SecondsBetween(lastBlock_, Clock::now());
        if (GiveUpSeconds > 0 && gone >= GiveUpSeconds) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", GiveUpSeconds);
            error = "the device has not come back within " + std::string(seconds) +
                    " s; last: " + reason;
            return false;
        }
        if (TryReopen(reason)) return true;
        const Clock::time_point next = Clock::now() + RetryInterval;
        while (Clock::now() < next) {
            if (stop.load(std::memory_order_acquire)) return false;
            std::this_thread::sleep_for(std::min<Clock::duration>(kStopPoll, next - Clock::now()));
        }
    }
}

bool ReopeningSource::TryReopen(std::string& error) {
    std::unique_ptr<BlockSource> source = reopen_(rate_, error);
    if (source == nullptr) return false;
    bool ready = source->Open(error);
    if (ready && source->FramesPerSecond() != rate_) {
        error = "it is back at " + DescribeRate(source->FramesPerSecond()) + ", not at " +
                DescribeRate(rate_);
        ready = false;
    }
    if (ready) ready = source->Start(error);
    if (!ready) {
        source->Close();
        return false;
    }
    inner_ = std::move(source);
    started_ = true;
    return true;
}

void ReopeningSource::CloseInner() {
    if (inner_ != nullptr) inner_->Close();
    inner_.reset();
    started_ = false;
}

void ReopeningSource::Close() { CloseInner(); }

int64_t ReopeningSource::TakeFramesMissed() { return std::exchange(missed_, 0); }

}  // namespace qv
