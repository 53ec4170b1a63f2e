// The window program under a private X server, driven by the keyboard: Tab order through the
// controls and out of the magnification options, Alt+S and Enter, presets from the command
// line, messages on the status line, and the exit status of a Start that fails.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/window_session.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

class WindowKeyboard : public WindowSession {
protected:
    // Starts the window program in the test's folder and gives its window the keyboard.
    void Launch(const std::vector<std::string>& args) {
        ASSERT_NO_FATAL_FAILURE(StartProgram(args));
        ASSERT_NO_FATAL_FAILURE(Focus(window_, true));
    }

    std::vector<std::string> Messages() const { return LogTexts(Log(), "MESSAGE"); }
};

}  // namespace

// Tab walks the controls in table order from Start (which has the focus first), skipping "/1",
// leaves the magnification options for the device list and wraps round to Start; Shift+Tab
// walks back. Space presses what has the focus: here "Capture screen" (its message on the
// status line and in the log) and "Blank RF click", which --no-blank cleared at start-up.
TEST_F(WindowKeyboard, TabFollowsTheControlTableAndWrapsRound) {
    ASSERT_NO_FATAL_FAILURE(Launch({"--simulate", "--no-blank", "--log-readouts", Log()}));

    // Start, End, Reset All, Clear V-scope, Clear display, Fix offset, Capture screen.
    ASSERT_NO_FATAL_FAILURE(Key("Tab", 6));
    ASSERT_NO_FATAL_FAILURE(Key("space"));
    ASSERT_TRUE(WaitFor([&] { return Messages().size() == 1; }, 5s)) << FileText(Log());
    const std::string saved = Messages()[0];
    ASSERT_EQ(saved.rfind("Chart saved: " + folder_.Dir() + "/", 0), 0u) << saved;
    EXPECT_TRUE(std::filesystem::exists(saved.substr(saved.find('/'))));

    // Lock frequency, offset, integration time, then "Blank RF click": preset off, now on.
    ASSERT_NO_FATAL_FAILURE(Key("Tab", 4));
    ASSERT_NO_FATAL_FAILURE(Key("space"));
    EXPECT_TRUE(WaitFor([&] { return Title() == "1"; }, 5s)) << Title();

    // Inverted, /10, /100, /1000, the device list, then round through all 16 stops to
    // "Blank RF click" again.
    ASSERT_NO_FATAL_FAILURE(Key("Tab", 16));
    ASSERT_NO_FATAL_FAILURE(Key("space"));
    EXPECT_TRUE(WaitFor([&] { return Title() == "-1"; }, 5s))
        << "the focus did not come round to \"Blank RF click\": " << Title();

    // Back over the three entries to "Capture screen".
    ASSERT_NO_FATAL_FAILURE(Key("shift+Tab", 4));
    ASSERT_NO_FATAL_FAILURE(Key("space"));
    EXPECT_TRUE(WaitFor([&] { return Messages().size() == 2; }, 5s)) << FileText(Log());

    // Alt+S opens "Setup" with "Save I,Q to file?" chosen; Enter ticks it. End (Tab from
    // "Capture screen" round to it) then writes the I/Q file and says where.
    ASSERT_NO_FATAL_FAILURE(MenuByKeys("alt+s", "Return"));
    ASSERT_NO_FATAL_FAILURE(Key("Tab", 11));  // entries, boxes, options, list, Start, End
    ASSERT_NO_FATAL_FAILURE(Key("space"));
    ASSERT_EQ(app_.Wait(20s), 0) << AppErr();
    const std::vector<std::string> messages = Messages();
    ASSERT_EQ(messages.size(), 3u) << FileText(Log());
    EXPECT_EQ(messages[2].rfind("I/Q file written: " + folder_.Dir() + "/IQfile ", 0), 0u)
        << messages[2];
    EXPECT_NE(FileText(folder_.Path("app.err")).find(messages[2]), std::string::npos) << AppErr();
}

// A Start that fails (here the recording to play has gone since start-up) shows the failure
// with what to try, and once the box is closed the program ends with exit status 1 and one
// stderr line naming the input and the reason.
TEST_F(WindowKeyboard, FailedStartEndsWithStatusOne) {
    const std::string wav = folder_.Path("gone.wav");
    WriteWavFile(wav, std::vector<Frame>(8000));
    ASSERT_NO_FATAL_FAILURE(Launch({"--play", wav, "--log-readouts", Log()}));
    std::filesystem::remove(wav);
    ASSERT_NO_FATAL_FAILURE(Key("space"));  // Start has the focus
    ASSERT_TRUE(WaitFor([&] { return !OtherWindows().empty(); }, 10s)) << "no message box";
    ASSERT_NO_FATAL_FAILURE(Key("Return"));
    EXPECT_EQ(app_.Wait(20s), 1) << AppErr();
    const std::string err = FileText(folder_.Path("app.err"));
    EXPECT_NE(err.find("quorvelle: cannot start the capture from "), std::string::npos) << err;
    EXPECT_NE(err.find("gone.wav"), std::string::npos) << err;
}

}  // namespace qv
