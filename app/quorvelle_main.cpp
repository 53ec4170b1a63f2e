// quorvelle: the GPS QuorVelle window.
#include <iostream>
#include <memory>

#include "app/app_options.h"
#include "app/fltk_window.h"
#include "capture/recorder.h"
#include "capture/sound_system.h"
#include "common/command_line.h"
#include "files/wav_file.h"

namespace qv {

namespace {

// The sound system: PortAudio's inputs, and the stand-in sources the options add.
class PortAudioCapture final : public CaptureSystem {
public:
    PortAudioCapture(AudioThread& thread, const AppOptions& options)
        : system_(thread), options_(options) {}
    bool EnumerateDevices(std::vector<DeviceCapabilities>& devices, std::string& error) override {
        return system_.EnumerateDevices(devices, error);
    }
    std::unique_ptr<BlockSource> CreateSource(const DeviceList& list) override {
        return CreateSelectedSource(list, system_, options_.Simulator, options_.PlayPath);
    }

private:
    SoundSystem system_;
    const AppOptions& options_;
};

}  // namespace

// The program: options checked and files opened before any window, then the window.
int RunWindowProgram(int argc, char** argv) {
    App app;
    bool help = false, version = false;
    std::string error;
    if (!ParseAppOptions(argc, argv, app.Options, help, version, error)) {
        std::cerr << UsageErrorLine("quorvelle", error);
        return 2;
    }
    if (help) {
        std::cout << AppUsage();
        return 0;
    }
    if (version) {
        std::cout << VersionLine("quorvelle");
        return 0;
    }
    const AppOptions& o = app.Options;
    WatchWriteFailures(app);
    if (!o.PlayPath.empty()) {
        WavReader check;  // a bad recording is one clear line now, not a failed Start later
        if (!OpenWavReader(check, o.PlayPath, error)) {
            std::cerr << "quorvelle: " << error << "\n";
            return 1;
        }
    }
    // Before the log and the recording, which could otherwise take a CSV file's name.
    if (!OpenCsvFiles(app, error)) {
        std::cerr << "quorvelle: " << error << "\n";
        return 1;
    }
    // Line by line, so that a long run's log can be followed live.
    if (!o.LogPath.empty() && !app.Log.Open(o.LogPath, LogStart::Append, true, error)) {
        std::cerr << "quorvelle: " << error << "\n";
        return 1;
    }
    Recorder recorder;
    if (!o.RecordPath.empty()) {
        if (!recorder.Open(o.RecordPath, error)) {
            std::cerr << "quorvelle: " << error << "\n";
            return 1;
        }
        app.Chain.Recording = &recorder;
    }

    int status = 0;
    {
        PortAudioCapture sound(app.Engine.Audio, app.Options);
        app.Sound = &sound;
        app.Notifier = &AwakeNotifier();
        status = RunMainWindow(app);
        // The window is gone; the device closes with the process, before PortAudio ends.
        EndCapture(app.Engine);
    }
    return status;
}

}  // namespace qv

int main(int argc, char** argv) { return qv::RunWindowProgram(argc, argv); }
