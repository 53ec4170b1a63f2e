// The main window in FLTK: the controls of the control table at their pixel positions below a
// menu bar, event translation into the portable handler, and capture blocks posted to the GUI
// thread with Fl::awake.
#pragma once

#include "app/main_handler.h"

namespace qv {

// Height of the menu bar above the client area [pixels]; every control sits this much lower
// than its client-area position.
constexpr int kMenuBarHeight = 25;
// Height of the status line below the client area [pixels]: the window is this much taller
// than menu bar and client area together.
constexpr int kStatusLineHeight = 20;

// Builds the window, initialises it through the handler, shows it centred and runs the event
// loop until the window is gone. SIGINT, SIGTERM and SIGHUP close any box waiting for the user
// and end the program as the close box does. Returns the program's exit status: 1 when the
// capture failed, else 0.
int RunMainWindow(App& app);

// The notifier that posts filled blocks to the FLTK event loop.
CaptureNotifier& AwakeNotifier();

}  // namespace qv
