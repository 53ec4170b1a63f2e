// quorvelle-batch: the whole measurement chain over a recording or the simulator, as fast as
// the processor allows, with stream time instead of the wall clock.
#pragma once

#include <ostream>

#include "serve/status_pages.h"

namespace qv {

// Runs the tool; returns its exit status: 0 success, 1 input or output error, 2 bad usage.
// `startServer` serves --serve's status page; without it --serve is refused.
int RunBatch(int argc, char** argv, std::ostream& out, std::ostream& err,
             const StartStatusService& startServer);
int RunBatch(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace qv
