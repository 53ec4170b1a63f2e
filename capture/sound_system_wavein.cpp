// The sound system on Windows: wave-input devices through winmm's waveIn, with their full names
// from the MMDevice API where it knows them.
//
// A waveIn capture keeps 128 buffers of 16 ms at the device's rate (512 bytes, 128 frames at
// 8000 frames per second; about 2 s in all) queued on the device, as the window's capture always
// has: each is prepared and added in turn, the device fills them in order and sets WHDR_DONE, and
// signals an event. The audio thread waits for the oldest, copies its frames into the engine's
// block and queues it again (prepare, which does nothing to a buffer still prepared, then add). The
// device owns a queued buffer; only a done one is touched.
#include "capture/sound_system.h"

// windows.h first: the multimedia and COM headers build on it.
#include <mmdeviceapi.h>
#include <mmsystem.h>
#include <propidl.h>
#include <windows.h>
// winspool's macro for its printer function would rename the device list's record.
#undef DeviceCapabilities

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

namespace qv {

namespace {

constexpr int kBufferCount = 128;  // [buffers] queued on the device
constexpr int kBytesPerFrame = 4;  // two 16-bit samples
// A device that delivers nothing for this long is taken as gone (unplugged, driver stopped), so
// the program reports it instead of waiting for ever.
constexpr std::chrono::seconds kSilentDeviceLimit{5};
constexpr DWORD kLongestWait = 10;  // [ms] between looks at the stop request

// winmm's messages for a device's endpoint id (the id of the MMDevice API), from the driver
// development kit's header, which MinGW does not ship.
constexpr UINT kQueryInstanceId = DRV_RESERVED + 17;
constexpr UINT kQueryInstanceIdSize = DRV_RESERVED + 18;
// The endpoint's friendly name in its property store ("Microphone (USB Audio CODEC)").
constexpr PROPERTYKEY kDeviceFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

std::string Utf8(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return "";
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes) - 1);  // without the terminating NUL
    return out;
}

// winmm's own text for a failure code.
std::string ErrorText(MMRESULT code) {
    wchar_t text[MAXERRORLENGTH] = {};
    if (waveInGetErrorTextW(code, text, MAXERRORLENGTH) != MMSYSERR_NOERROR || text[0] == 0) {
        return "wave input error " + std::to_string(code);
    }
    return Utf8(text);
}

// The short name (at most 31 characters) the device's capabilities carry.
bool ShortName(UINT device, WAVEINCAPSW& caps) {
    caps = WAVEINCAPSW{};
    return waveInGetDevCapsW(device, &caps, sizeof caps) == MMSYSERR_NOERROR;
}

std::string CapsName(const WAVEINCAPSW& caps) {
    wchar_t name[MAXPNAMELEN + 1] = {};
    std::memcpy(name, caps.szPname, sizeof caps.szPname);  // NUL-terminated even when full
    return Utf8(name);
}

// The device's full name through the MMDevice API, or "" when it cannot say. `devices` may be
// null (no COM on this thread).
std::string FullName(IMMDeviceEnumerator* devices, UINT device) {
    if (devices == nullptr) return "";
    HWAVEIN id = reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(device));
    // Windows writes a ULONG here, Wine a whole DWORD_PTR: room for either, zero beforehand
    // so the little-endian value reads the same.
    DWORD_PTR bytes = 0;
    if (waveInMessage(id, kQueryInstanceIdSize, reinterpret_cast<DWORD_PTR>(&bytes), 0) !=
            MMSYSERR_NOERROR ||
        bytes < sizeof(wchar_t)) {
        return "";
    }
    std::wstring endpoint(bytes / sizeof(wchar_t), L'\0');
    if (waveInMessage(id, kQueryInstanceId, reinterpret_cast<DWORD_PTR>(endpoint.data()), bytes) !=
        MMSYSERR_NOERROR) {
        return "";
    }
    std::string name;
    IMMDevice* endpointDevice = nullptr;
    if (SUCCEEDED(devices->GetDevice(endpoint.c_str(), &endpointDevice))) {
        IPropertyStore* properties = nullptr;
        if (SUCCEEDED(endpointDevice->OpenPropertyStore(STGM_READ, &properties))) {
            PROPVARIANT value;
            PropVariantInit(&value);
            if (SUCCEEDED(properties->GetValue(kDeviceFriendlyName, &value)) &&
                value.vt == VT_LPWSTR && value.pwszVal != nullptr) {
                name = Utf8(value.pwszVal);
            }
            PropVariantClear(&value);
            properties->Release();
        }
        endpointDevice->Release();
    }
    return name;
}

// The stereo 16-bit PCM format at `framesPerSecond`.
WAVEFORMATEX PcmFormat(int framesPerSecond) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(framesPerSecond);
    format.nAvgBytesPerSec = static_cast<DWORD>(framesPerSecond) * kBytesPerFrame;
    format.nBlockAlign = kBytesPerFrame;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}

