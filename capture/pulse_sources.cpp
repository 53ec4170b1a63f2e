// The desktop sound server's sources through libpulse. Each listing and each capture has a
// connection of its own on a main loop that runs only inside our calls, on the calling thread:
// no thread is started, nothing is shared between two opens, and every wait has a limit.
#include "capture/pulse_sources.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "dsp/rate_converter.h"

namespace qv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kClientName = "GPS QuorVelle";
constexpr int kChannels = 2;
constexpr int kFrameBytes = 4;  // [bytes] stereo 16-bit
// [us] the longest single wait of a main loop: a stop request is noticed this soon.
constexpr int kLongestPollMicroseconds = 10000;
// How long opening may wait for the server's answers.
constexpr std::chrono::seconds kOpenLimit{3};
// A source that delivers nothing for this long is taken as gone, as a sound card is.
constexpr std::chrono::seconds kSilentSourceLimit{5};
// [s] the server keeps for us before it drops frames: rides out hiccups of the audio thread.
// The server drops a record stream's frames without telling the client, so a pause between
// two reads as long as this is reported as an overflow.
constexpr int kServerBufferSeconds = 2;

std::string ContextError(pa_context* context) { return pa_strerror(pa_context_errno(context)); }

// One connection to the server on a main loop of its own.
class PulseConnection {
public:
    PulseConnection() = default;
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;
    ~PulseConnection() { Close(); }

    // Connects (never starting a server); false with the reason.
    bool Open(Clock::time_point deadline, std::string& error) {
        loop_ = pa_mainloop_new();
        if (loop_ != nullptr) context_ = pa_context_new(pa_mainloop_get_api(loop_), kClientName);
        if (context_ == nullptr) {
            error = "the sound server's client library cannot start";
            return false;
        }
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error = ContextError(context_);
            return false;
        }
        if (!RunUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
                      deadline)) {
            error = Good() ? "no answer" : ContextError(context_);
            return false;
        }
        return true;
    }

    pa_context* Context() const { return context_; }
    bool Good() const {
        return context_ != nullptr && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
    }

    // Waits up to `microseconds` for the server, then handles what came; false when the loop
    // has failed.
    bool Iterate(int microseconds) {
        return pa_mainloop_prepare(loop_, microseconds) >= 0 && pa_mainloop_poll(loop_) >= 0 &&
               pa_mainloop_dispatch(loop_) >= 0;
    }

    // Runs the loop until `done`; false when the deadline comes first or the connection fails.
    template <class Done>
    bool RunUntil(const Done& done, Clock::time_point deadline) {
        while (!done()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0 || !Good()) return false;
            if (!Iterate(static_cast<int>(std::min<int64_t>(left, kLongestPollMicroseconds)))) {
                return false;
            }
        }
        return true;
    }

    // Waits for `operation` (nullptr: it could not be started) to set `done`; one given up on
    // is cancelled, so that its callback never runs after the caller's data has gone.
    bool Await(pa_operation* operation, const bool& done, Clock::time_point deadline) {
        if (operation == nullptr) return false;
        const bool finished = RunUntil([&done] { return done; }, deadline);
        if (!finished) pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return finished;
    }

    void Close() {
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (loop_ != nullptr) pa_mainloop_free(loop_);
        loop_ = nullptr;
    }

private:
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

// The answer to a request for source descriptions.
struct SourceRequest {
    std::vector<PulseSource> Sources;
    bool Done = false;
};

void AddSource(pa_context*, const pa_source_info* info, int endOfList, void* request) {
    auto& r = *static_cast<SourceRequest*>(request);
    if (endOfList != 0) {  // the end, or a failure (no such source) that ends the answer too
        r.Done = true;
        return;
    }
    if (info == nullptr) return;
    r.Sources.push_back({info->name != nullptr ? info->name : "",
                         info->description != nullptr ? info->description : "",
                         info->sample_spec.channels, static_cast<int>(info->sample_spec.rate)});
}

