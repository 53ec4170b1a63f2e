// The Windows quorvelle-report against its Linux build: the same CSV files give the same text
// and the same picture, pixel for pixel, and a bad input the same status and line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/png_pixels.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tests/wine/wine_program.h"

namespace qv {

namespace {

const std::string kLinuxReport = QUORVELLE_REPORT_BIN;
const std::string kReportExe = "quorvelle-report.exe";

// Output with LF line ends and each system's picture path as "@", so that both texts compare.
std::string Comparable(std::string text, const std::string& picture) {
    text = Lf(text);
    for (size_t at = text.find(picture); at != std::string::npos; at = text.find(picture, at)) {
        text.replace(at, picture.size(), "@");
    }
    return text;
}

}  // namespace

TEST(WindowsReport, SameTextAndPixelsAsLinux) {
    const std::string why = WineUnavailable(kReportExe);
    ASSERT_EQ(why, "") << why;
    TestFolder folder;
    const std::string seconds = folder.Path("s.csv"), periods = folder.Path("iq.csv");
    // A run that crosses midnight, with a killed run's cut-off last line.
    const ToolRun batch = RunLinuxProgram(folder, QUORVELLE_BATCH_BIN,
                                          {"--quiet", "--csv", seconds, "--iq-csv", periods,
                                           "--start-time", "23:58:00", "--simulate", "240"});
    ASSERT_EQ(batch.Status, 0) << batch.Err;
    WriteText(seconds, FileText(seconds) + "23:59:59.000,3");

    auto args = [&](const std::string& png) {
        return std::vector<std::string>{"--text", "--rf-frequency", "7850000", "--output",
                                        png,      seconds,          periods};
    };
    const ToolRun linux = RunLinuxProgram(folder, kLinuxReport, args(folder.Path("linux.png")));
    const ToolRun windows = RunWindowsProgram(folder, kReportExe, args(folder.Path("win.png")));
    ASSERT_EQ(linux.Status, 0) << linux.Err;
    ASSERT_EQ(windows.Status, 0) << windows.Err;
    EXPECT_EQ(Comparable(windows.Out, folder.Path("win.png")),
              Comparable(linux.Out, folder.Path("linux.png")));
    EXPECT_EQ(Comparable(windows.Err, folder.Path("win.png")),
              Comparable(linux.Err, folder.Path("linux.png")));
    EXPECT_NE(linux.Err.find("cut off"), std::string::npos) << linux.Err;
    PngPixels a, b;
    ASSERT_TRUE(ReadPngPixels(folder.Path("linux.png"), a));
    ASSERT_TRUE(ReadPngPixels(folder.Path("win.png"), b));
    EXPECT_EQ(a.Width, b.Width);
    EXPECT_EQ(a.Height, b.Height);
    EXPECT_TRUE(a.Rgb == b.Rgb) << "the pictures differ in their pixels";

    // An empty file: the same line and status.
    WriteText(folder.Path("empty.csv"), "");
    const std::vector<std::string> bad = {"--output", folder.Path("e.png"),
                                          folder.Path("empty.csv")};
    const ToolRun linuxBad = RunLinuxProgram(folder, kLinuxReport, bad);
    const ToolRun windowsBad = RunWindowsProgram(folder, kReportExe, bad);
    EXPECT_EQ(linuxBad.Status, 1);
    EXPECT_EQ(windowsBad.Status, 1);
    EXPECT_EQ(Lf(windowsBad.Err), linuxBad.Err);
}

}  // namespace qv
