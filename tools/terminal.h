// Whether the tools' standard error is a terminal that can show a line rewritten in place (a
// carriage return, and the escape sequence that clears to the end of the line).
#pragma once

namespace qv {

// True when standard error is such a terminal. On Windows: a console, whose escape-sequence
// processing this turns on (Windows 10 and later have it; without it, false).
bool StderrIsTerminal();

}  // namespace qv
