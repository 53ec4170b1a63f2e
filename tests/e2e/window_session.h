// The window program under a private X server, as the window's end-to-end tests drive it: the
// server, the program started in a test folder of its own (its output in app.out and app.err),
// xdotool commands that must succeed, the title, and waits that end with the program.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/private_display.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

class WindowSession : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(x_.Start(error)) << "cannot start a private X server: " << error;
    }

    // Starts the window program with `args` in the test's folder, on the private display.
    void StartProgram(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"env", "-C", folder_.Dir(), QUORVELLE_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string error;
        ASSERT_TRUE(app_.Start(argv, x_.Environment(), folder_.Path("app.out"),
                               folder_.Path("app.err"), error))
            << error;
    }

    int X(const std::vector<std::string>& argv, std::string& out) { return x_.Run(argv, out); }
    void XOrFail(const std::vector<std::string>& argv) {
        std::string out;
        ASSERT_EQ(X(argv, out), 0) << argv[0] << " " << argv[1] << ": " << x_.LastError()
                                   << (app_.Running() ? "" : "the program has ended\n") << AppErr();
    }

    // The main window's title, without the line end xdotool adds.
    std::string Title() {
        std::string title;
        X({"xdotool", "getwindowname", window_}, title);
        while (!title.empty() && (title.back() == '\n' || title.back() == '\r')) title.pop_back();
        return title;
    }

    // Polls `condition` until it holds or `limit` passes; false then, or when the program ended
    // without the condition holding.
    bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
        return WaitWhileRunning(app_, condition, limit);
    }

    std::string Log() const { return folder_.Path("readouts.tsv"); }
    std::string AppErr() const { return "program's stderr:\n" + FileText(folder_.Path("app.err")); }

    TestFolder folder_;
    PrivateXServer x_;
    ChildProcess app_;
    std::string window_;  // the main window's id, once found
};

}  // namespace qv
