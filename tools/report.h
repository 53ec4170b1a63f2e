// quorvelle-report: a picture (and optionally a text) of a whole run from its --csv and
// --iq-csv files.
#pragma once

#include <ostream>
#include <string>

namespace qv {

// Runs the tool; returns its exit status: 0 success, 1 input or output error, 2 bad usage.
int RunReport(int argc, char** argv, std::ostream& out, std::ostream& err);

// The picture RunReport would write for `readouts` (and `periods`, when not empty), as PNG
// bytes in `png`; false with one line in `error` when the files hold nothing to draw.
bool ReportPng(const std::string& readouts, const std::string& periods, std::string& png,
               std::string& error);

}  // namespace qv
