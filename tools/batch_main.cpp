// Entry point of quorvelle-batch.
#include <iostream>

#include "capture/stop_signals.h"
#include "common/os.h"
#include "tools/batch.h"

int main(int argc, char** argv) {
    qv::os::PrepareConsole();
    // The summary and the list of files written may still be in the stdout buffer when the run
    // ends: a stop signal from then on changes nothing.
    qv::KeepStopSignalsToTheEnd();
    return qv::RunBatch(argc, argv, std::cout, std::cerr);
}
