// quorvelle-batch with an I/Q file that cannot be written: reported at once, the other outputs
// still written, over a recording and live.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "files/iq_file.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

// An I/Q file that cannot be written (a full disk) is reported at once, on stderr and in the
// log; the other outputs are still written and listed, the I/Q file is not. Over a recording
// and live.
TEST(BatchOutputs, FailingIqFileIsReportedAtOnceAndTheOtherOutputsAreWritten) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TestFolder folder;
    const std::string log = folder.Path("log.tsv"), chart = folder.Path("c.BMP");
    const std::string failure = "/dev/full: cannot write: No space left on device";
    for (const bool live : {false, true}) {
        std::vector<std::string> args = {"--quiet",   "--integration", "1", "--iq-file",
                                         "/dev/full", "--log",         log, "--chart",
                                         chart,       "--simulate",    "3"};
        if (live) args.insert(args.end() - 2, {"--capture", "--seconds", "2"});
        ToolRun r = RunBatchTool(args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_EQ(r.Err, "quorvelle-batch: " + failure + " (the run goes on)\n");
        const std::vector<LogLine> lines = ReadLog(log);
        ASSERT_GT(lines.size(), 10u);
        EXPECT_EQ(lines[0].Name + "\t" + lines[0].Text,
                  "CAPTURE\tI/Q file not written: " + failure);
        EXPECT_TRUE(live || lines[0].Time == "00:00:00.000") << lines[0].Time;
        EXPECT_EQ(r.Out, "read-out log: " + log + "\npicture: " + chart + "\n");
    }
}

}  // namespace

}  // namespace qv
