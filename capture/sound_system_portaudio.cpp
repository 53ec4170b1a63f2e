// PortAudio device enumeration and blocking-read capture, on the audio thread.
#include <portaudio.h>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

#include "capture/pulse_sources.h"
#include "capture/sound_system.h"

#ifdef QUORVELLE_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif
#ifdef QUORVELLE_HAVE_JACK
#include <jack/jack.h>
#endif

namespace qv {

namespace {

constexpr int kChannels = 2;
// A device that delivers nothing for this long is taken as gone (unplugged, server dead), so
// the program reports it instead of waiting for ever.
constexpr std::chrono::seconds kSilentDeviceLimit{5};
constexpr std::chrono::milliseconds kShortestPoll{1};
constexpr double kHostBufferSeconds = 0.25;  // [s] asked of the host API at least

#ifdef QUORVELLE_HAVE_ALSA
void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
#endif
#ifdef QUORVELLE_HAVE_JACK
void IgnoreJackMessage(const char*) {}
#endif

// While PortAudio probes its host APIs, ALSA and JACK write dozens of lines to stderr about
// cards and servers that are not there. The program reports what matters itself, in one line.
void QuietenSoundLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
#ifdef QUORVELLE_HAVE_ALSA
        snd_lib_error_set_handler(IgnoreAlsaMessage);
#endif
#ifdef QUORVELLE_HAVE_JACK
        jack_set_error_function(IgnoreJackMessage);
        jack_set_info_function(IgnoreJackMessage);
#endif
    });
}

// PortAudio's text for `code`, with the host API's own text when PortAudio has only "host
// error" to say.
std::string ErrorText(PaError code) {
    std::string text = Pa_GetErrorText(code);
    if (code == paUnanticipatedHostError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        if (host != nullptr && host->errorText != nullptr && host->errorText[0] != '\0') {
            text += std::string(": ") + host->errorText;
        }
    }
    return text;
}

bool Initialise(std::string& error) {
    QuietenSoundLibraries();
    const PaError code = Pa_Initialize();
    if (code != paNoError) {
        error = "the sound system cannot start: " + ErrorText(code);
        return false;
    }
    return true;
}

// The stream parameters of a stereo 16-bit capture from `device`.
PaStreamParameters InputParameters(PaDeviceIndex device, const PaDeviceInfo& info) {
    PaStreamParameters input{};
    input.device = device;
    input.channelCount = kChannels;
    input.sampleFormat = paInt16;
    // A roomy host buffer rides out scheduling hiccups of the audio thread without an
    // overflow; the delay it adds does not matter to a measurement.
    input.suggestedLatency = std::max(info.defaultHighInputLatency, kHostBufferSeconds);
    return input;
}

// [frames/s] the device's default rate, rounded; 0 when PortAudio does not know it.
int DefaultRateOf(const PaDeviceInfo& info) {
    const double rate = info.defaultSampleRate;
    return rate >= 1 && rate < 1e7 ? static_cast<int>(std::lround(rate)) : 0;
}

// The devices through which ALSA reaches the desktop's sound server or its own converting
// plug-ins: they take any rate and convert the server's to it, so 8000 from them is a
// conversion, not the card's, and would cost the fine PPS timing its precision. Without --rate
// they run at their default rate.
bool ConvertsEveryRate(const char* name) {
    for (const char* converting : {"pulse", "default", "pipewire", "sysdefault"}) {
        if (std::strcmp(name, converting) == 0) return true;
    }
    return false;
}

// Blocking-read capture from one PortAudio device. Every member runs on the audio thread.
class PortAudioInput final : public BlockSource {
public:
    PortAudioInput(int deviceNumber, int framesPerSecond)
        : deviceNumber_(deviceNumber), asked_(framesPerSecond) {}
    ~PortAudioInput() override { assert(stream_ == nullptr && !initialised_); }

    bool Open(std::string& error) override {
        if (!Initialise(error)) return false;
        initialised_ = true;
        int device = deviceNumber_;
        if (device < 0) device = Pa_GetDefaultInputDevice();
        if (device == paNoDevice) {
            error = "there is no default input device";
            return false;
        }
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
        if (info == nullptr) {
            error = "device " + std::to_string(device) + " does not exist";
            return false;
        }
        name_ = "device " + std::to_string(device) + " \"" + info->name + "\"";
        const PaStreamParameters input = InputParameters(device, *info);
        // A device that cannot be opened at all is said in PortAudio's words, not as a rate.
        const PaError query =
            Pa_IsFormatSupported(&input, nullptr, asked_ > 0 ? asked_ : kFramesPerSecond);
        if (query != paFormatIsSupported && query != paInvalidSampleRate) {
            error = name_ + ": " + ErrorText(query);
            return false;
        }
        const auto offers = [&input](int rate) {
            return Pa_IsFormatSupported(&input, nullptr, rate) == paFormatIsSupported;
        };
        rate_ = ChooseDeviceRate(asked_, DefaultRateOf(*info), offers, name_, error,
                                 ConvertsEveryRate(info->name));
        if (rate_ == 0) return false;
        block_ = BlockFramesAt(rate_);
        const PaError code =
            Pa_OpenStream(&stream_, &input, nullptr, rate_, paFramesPerBufferUnspecified, paClipOff,
                          nullptr, nullptr);
        if (code != paNoError) {
            stream_ = nullptr;
            error = name_ + ": " + ErrorText(code);
            return false;
        }
        return true;
    }

