// The main window in Win32: a dialog-class window built in memory, the controls of the control
// table as real child controls at their pixel positions, the "&Setup" menu, the status line,
// and capture blocks posted to the window's thread as window messages.
#pragma once

#include <string>

#include "app/main_handler.h"

namespace qv {

// Height of the status line below the client area [pixels, at the UI scale 1]: the window's
// client area is this much taller than the control table's.
constexpr int kStatusLineHeight = 20;

// Builds the window, initialises it through the handler, shows it centred and runs the message
// loop until the window is gone. A stop request (Ctrl-C, Ctrl-Break or a closed console, which
// StopSignals reports) closes any box waiting for the user and ends the program as the close box
// does. `layoutPath`, when not empty, gets every control's place as the system reports it once
// the window is up. Returns the program's exit status: 1 when the capture failed, else 0.
int RunMainWindow(App& app, const std::string& layoutPath = "");

// The notifier that posts filled blocks to the window's message queue.
CaptureNotifier& PostingNotifier();

}  // namespace qv
