// Where the window writes its measurements (the I/Q file, the chart captures, the I/Q journal):
// the folder the command line names (--folder); else, on Windows, "GPS QuorVelle" in the user's
// Documents, since the program's own folder under Program Files cannot be written; else the
// current directory, as on Linux. The folder is made on first use, and the window then works in
// it as its current directory, so every name the window makes up lands there.
#pragma once

#include <string>

#include "app/main_handler.h"

namespace qv {

inline constexpr const char* kMeasurementsFolderName = "GPS QuorVelle";  // in Documents

// The folder by the rule above: `given` is --folder's value ("" when none), `documents` the
// user's Documents folder ("" where the system has none to offer). "" for the current
// directory.
std::string MeasurementsFolderFor(const std::string& given, const std::string& documents);

// Makes `folder` when nothing is under its name yet (its parent must exist); "" when it is a
// folder now, else "FOLDER: cannot ... : reason" in one line.
std::string MakeReadyFolder(const std::string& folder);

// Moves the window into its measurements folder (`documents` as for MeasurementsFolderFor),
// with the names the command line gave (recording, log, CSV files) made absolute first, so that
// they still name the files beside where the program was started. False with one line in
// `error` when the folder given on the command line cannot be used. When the Documents folder
// cannot be used, the window stays in the current directory and `notice` says why, for the box
// at start-up.
bool EnterMeasurementsFolder(AppOptions& o, const std::string& documents, std::string& notice,
                             std::string& error);

}  // namespace qv
