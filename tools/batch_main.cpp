// Entry point of quorvelle-batch.
#include <iostream>

#include "capture/stop_signals.h"
#include "serve/status_server.h"
#include "tools/batch.h"
#include "tools/tool_main.h"

int main(int argc, char** argv) {
    // The summary and the list of files written may still be in the stdout buffer when the run
    // ends: a stop signal from then on changes nothing.
    qv::KeepStopSignalsToTheEnd();
    const qv::StartStatusService startServer = qv::StartStatusServer;
    return qv::RunToolMain(argc, argv, [&startServer](int n, char** args) {
        return qv::RunBatch(n, args, std::cout, std::cerr, startServer);
    });
}
