// quorvelle: the GPS QuorVelle window.
#include "app/fltk_window.h"
#include "app/window_start.h"
#include "capture/stop_signals.h"

namespace qv {

// The program: options checked and files opened before any window, then the window.
int RunWindowProgram(int argc, char** argv) {
    App app;
    Recorder recorder;
    const int ended = StartWindowProgram(argc, argv, app, recorder);
    if (ended >= 0) return ended;

    int status = 0;
    {
        WindowCapture sound(app.Engine.Audio, app.Options);
        app.Sound = &sound;
        app.Notifier = &AwakeNotifier();
        status = RunMainWindow(app);
        // The window is gone; the device closes with the process, before PortAudio ends.
        EndCapture(app.Engine);
    }
    return status;
}

}  // namespace qv

int main(int argc, char** argv) {
    qv::KeepStopSignalsToTheEnd();  // a stop signal during the exit changes nothing
    return qv::RunWindowProgram(argc, argv);
}
