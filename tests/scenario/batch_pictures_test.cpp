// quorvelle-batch's automatic captures over twelve simulated minutes: the 739th period's chart
// under names that are taken, and a capture that cannot be written at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "files/capture_bitmap.h"
#include "files/whole_file.h"
#include "tests/png_pixels.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

using BatchPictures = InScratchDirectory;

// The automatic capture comes at the 739th period, named by the stream time. A name taken (by
// the run's own CSV file, a link to a file of the user's, a hard link) is passed over for the
// next free one, and stderr says so; nothing under a taken name changes, the CSV goes on whole.
TEST_F(BatchPictures, SaveScreenCapturesAtThe739thPeriodOnStreamTime) {
    std::ofstream("precious.wav") << "a precious recording";
    fs::create_symlink("precious.wav", "101218-2.BMP");
    fs::create_hard_link("precious.wav", "101218-3.png");
    ToolRun r =
        RunBatchTool({"--quiet", "--save-screen", "--png", "--integration", "1", "--start-time",
                      "10:00:00", "--csv", "101218.BMP", "--simulate", "745"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    // The 739th one-second period closes in the last frames before 12:19 after the start (the
    // first period closes a sample early), so the name is that second's.
    EXPECT_EQ(r.Err,
              "quorvelle-batch: 101218.BMP is taken; the chart is in 101218-3.BMP\n"
              "quorvelle-batch: 101218-3.png is taken; the PNG is in 101218-4.png\n");
    EXPECT_EQ(r.Out, "CSV: 101218.BMP\npicture: 101218-3.BMP\npicture: 101218-4.png\n");
    EXPECT_EQ(static_cast<int64_t>(fs::file_size("101218-3.BMP")), kCaptureBitmapFileSize);
    EXPECT_EQ(PngSize("101218-4.png"), std::make_pair(768u, 340u));
    EXPECT_EQ(FileText("precious.wav"), "a precious recording");
    const std::vector<std::string> rows = TextLines("101218.BMP");
    ASSERT_GT(rows.size(), 700u);
    EXPECT_EQ(rows[0].rfind("time,t_s,", 0), 0u);
    EXPECT_EQ(rows.back().rfind("10:12:", 0), 0u) << rows.back();
}

// An automatic capture that cannot be written (every name it could take is a folder) is
// reported when it happens, on stderr and in the log; the run goes on and keeps its other
// results.
TEST_F(BatchPictures, FailedCaptureIsReportedAtOnceAndTheRunGoesOn) {
    for (int n = 1; n <= kMostNumberedNames; ++n)
        fs::create_directories(NumberedName("101218.BMP", n));
    ToolRun r = RunBatchTool({"--quiet", "--save-screen", "--integration", "1", "--start-time",
                              "10:00:00", "--iq-file", "iq.txt", "--log", "log.tsv", "--chart",
                              "end.BMP", "--simulate", "745"});
    EXPECT_EQ(r.Status, 1);
    const std::string failure =
        "101218.BMP: cannot create: every name up to 101218-99.BMP is taken";
    EXPECT_EQ(r.Err, "quorvelle-batch: " + failure + "\n");
    std::ifstream in("log.tsv");
    std::string line, captureLine;
    while (std::getline(in, line)) {
        if (line.find("\tCAPTURE\t") != std::string::npos) captureLine = line;
    }
    EXPECT_EQ(captureLine, "10:12:18.999\tCAPTURE\tchart not saved: " + failure);
    EXPECT_EQ(r.Out, "I/Q file: iq.txt\nread-out log: log.tsv\npicture: end.BMP\n");
    EXPECT_EQ(static_cast<int64_t>(fs::file_size("end.BMP")), kCaptureBitmapFileSize);
}

}  // namespace

}  // namespace qv
