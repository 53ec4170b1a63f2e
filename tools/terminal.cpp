// Standard error as a terminal, on Linux.
#include "tools/terminal.h"

#include "common/platform.h"

namespace qv {

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

}  // namespace qv