UINT DeviceId(int deviceNumber) {
    return deviceNumber < 0 ? WAVE_MAPPER : static_cast<UINT>(deviceNumber);
}

// winmm's answer whether the device can be opened for capture at `framesPerSecond` (asked, not
// opened).
MMRESULT QueryRate(int deviceNumber, int framesPerSecond) {
    WAVEFORMATEX format = PcmFormat(framesPerSecond);
    return waveInOpen(nullptr, DeviceId(deviceNumber), &format, 0, 0, WAVE_FORMAT_QUERY);
}
bool Offers(int deviceNumber, int framesPerSecond) {
    return QueryRate(deviceNumber, framesPerSecond) == MMSYSERR_NOERROR;
}

// [frames/s] the rate a capture from the device takes when none is asked; 0 when none fits.
int UsualRate(int deviceNumber) {
    std::string ignored;
    return ChooseDeviceRate(
        0, 0, [deviceNumber](int rate) { return Offers(deviceNumber, rate); }, "", ignored);
}

std::string DescribeDevice(int deviceNumber) {
    if (deviceNumber < 0) return "the default input";
    std::string text = "device " + std::to_string(deviceNumber);
    WAVEINCAPSW caps;
    if (ShortName(static_cast<UINT>(deviceNumber), caps)) text += " \"" + CapsName(caps) + "\"";
    return text;
}

// Capture from one waveIn device. Every member runs on the audio thread.
class WaveInInput final : public BlockSource {
public:
    WaveInInput(int deviceNumber, int framesPerSecond)
        : deviceNumber_(deviceNumber), asked_(framesPerSecond) {}
    ~WaveInInput() override { Close(); }

    bool Open(std::string& error) override {
        name_ = DescribeDevice(deviceNumber_);
        const int device = deviceNumber_;
        // A device that cannot be opened at all is said in winmm's words, not as a rate.
        const MMRESULT query = QueryRate(device, asked_ > 0 ? asked_ : kFramesPerSecond);
        if (query != MMSYSERR_NOERROR && query != WAVERR_BADFORMAT) {
            error = name_ + ": " + ErrorText(query);
            return false;
        }
        rate_ = ChooseDeviceRate(
            asked_, 0, [device](int rate) { return Offers(device, rate); }, name_, error);
        if (rate_ == 0) return false;
        bufferBytes_ = BlockFramesAt(rate_) * kBytesPerFrame;
        WAVEFORMATEX format = PcmFormat(rate_);
        event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (event_ == nullptr) {
            error = name_ + ": no event for the device's notices";
            return false;
        }
        MMRESULT code = waveInOpen(&handle_, DeviceId(deviceNumber_), &format,
                                   reinterpret_cast<DWORD_PTR>(event_), 0, CALLBACK_EVENT);
        if (code != MMSYSERR_NOERROR) {
            handle_ = nullptr;
            error = name_ + ": " + ErrorText(code);
            return false;
        }
        // The buffers, zero-filled from the process heap, each queued in turn.
        for (int i = 0; i < kBufferCount; ++i) {
            WAVEHDR& header = headers_[i];
            header = WAVEHDR{};
            header.lpData = static_cast<LPSTR>(
                HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<SIZE_T>(bufferBytes_)));
            if (header.lpData == nullptr) {
                error = name_ + ": out of memory for buffer " + std::to_string(i + 1) + " of " +
                        std::to_string(kBufferCount);
                return false;
            }
            header.dwBufferLength = static_cast<DWORD>(bufferBytes_);
            if (!Queue(header, error)) return false;
        }
        next_ = 0;
        offset_ = 0;
        return true;
    }

    int FramesPerSecond() const override { return rate_; }

    bool Start(std::string& error) override {
        const MMRESULT code = waveInStart(handle_);
        if (code != MMSYSERR_NOERROR) {
            error = name_ + ": " + ErrorText(code);
            return false;
        }
        return true;
    }

    int ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                  std::string& error) override {
        overflowed = false;
        auto giveUp = std::chrono::steady_clock::now() + kSilentDeviceLimit;
        auto* out = reinterpret_cast<char*>(frames);
        int filled = 0;  // [bytes] of `frames`
        while (filled < bufferBytes_) {
            WAVEHDR& header = headers_[next_];
            if (!IsDone(header)) {
                if (stop.load(std::memory_order_acquire)) return 0;
                if (std::chrono::steady_clock::now() >= giveUp) {
                    error = name_ + ": no sound from the device for " +
                            std::to_string(kSilentDeviceLimit.count()) + " s";
                    return -1;
                }
                WaitForSingleObject(event_, kLongestWait);
                continue;
            }
            std::atomic_thread_fence(
                std::memory_order_acquire);  // the device's data after its flag
            // With every buffer done the device had none to fill: what came meanwhile is lost.
            if (offset_ == 0 && DoneCount() == kBufferCount) overflowed = true;
            const int recorded =
                static_cast<int>(header.dwBytesRecorded) / kBytesPerFrame * kBytesPerFrame;
            const int take = std::min(recorded - offset_, bufferBytes_ - filled);
            if (take > 0)
                std::memcpy(out + filled, header.lpData + offset_, static_cast<size_t>(take));
            filled += take;
            offset_ += take;
            if (offset_ >= recorded) {
                offset_ = 0;
                next_ = (next_ + 1) % kBufferCount;
                if (!Queue(header, error)) return -1;
                giveUp = std::chrono::steady_clock::now() + kSilentDeviceLimit;
            }
        }
        return bufferBytes_ / kBytesPerFrame;
    }

    void Close() override {
        if (handle_ != nullptr) {
            waveInStop(handle_);
            waveInReset(handle_);  // every queued buffer comes back, done
            for (WAVEHDR& header : headers_) {
                if (header.dwFlags & WHDR_PREPARED) {
                    waveInUnprepareHeader(handle_, &header, sizeof header);
                }
            }
            waveInClose(handle_);
            handle_ = nullptr;
        }
        for (WAVEHDR& header : headers_) {
            if (header.lpData != nullptr) HeapFree(GetProcessHeap(), 0, header.lpData);
            header = WAVEHDR{};
        }
        if (event_ != nullptr) CloseHandle(event_);
        event_ = nullptr;
    }

