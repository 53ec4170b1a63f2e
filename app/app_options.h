// The window program's command line.
#pragma once

#include <string>

#include "app/main_handler.h"

namespace qv {

// Reads the options; `help` set by --help, `version` by --version. False with one line in
// `error` for anything else it does not know, a missing value, or a bad simulator setting.
bool ParseAppOptions(int argc, char** argv, AppOptions& options, bool& help, bool& version,
                     std::string& error);

std::string AppUsage();

}  // namespace qv