// Capture from one source by name. Every member runs on the audio thread.
class PulseInput final : public BlockSource {
public:
    PulseInput(const std::string& sourceName, int framesPerSecond)
        : sourceName_(sourceName),
          asked_(framesPerSecond),
          name_("source \"" + sourceName + "\"") {}
    ~PulseInput() override { Close(); }

    bool Open(std::string& error) override {
        const auto deadline = Clock::now() + kOpenLimit;
        std::string reason;
        if (!connection_.Open(deadline, reason)) {
            error = name_ + ": the sound server cannot be reached (" + reason + ")";
            return false;
        }
        SourceRequest request;
        if (!connection_.Await(pa_context_get_source_info_by_name(
                                   connection_.Context(), sourceName_.c_str(), AddSource, &request),
                               request.Done, deadline)) {
            error = name_ + ": the sound server did not answer";
            return false;
        }
        if (request.Sources.empty()) {
            error = name_ + ": the sound server has no such source (--list-devices shows them)";
            return false;
        }
        rate_ = asked_ != 0 ? asked_ : PulseCaptureRate(request.Sources[0].Rate);
        if (!IsInputRate(rate_)) {
            error = name_ + ": " + std::to_string(rate_) +
                    " frames per second cannot be measured; the rates are " + InputRatesText();
            return false;
        }
        blockFrames_ = BlockFramesAt(rate_);

        const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate_), kChannels};
        pa_channel_map stereo;
        pa_channel_map_init_stereo(&stereo);
        stream_ = pa_stream_new(connection_.Context(), "capture", &format, &stereo);
        if (stream_ == nullptr) {
            error = name_ + ": " + ContextError(connection_.Context());
            return false;
        }
        // A fragment of one block keeps the delay low; the queue's limit is what the server
        // keeps for us. Left and right are taken as they are, never mixed: the two channels
        // carry different signals.
        pa_buffer_attr buffer{};
        buffer.maxlength = static_cast<uint32_t>(rate_ * kFrameBytes * kServerBufferSeconds);
        buffer.fragsize = static_cast<uint32_t>(blockFrames_ * kFrameBytes);
        buffer.tlength = buffer.prebuf = buffer.minreq = static_cast<uint32_t>(-1);
        // Kept on this source: a measurement must not move to another one when it goes.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                           PA_STREAM_DONT_MOVE | PA_STREAM_NO_REMIX_CHANNELS);
        if (pa_stream_connect_record(stream_, sourceName_.c_str(), &buffer, flags) < 0 ||
            !connection_.RunUntil(
                [this] {
                    const pa_stream_state_t s = pa_stream_get_state(stream_);
                    return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
                },
                deadline) ||
            pa_stream_get_state(stream_) != PA_STREAM_READY) {
            const bool waiting =
                connection_.Good() && PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
            error = name_ + ": " + (waiting ? "the sound server did not answer" : Failure());
            return false;
        }
        pending_.assign(static_cast<size_t>(buffer.maxlength), 0);
        pendingStart_ = pendingEnd_ = 0;
        return true;
    }

    int FramesPerSecond() const override { return rate_ != 0 ? rate_ : kFramesPerSecond; }

    bool Start(std::string& error) override {
        bool done = false;
        const auto corked = [](pa_stream*, int, void* finished) {
            *static_cast<bool*>(finished) = true;
        };
        if (!connection_.Await(pa_stream_cork(stream_, 0, corked, &done), done,
                               Clock::now() + kOpenLimit)) {
            error = name_ + ": the source does not start (" + Failure() + ")";
            return false;
        }
        lastSound_ = lastRead_ = Clock::now();
        return true;
    }

    int ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                  std::string& error) override {
        overflowed = false;
        const size_t blockBytes = static_cast<size_t>(blockFrames_) * kFrameBytes;
        for (;;) {
            if (stop.load(std::memory_order_acquire)) return 0;
            const auto now = Clock::now();
            if (now - lastRead_ >= std::chrono::seconds(kServerBufferSeconds)) overflowed = true;
            lastRead_ = now;
            if (!TakeFragments(overflowed, error)) return -1;
            if (pendingEnd_ - pendingStart_ >= blockBytes) break;
            if (!connection_.Good() || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
                error = name_ + ": " + Failure();
                return -1;
            }
            if (now - lastSound_ >= kSilentSourceLimit) {
                error = name_ + ": no sound from the source for " +
                        std::to_string(kSilentSourceLimit.count()) + " s";
                return -1;
            }
            if (!connection_.Iterate(kLongestPollMicroseconds)) {
                error = name_ + ": the connection to the sound server failed";
                return -1;
            }
        }
        std::memcpy(frames, pending_.data() + pendingStart_, blockBytes);
        pendingStart_ += blockBytes;
        return blockFrames_;
    }

    void Close() override {
        if (stream_ != nullptr) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        connection_.Close();
    }