private:
    static bool IsDone(const WAVEHDR& header) {
        return (static_cast<const volatile DWORD&>(header.dwFlags) & WHDR_DONE) != 0;
    }

    int DoneCount() const {
        int done = 0;
        for (const WAVEHDR& header : headers_) done += IsDone(header) ? 1 : 0;
        return done;
    }

    // Hands `header` to the device: prepare (again) and add.
    bool Queue(WAVEHDR& header, std::string& error) {
        MMRESULT code = waveInPrepareHeader(handle_, &header, sizeof header);
        if (code == MMSYSERR_NOERROR) code = waveInAddBuffer(handle_, &header, sizeof header);
        if (code != MMSYSERR_NOERROR) {
            error = name_ + ": " + ErrorText(code);
            return false;
        }
        return true;
    }

    int deviceNumber_;
    int asked_;                              // [frames/s] --rate; 0: the device's choice
    int rate_ = kFramesPerSecond;            // [frames/s] the capture's, once open
    int bufferBytes_ = kFramesPerBlock * 4;  // [bytes] per buffer: 16 ms at rate_
    std::string name_;                       // "device 1 \"Microphone (USB Audio CO\"" in messages
    HWAVEIN handle_ = nullptr;
    HANDLE event_ = nullptr;  // set by the device for every buffer done
    std::array<WAVEHDR, kBufferCount> headers_{};
    int next_ = 0;    // the buffer the device fills next, in queueing order
    int offset_ = 0;  // [bytes] of headers_[next_] already taken
};

}  // namespace

SoundSystem::SoundSystem(AudioThread& thread) : thread_(thread) {}

SoundSystem::~SoundSystem() {
    if (initialised_) thread_.Run([] { CoUninitialize(); });
}

// waveIn counts its devices afresh at every listing: nothing is held.
void SoundSystem::ForgetDevices() {}

bool SoundSystem::EnumerateDevices(std::vector<DeviceCapabilities>& devices, std::string&) {
    thread_.Run([&] {
        // COM, for the full names, held on the audio thread until this object ends.
        if (!initialised_) initialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        IMMDeviceEnumerator* endpoints = nullptr;
        if (initialised_ && FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr,
                                                    CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                                    reinterpret_cast<void**>(&endpoints)))) {
            endpoints = nullptr;
        }
        const UINT count = waveInGetNumDevs();
        devices.assign(count, DeviceCapabilities{});
        for (UINT d = 0; d < count; ++d) {
            WAVEINCAPSW caps;
            // A device whose capabilities cannot be read is left out.
            if (!ShortName(d, caps)) continue;
            devices[d].Queried = true;
            devices[d].Name = FullName(endpoints, d);
            if (devices[d].Name.empty()) devices[d].Name = CapsName(caps);
            // A device that reports no standard format at all gets no entry.
            devices[d].InputChannels = caps.dwFormats != 0 ? std::max<int>(caps.wChannels, 1) : 0;
            // waveIn has no default rate to tell: the one a capture takes when none is asked.
            if (devices[d].InputChannels > 0)
                devices[d].DefaultRate = UsualRate(static_cast<int>(d));
        }
        if (endpoints != nullptr) endpoints->Release();
    });
    return true;
}

std::unique_ptr<BlockSource> SoundSystem::CreateInput(int deviceNumber, int framesPerSecond) {
    return std::make_unique<WaveInInput>(deviceNumber, framesPerSecond);
}

}  // namespace qv
