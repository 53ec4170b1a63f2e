// The audio thread's job queue, and threads that leave signals to the main thread.
#include "capture/audio_thread.h"

#include <cassert>
#include <utility>

#include "common/os.h"

namespace qv {

std::thread StartQuietThread(std::function<void()> body) {
    // A new thread inherits the creator's signal mask: block everything around the creation,
    // then give the creator its own mask back.
    const os::SignalMask previous = os::BlockAllSignals();
    std::thread thread(std::move(body));
    os::RestoreSignals(previous);
    return thread;
}

AudioThread::AudioThread() {
    thread_ = StartQuietThread([this] { Loop(); });
}

AudioThread::~AudioThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void AudioThread::Post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void AudioThread::Run(const std::function<void()>& job) {
    // A job that reaches the sound system again (a source reopening its device) runs in place.
    if (IsCurrent()) {
        job();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    Post([&] {
        job();
        std::lock_guard<std::mutex> lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock<std::mutex> lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

void AudioThread::Loop() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
            if (jobs_.empty()) return;  // quit_, and nothing left to run
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace qv
