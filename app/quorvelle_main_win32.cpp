// quorvelle.exe: the GPS QuorVelle window on Windows. A console program, so that Ctrl-C in the
// console it was started from ends it cleanly and stdout and stderr work as on Linux.
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "app/app_options.h"
#include "app/window_win32.h"
#include "capture/recorder.h"
#include "capture/sound_system.h"
#include "common/command_line.h"
#include "files/wav_file.h"

namespace qv {

namespace {

// The sound system: the wave-input devices, and the stand-in sources the options add.
class WaveInCapture final : public CaptureSystem {
public:
    WaveInCapture(AudioThread& thread, const AppOptions& options)
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

// The hidden --dump-layout FILE (for the window's tests) taken out of the arguments: once the
// window is up, every control's place as the system reports it goes to FILE.
std::vector<char*> WithoutLayoutOption(int argc, char** argv, std::string& layoutPath) {
    std::vector<char*> kept;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--dump-layout") == 0 && i + 1 < argc) {
            layoutPath = argv[++i];
            continue;
        }
        kept.push_back(argv[i]);
    }
    kept.push_back(nullptr);
    return kept;
}

}  // namespace

// The program: options checked and files opened before any window, then the window.
int RunWindowProgram(int argc, char** argv) {
    App app;
    bool help = false, version = false;
    std::string error, layoutPath;
    std::vector<char*> args = WithoutLayoutOption(argc, argv, layoutPath);
    if (!ParseAppOptions(static_cast<int>(args.size()) - 1, args.data(), app.Options, help, version,
                         error)) {
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
        WaveInCapture sound(app.Engine.Audio, app.Options);
        app.Sound = &sound;
        app.Notifier = &PostingNotifier();
        status = RunMainWindow(app, layoutPath);
        // The window is gone; the device closes before the sound system ends.
        EndCapture(app.Engine);
    }
    return status;
}

}  // namespace qv

int main(int argc, char** argv) { return qv::RunWindowProgram(argc, argv); }
