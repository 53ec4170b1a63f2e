// Command-line options of the signal simulator, shared by the window, quorvelle-batch and
// quorvelle-sim.
#pragma once

#include <string>

#include "capture/signal_simulator.h"

namespace qv {

// Looks at argv[i]. If it is a simulator option ("--ppm 12.5" or "--ppm=12.5"), stores its
// value in `settings`, advances i past the option and its value, and returns 1. Returns 0,
// leaving i alone, if argv[i] is not a simulator option. Returns -1 with one line in `error`
// when the value is missing, is not a plain finite number, or is out of range; i is then
// unspecified.
int ParseSimulatorOption(int argc, char** argv, int& i, SimulatorSettings& settings,
                         std::string& error);

// Checks what single options cannot: that the card's clock error, with its drift and wander,
// stays within the +-10000 ppm the options allow for --ppm, over settings.Seconds or, for a
// simulator that runs until it is stopped, over 30 days. False with one line in `error` if not.
bool CheckSimulatorCard(const SimulatorSettings& settings, bool untilEnd, std::string& error);

// The option lines with their defaults, for usage texts; each line ends in '\n'.
std::string SimulatorOptionsHelp();

}  // namespace qv
