// The window program's command line: what it refuses before any window opens, with one line
// and a failing exit status, so a typing error never leaves a station half set up, and a FIFO
// never holds it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

// Runs quorvelle without a display: these runs must end before they would need one.
ToolRun RunWindowProgram(const TestFolder& folder, std::vector<std::string> args) {
    args.insert(args.begin(), QUORVELLE_BIN);
    return RunProgram(args, {"DISPLAY="}, folder.Path("out"), folder.Path("err"),
                      std::chrono::seconds(20));
}

}  // namespace

// --help lists the options; without a display the window says so in one line that points to the
// batch tool.
TEST(WindowProgram, HelpListsTheOptionsAndNoDisplayPointsToTheBatchTool) {
    TestFolder folder;
    const ToolRun help = RunWindowProgram(folder, {"--help"});
    EXPECT_EQ(help.Status, 0);
    for (const char* option : {"--simulate", "--play", "--record", "--log-readouts", "--csv",
                               "--iq-csv", "--daily", "--ppm", "--rate"}) {
        EXPECT_NE(help.Out.find(option), std::string::npos) << option;
    }
    const ToolRun r = RunWindowProgram(folder, {"--simulate"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("cannot open the display"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("quorvelle-batch"), std::string::npos) << r.Err;
}

TEST(WindowProgram, BadOptionsAndUnusableFilesAreOneLineBeforeAnyWindow) {
    TestFolder folder;
    WriteText(folder.Path("text.wav"), "this is not a recording");
    WriteText(folder.Path("notes.csv"), "my own notes\n");
    const std::string missingDir = folder.Path("missing/x");
    // A FIFO holds the program at no open: refused as the input, or without a reader.
    const std::string fifo = folder.Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string noReader = fifo + ": cannot open: a FIFO that no program reads";
    struct Case {
        std::vector<std::string> Args;
        int Status;
        std::string Says;
    };
    for (const Case& c : std::vector<Case>{
             {{"--frobnicate"}, 2, "quorvelle: unknown option --frobnicate (see --help)"},
             {{"--log-readouts"}, 2, "--log-readouts needs a value"},
             {{"--ppm", "5"}, 2, "need --simulate"},
             {{"--simulate", "--ppm", "lots"}, 2, "--ppm"},
             {{"--play", folder.Path("none.wav")}, 1, "none.wav"},
             {{"--play", folder.Path("text.wav")}, 1, "text.wav"},
             {{"--simulate", "--log-readouts", missingDir}, 1, missingDir + ": cannot open"},
             {{"--simulate", "--record", missingDir}, 1, missingDir},
             {{"--simulate", "--iq-csv", missingDir}, 1, missingDir + ": cannot open"},
             {{"--simulate", "--csv", folder.Path("notes.csv")},
              1,
              "notes.csv: holds something else"},
             {{"--csv", folder.Path("x"), "--record", folder.Path("x")}, 1, "are one file"},
             {{"--log-readouts", folder.Path("x"), "--record", folder.Dir() + "/./x"},
              1,
              "are one file"},
             // (in the current directory: refused before anything is made there)
             {{"--simulate", "--iq-csv", "IQfile.journal.pid7"},
              1,
              "--iq-csv IQfile.journal.pid7 is an I/Q journal's name"},
             {{"--play", fifo}, 1, fifo + ": cannot open: a FIFO, not a regular file"},
             {{"--simulate", "--log-readouts", fifo}, 1, noReader},
             {{"--simulate", "--csv", fifo}, 1, noReader},
             {{"--daily", folder.Path("days"), "--iq-csv", folder.Path("y.csv")},
              2,
              "--daily names its files itself: leave out --iq-csv"},
             {{"--simulate", "--daily", folder.Path("notes.csv") + "/days"},
              1,
              "quorvelle: --daily " + folder.Path("notes.csv") + "/days/"},
             {{"--simulate", "--record", fifo},
              1,
              fifo + ": cannot create: a FIFO that no program reads"},
         }) {
        const ToolRun r = RunWindowProgram(folder, c.Args);
        EXPECT_EQ(r.Status, c.Status) << c.Args[0] << "\n" << r.Err;
        EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    }
    EXPECT_EQ(FileText(folder.Path("notes.csv")), "my own notes\n");
}

}  // namespace qv
