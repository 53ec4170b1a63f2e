// quorvelle-batch's pictures: the chart at the end, the automatic captures, PNGs, the panels.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "files/capture_bitmap.h"
#include "files/whole_file.h"
#include "tests/png_pixels.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace fs = std::filesystem;

namespace {

using BatchPictures = InScratchDirectory;

TEST_F(BatchPictures, ChartPngAndPanelsAtTheEndOfTheRun) {
    ToolRun r = RunBatchTool(
        {"--quiet", "--chart", "end.BMP", "--png", "--panels", "panels", "--simulate", "40"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(static_cast<int64_t>(fs::file_size("end.BMP")), kCaptureBitmapFileSize);
    EXPECT_EQ(PngSize("end.png"), std::make_pair(768u, 340u));
    EXPECT_EQ(PngSize("panels/scope.png"), std::make_pair(126u, 168u));
    EXPECT_EQ(PngSize("panels/iq.png"), std::make_pair(168u, 168u));
    EXPECT_EQ(PngSize("panels/chart.png"), std::make_pair(766u, 338u));
    EXPECT_NE(r.Out.find("picture: end.BMP\npicture: end.png\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("picture: panels/chart.png"), std::string::npos) << r.Out;
    // Thirteen periods of red phase dots and blue level dots are in the file (BGR order).
    const std::string bytes = FileText("end.BMP");
    int red = 0, blue = 0;
    for (size_t i = 54; i + 2 < bytes.size(); i += 3) {
        red += bytes.compare(i, 3, std::string{0, 0, '\xff'}) == 0;
        blue += bytes.compare(i, 3, std::string{'\xff', 0, 0}) == 0;
    }
    EXPECT_GE(red, 2 * 2 * 13);
    EXPECT_GE(blue, 2 * 13);
    for (const auto& entry : fs::directory_iterator(dir_))  // no automatic capture asked for
        EXPECT_FALSE(
            std::regex_match(entry.path().filename().string(), std::regex(R"(\d{6}\.BMP)")));
}

TEST_F(BatchPictures, UnwritablePictureFoldersStopTheRunBeforeItStarts) {
    const std::string iq = (dir_ / "iq.txt").string();
    ToolRun chart = RunBatchTool(
        {"--quiet", "--iq-file", iq, "--chart", "/nonexistent-dir/c.BMP", "--simulate", "7"});
    EXPECT_EQ(chart.Status, 1);
    EXPECT_EQ(chart.Err,
              "quorvelle-batch: --chart /nonexistent-dir/c.BMP: cannot create: No such file or "
              "directory\n");
    EXPECT_FALSE(fs::exists(iq));  // the check left nothing behind

    std::ofstream("a-file") << "not a directory";
    ToolRun panels =
        RunBatchTool({"--quiet", "--iq-file", iq, "--panels", "a-file/panels", "--simulate", "4"});
    EXPECT_EQ(panels.Status, 1);
    EXPECT_EQ(panels.Err,
              "quorvelle-batch: --panels a-file/panels: cannot create the folder: Not a "
              "directory\n");
    EXPECT_FALSE(fs::exists(iq));

    // Automatic captures into a current directory that has gone away.
    EnterRemovedFolder((dir_ / "gone").string());
    ToolRun captures = RunBatchTool(
        {"--quiet", "--iq-file", iq, "--save-screen", "--integration", "1", "--simulate", "742"});
    fs::current_path(dir_);
    EXPECT_EQ(captures.Status, 1);
    EXPECT_EQ(captures.Err,
              "quorvelle-batch: --save-screen (the current directory): cannot create files "
              "there: No such file or directory\n");
    EXPECT_FALSE(fs::exists(iq));
}

}  // namespace

}  // namespace qv
