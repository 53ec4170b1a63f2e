// The entry point the command-line tools share around their own: the console made ready
// (common/os.h), and on Windows a console of the tool's own, as when it is double-clicked in
// Explorer, kept open with its messages until a key is pressed; started that way with no
// arguments, the tool shows its usage (--help) rather than a usage error.
#pragma once

#include <iostream>

#include "common/os.h"

namespace qv {

// `run(argc, argv)`'s exit status, run as above.
template <typename Run>
int RunToolMain(int argc, char** argv, Run run) {
    os::PrepareConsole();
    const bool ownConsole = os::ConsoleOfItsOwn();
    char help[] = "--help";
    char* helpArgv[] = {argv[0], help, nullptr};
    const int status = ownConsole && argc == 1 ? run(2, helpArgv) : run(argc, argv);
    if (ownConsole) {
        std::cout.flush();
        os::WaitForKeyBeforeClosing();
    }
    return status;
}

}  // namespace qv