    bool Start(std::string& error) override {
        const PaError code = Pa_StartStream(stream_);
        if (code != paNoError) {
            error = name_ + ": " + ErrorText(code);
            return false;
        }
        started_ = true;
        return true;
    }

    int FramesPerSecond() const override { return rate_; }

    // Waits for a whole block without blocking inside PortAudio, so End is noticed within a
    // millisecond or so and a device that has gone quiet cannot hang the program.
    int ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                  std::string& error) override {
        overflowed = false;
        const auto giveUp = std::chrono::steady_clock::now() + kSilentDeviceLimit;
        for (;;) {
            if (stop.load(std::memory_order_acquire)) return 0;
            long available = Pa_GetStreamReadAvailable(stream_);
            if (available == paInputOverflowed) {
                overflowed = true;
                available = 0;
            } else if (available < 0) {
                error = name_ + ": " + ErrorText(static_cast<PaError>(available));
                return -1;
            }
            if (available >= block_) break;
            const auto now = std::chrono::steady_clock::now();
            if (now >= giveUp) {
                error = name_ + ": no sound from the device for " +
                        std::to_string(kSilentDeviceLimit.count()) + " s";
                return -1;
            }
            // Sleep about until the rest of the block is due.
            const auto missing =
                std::chrono::microseconds((block_ - available) * 1000000LL / rate_);
            std::this_thread::sleep_for(
                std::max<std::chrono::microseconds>(missing, kShortestPoll));
        }
        const PaError code = Pa_ReadStream(stream_, frames, static_cast<unsigned long>(block_));
        if (code == paInputOverflowed) {
            overflowed = true;  // the frames read are good; some before them were lost
        } else if (code != paNoError) {
            error = name_ + ": " + ErrorText(code);
            return -1;
        }
        return block_;
    }

    void Close() override {
        if (stream_ != nullptr) {
            if (started_) Pa_AbortStream(stream_);
            Pa_CloseStream(stream_);
            stream_ = nullptr;
            started_ = false;
        }
        if (initialised_) Pa_Terminate();
        initialised_ = false;
    }

private:
    int deviceNumber_;
    int asked_;                    // [frames/s] --rate; 0: the device's choice
    int rate_ = kFramesPerSecond;  // [frames/s] the stream's, once open
    int block_ = kFramesPerBlock;  // [frames] 16 ms at rate_
    std::string name_;             // "device 3 \"USB Audio CODEC: - (hw:1,0)\"" in messages
    PaStream* stream_ = nullptr;
    bool initialised_ = false;
    bool started_ = false;
};

}  // namespace

SoundSystem::SoundSystem(AudioThread& thread) : thread_(thread) {}

SoundSystem::~SoundSystem() {
    if (initialised_) thread_.Run([] { Pa_Terminate(); });
}

void SoundSystem::ForgetDevices() {
    // PortAudio scans its devices only when its first initialisation is made afresh.
    if (!initialised_) return;
    thread_.Run([] { Pa_Terminate(); });
    initialised_ = false;
}

bool SoundSystem::EnumerateDevices(std::vector<DeviceCapabilities>& devices, std::string& error) {
    bool ok = false;
    thread_.Run([&] {
        // PortAudio counts its initialisations; holding one keeps the device numbers the list
        // shows valid for the streams opened later.
        if (!initialised_) {
            if (!Initialise(error)) return;
            initialised_ = true;
        }
        const int count = Pa_GetDeviceCount();
        if (count < 0) {
            error = "the sound system cannot list its devices: " + ErrorText(count);
            return;
        }
        devices.assign(count, DeviceCapabilities{});
        for (int d = 0; d < count; ++d) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(d);
            if (info == nullptr) continue;
            devices[d].Queried = true;
            devices[d].Name = info->name != nullptr ? info->name : "";
            devices[d].InputChannels = info->maxInputChannels;
            devices[d].DefaultRate = DefaultRateOf(*info);
        }
        ok = true;
    });
    if (!ok) return false;
    // After PortAudio's devices, which reach the desktop's sound server only as "pulse" and
    // "default", the server's own sources: by name and with the rate each runs at.
    firstDesktopSource_ = static_cast<int>(devices.size());
    desktopSources_.clear();
    for (const PulseSource& source : ListPulseSources()) {
        DeviceCapabilities& d = devices.emplace_back();
        d.Queried = true;
        d.Name = PulseEntryName(source);
        d.InputChannels = source.Channels;
        d.DefaultRate = source.Rate;
        desktopSources_.push_back(source.Name);
    }
    return true;
}

std::unique_ptr<BlockSource> SoundSystem::CreateInput(int deviceNumber, int framesPerSecond) {
    const int desktop = deviceNumber - firstDesktopSource_;
    if (deviceNumber >= 0 && desktop >= 0 && desktop < static_cast<int>(desktopSources_.size())) {
        return CreatePulseInput(desktopSources_[desktop], framesPerSecond);
    }
    return std::make_unique<PortAudioInput>(deviceNumber, framesPerSecond);
}

}  // namespace qv
