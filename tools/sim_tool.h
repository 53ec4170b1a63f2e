// quorvelle-sim: writes the signal simulator's stream to a stereo 16-bit WAV file at 8000 Hz
// or a card's own rate.
#pragma once

#include <ostream>

namespace qv {

// Runs the tool; returns its exit status: 0 success, 1 output error, 2 bad usage.
int RunSimTool(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace qv
