// Standard error as a terminal, on Windows: a console (the C runtime's isatty also says yes for
// the NUL device), with its escape sequences turned on.
#include <windows.h>

#include "tools/terminal.h"

namespace qv {

bool StderrIsTerminal() {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (err == INVALID_HANDLE_VALUE || err == nullptr || !GetConsoleMode(err, &mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    return SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace qv
