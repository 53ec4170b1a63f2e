// The sound system: its input devices and capture streams, every call into it made on the audio
// thread. PortAudio on Linux (sound_system_portaudio.cpp), winmm's waveIn on Windows
// (sound_system_wavein.cpp). Also turns the selected device-list entry into its block source.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "capture/audio_thread.h"
#include "capture/capture_engine.h"
#include "capture/device_list.h"
#include "capture/signal_simulator.h"

namespace qv {

class SoundSystem final : public DeviceEnumerator {
public:
    // `thread` must be the capture engine's audio thread and outlive this object.
    explicit SoundSystem(AudioThread& thread);
    ~SoundSystem();
    SoundSystem(const SoundSystem&) = delete;
    SoundSystem& operator=(const SoundSystem&) = delete;

    bool EnumerateDevices(std::vector<DeviceCapabilities>& devices, std::string& error) override;
    // Lets go of the devices listed last, so that the next EnumerateDevices sees the devices
    // present now (a card plugged in again may have a new number). Only while no stream is open.
    void ForgetDevices();

    // A source that captures from device `deviceNumber` (-1: the sound system's default
    // input), stereo, 16-bit, at `framesPerSecond` (--rate; 0: the rate ChooseDeviceRate takes
    // for the device); nothing is opened until the engine opens it, and a device that cannot
    // deliver the rate fails to open with one line saying which rates it offers.
    std::unique_ptr<BlockSource> CreateInput(int deviceNumber, int framesPerSecond = 0);

private:
    AudioThread& thread_;
    // This object holds one initialisation of the sound system (PortAudio's; on Windows COM's,
    // on the audio thread, for the devices' full names).
    bool initialised_ = false;
    // Linux: the desktop sound server's sources (their server names) that the last
    // EnumerateDevices listed after the sound system's own devices, from firstDesktopSource_ on.
    std::vector<std::string> desktopSources_;
    int firstDesktopSource_ = 0;
};

// The source for the selected entry of `list`: the simulator (running until End), the played
// recording, or the selected sound card (PortAudio's default input when nothing is selected).
// `framesPerSecond` (--rate; 0: none) is the sound card's and the simulator's rate; a recording
// plays at its own.
std::unique_ptr<BlockSource> CreateSelectedSource(const DeviceList& list, SoundSystem& system,
                                                  const SimulatorSettings& simulator,
                                                  const std::string& playPath,
                                                  int framesPerSecond = 0);

}  // namespace qv
