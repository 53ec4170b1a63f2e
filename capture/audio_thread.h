// The audio thread: one long-lived thread that makes every call into the sound system.
//
// PortAudio is not thread-safe, and some of its back ends also care which thread opened a
// stream, so the device list, opening, the capture loop, stopping and closing all run here as
// jobs, one after the other. The thread blocks the asynchronous signals (SIGINT, SIGTERM, ...),
// as do the threads the sound system starts from it, so those signals reach the program's main
// thread, which decides what they mean.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace qv {

class AudioThread {
public:
    AudioThread();
    // Runs the jobs already posted, then ends the thread.
    ~AudioThread();
    AudioThread(const AudioThread&) = delete;
    AudioThread& operator=(const AudioThread&) = delete;

    // Runs `job` on the audio thread after the jobs posted before it, and waits for it to end;
    // called on the audio thread itself, runs it at once.
    void Run(const std::function<void()>& job);
    // Queues `job` and returns at once.
    void Post(std::function<void()> job);
    // True on the audio thread.
    bool IsCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void Loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool quit_ = false;
    std::thread thread_;
};

// Starts `body` on a new thread that blocks the asynchronous signals (see above).
std::thread StartQuietThread(std::function<void()> body);

}  // namespace qv
