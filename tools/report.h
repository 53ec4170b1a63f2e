// quorvelle-report: a picture (and optionally a text) of a whole run from its --csv and
// --iq-csv files.
#pragma once

#include <ostream>

namespace qv {

// Runs the tool; returns its exit status: 0 success, 1 input or output error, 2 bad usage.
int RunReport(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace qv
