// Whether the tools' standard error is a terminal that can show a line rewritten in place (a
// carriage return, and the escape sequence that clears to the end of the line): the system's
// answer (common/os.h).
#pragma once

#include "common/os.h"

namespace qv {

using os::StderrIsTerminal;

}  // namespace qv
