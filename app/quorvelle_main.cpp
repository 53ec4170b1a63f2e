// quorvelle: the GPS QuorVelle window. On Windows a window program that takes the console it
// was started from, if any, so that Ctrl-C there ends it cleanly and stdout and stderr work as
// on Linux.
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/window.h"
#include "app/window_start.h"
#include "capture/stop_signals.h"
#include "common/os.h"
#include "report/report_run.h"
#include "serve/status_server.h"

namespace qv {

namespace {

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
    std::string layoutPath;
    std::vector<char*> args = WithoutLayoutOption(argc, argv, layoutPath);
    Recorder recorder;
    const int ended =
        StartWindowProgram(static_cast<int>(args.size()) - 1, args.data(), app, recorder);
    if (ended >= 0) return ended;
    // --serve: the status page listens before the window opens, and stops once it has closed.
    StatusExchange exchange;
    // The report of the day so far (--daily) or of the run (the CSV options), drawn as
    // quorvelle-batch's page draws it.
    StatusPages pages(exchange, ReportPng);
    StatusHost statusHost(app.Host, exchange, [&app] {
        if (app.Days) {
            return std::make_pair(app.Days->Path(kDailySecondsName),
                                  app.Days->Path(kDailyPeriodsName));
        }
        return std::make_pair(app.Options.CsvPath, app.Options.IqCsvPath);
    });
    std::unique_ptr<StatusService> server;
    if (app.Options.Serve) {
        std::string error;
        server = StartStatusServer(app.Options.ServeAt, pages, error);
        if (!server) {
            std::cerr << "quorvelle: " << error << "\n";
            return 1;
        }
        std::cerr << "quorvelle: status page: " << ServeUrl(app.Options.ServeAt, server->Port())
                  << "\n"
                  << std::flush;
        app.StatusPage = &statusHost;
    }

    int status = 0;
    {
        WindowCapture sound(app.Engine.Audio, app.Options);
        app.Sound = &sound;
        app.Notifier = &WindowNotifier();
        status = RunMainWindow(app, layoutPath);
        // The window is gone; the device closes before the sound system ends.
        EndCapture(app.Engine);
    }
    return status;
}

}  // namespace qv

int main(int argc, char** argv) {
    qv::os::PrepareConsole();
    qv::KeepStopSignalsToTheEnd();  // a stop request during the exit changes nothing
    return qv::RunWindowProgram(argc, argv);
}
