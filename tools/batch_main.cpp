// Entry point of quorvelle-batch.
#include <iostream>

#include "capture/stop_signals.h"
#include "tools/batch.h"
#include "tools/tool_main.h"
#ifndef _WIN32
#include "serve/status_server.h"
#endif

int main(int argc, char** argv) {
    // The summary and the list of files written may still be in the stdout buffer when the run
    // ends: a stop signal from then on changes nothing.
    qv::KeepStopSignalsToTheEnd();
#ifdef _WIN32
    const qv::StartStatusService startServer;  // --serve is refused
#else
    const qv::StartStatusService startServer = qv::StartStatusServer;
#endif
    return qv::RunToolMain(argc, argv, [&startServer](int n, char** args) {
        return qv::RunBatch(n, args, std::cout, std::cerr, startServer);
    });
}