private:
    // Moves what the server has sent into `pending_`; a hole in the stream (frames the server
    // lost) is an overflow. False with the reason when the stream cannot be read.
    bool TakeFragments(bool& overflowed, std::string& error) {
        for (;;) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream_, &data, &bytes) < 0) {
                error = name_ + ": " + Failure();
                return false;
            }
            if (bytes == 0) return true;
            if (data == nullptr) {
                overflowed = true;
            } else {
                if (pendingStart_ > 0) {  // what is left of the last block moves to the front
                    std::memmove(pending_.data(), pending_.data() + pendingStart_,
                                 pendingEnd_ - pendingStart_);
                    pendingEnd_ -= pendingStart_;
                    pendingStart_ = 0;
                }
                if (pendingEnd_ + bytes > pending_.size()) pending_.resize(pendingEnd_ + bytes);
                std::memcpy(pending_.data() + pendingEnd_, data, bytes);
                pendingEnd_ += bytes;
                lastSound_ = Clock::now();
            }
            pa_stream_drop(stream_);
        }
    }

    // Why the stream or the connection failed, in the server's words.
    std::string Failure() const {
        if (!connection_.Good()) {
            return "the sound server has gone (" + ContextError(connection_.Context()) + ")";
        }
        if (stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_FAILED) {
            return "the source has gone or failed (" + ContextError(connection_.Context()) + ")";
        }
        return ContextError(connection_.Context());
    }

    std::string sourceName_;
    int asked_;         // [frames/s] the rate asked for; 0: the source's own
    std::string name_;  // "source \"alsa_input.usb-...\"" in messages
    PulseConnection connection_;
    pa_stream* stream_ = nullptr;
    int rate_ = 0;         // [frames/s] once open
    int blockFrames_ = 0;  // [frames] in a block at that rate
    // Frames received and not yet handed out: bytes pendingStart_..pendingEnd_ of pending_,
    // whose room (what the server may hold) is allocated at Open.
    std::vector<uint8_t> pending_;
    size_t pendingStart_ = 0, pendingEnd_ = 0;
    Clock::time_point lastSound_{}, lastRead_{};
};

}  // namespace

std::vector<PulseSource> ListPulseSources(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    PulseConnection connection;
    std::string ignored;
    if (!connection.Open(deadline, ignored)) return {};
    SourceRequest request;
    if (!connection.Await(
            pa_context_get_source_info_list(connection.Context(), AddSource, &request),
            request.Done, deadline)) {
        return {};
    }
    return request.Sources;
}

std::string PulseEntryName(const PulseSource& source) {
    if (source.Description.empty() || source.Description == source.Name) return source.Name;
    return source.Description + " (" + source.Name + ")";
}

int PulseCaptureRate(int sourceRate) {
    for (const int rate : kInputRates) {
        if (rate >= sourceRate) return rate;
    }
    return kInputRates[std::size(kInputRates) - 1];
}

std::unique_ptr<BlockSource> CreatePulseInput(const std::string& sourceName, int framesPerSecond) {
    return std::make_unique<PulseInput>(sourceName, framesPerSecond);
}

}  // namespace qv
