// The main window as every toolkit builds it: the one entry the program's main calls, whichever
// toolkit (app/fltk/ on Linux, app/win32/ on Windows) is linked in.
#pragma once

#include <string>

#include "app/main_handler.h"

namespace qv {

// Height of the status line below the client area [pixels, at the UI scale 1]: the window is
// this much taller than its menu bar and the control table's client area together.
constexpr int kStatusLineHeight = 20;

// Builds the window, initialises it through the handler, shows it centred and runs the event
// loop until the window is gone. A stop request (SIGINT, SIGTERM and SIGHUP; on Windows Ctrl-C,
// Ctrl-Break or a closed console) closes any box waiting for the user and ends the program as
// the close box does. `layoutPath`, when not empty, gets every control's place as the system
// reports it once the window is up, and again each time it has moved to a screen of another
// scaling, where the toolkit can say it (Windows). Returns the
// program's exit status: 1 when the capture failed, else 0.
int RunMainWindow(App& app, const std::string& layoutPath);

// The notifier that posts filled blocks to the window's event loop.
CaptureNotifier& WindowNotifier();

}  // namespace qv
