// The window program's start, the same on every system: the options checked and the files
// opened before any window, and the sound system the window captures from.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/main_handler.h"
#include "capture/recorder.h"
#include "capture/sound_system.h"

namespace qv {

// The sound system: the system's own inputs, and the stand-in sources the options add.
class WindowCapture final : public CaptureSystem {
public:
    WindowCapture(AudioThread& thread, const AppOptions& options)
        : system_(thread), options_(options) {}
    bool EnumerateDevices(std::vector<DeviceCapabilities>& devices, std::string& error) override {
        return system_.EnumerateDevices(devices, error);
    }
    std::unique_ptr<BlockSource> CreateSource(const DeviceList& list) override {
        return CreateSelectedSource(list, system_, options_.Simulator, options_.PlayPath,
                                    options_.Presets.Rate);
    }

private:
    SoundSystem system_;
    const AppOptions& options_;
};

// Reads the options into `app` and opens its files (the recording in `recorder`). -1 when the
// window is to open; else the program's exit status, with the help, the version or the one line
// saying what failed written.
int StartWindowProgram(int argc, char** argv, App& app, Recorder& recorder);

}  // namespace qv
