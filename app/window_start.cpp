// The window program's start, the same on every system.
#include "app/window_start.h"

#include <iostream>

#include "app/app_options.h"
#include "app/measurements_folder.h"
#include "common/command_line.h"
#include "common/os.h"
#include "files/wav_file.h"

namespace qv {

int StartWindowProgram(int argc, char** argv, App& app, Recorder& recorder) {
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
    // Before any file is opened: the command line's names are made absolute on the way.
    std::string documents;
    if (app.Options.Folder.empty() && !os::DocumentsFolder(documents, error)) {
        app.StartupNotice = error + ".\nMeasurements are written to the current folder instead.";
    } else if (!EnterMeasurementsFolder(app.Options, documents, app.StartupNotice, error)) {
        std::cerr << "quorvelle: " << error << "\n";
        return 1;
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
    if (!o.DailyDir.empty() ? !OpenDayFiles(app, error) : !OpenCsvFiles(app, error)) {
        std::cerr << "quorvelle: " << error << "\n";
        return 1;
    }
    // Line by line, so that a long run's log can be followed live.
    if (!o.LogPath.empty() && !app.Log.Open(o.LogPath, LogStart::Append, true, error)) {
        std::cerr << "quorvelle: " << error << "\n";
        return 1;
    }
    if (!o.RecordPath.empty()) {
        if (!recorder.Open(o.RecordPath, error)) {
            std::cerr << "quorvelle: " << error << "\n";
            return 1;
        }
        app.Chain.Recording = &recorder;
    }
    return -1;
}

}  // namespace qv
