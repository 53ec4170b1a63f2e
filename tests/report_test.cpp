// quorvelle-report: usage, every kind of bad or partial input, the status pages' picture, times
// past midnight, the card's phase, the Allan deviation of fine PPS edges with known jitter, and
// the --adev-csv table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "report/day_report.h"
#include "report/report_data.h"
#include "report/report_plot.h"
#include "report/report_run.h"
#include "tests/gaussian_numbers.h"
#include "tests/png_pixels.h"
#include "tests/report_files.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

TEST(ReportUsage, BadUsageExitsTwoWithOneLineAndOnlyHelpShowsTheUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"s.csv"},
        {"--output", "r.png"},
        {"--output"},
        {"--bogus", "--output", "r.png", "s.csv"},
        {"--output", "r.png", "a.csv", "b.csv", "c.csv"},
        {"--rf-frequency", "abc", "--output", "r.png", "s.csv", "iq.csv"},
        {"--rf-frequency", "-5", "--output", "r.png", "s.csv", "iq.csv"},
        {"--rf-frequency", "10e6", "--output", "r.png", "s.csv"},
    };
    for (const std::vector<std::string>& args : cases) {
        const ToolRun r = RunReportTool(args);
        EXPECT_EQ(r.Status, 2) << r.Err;
        EXPECT_TRUE(IsUsageErrorLine(r.Err, "quorvelle-report")) << r.Err;
        EXPECT_TRUE(r.Out.empty()) << r.Out;
    }
    const ToolRun help = RunReportTool({"--output", "r.png", "--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_TRUE(
        help.Out.starts_with("Usage: quorvelle-report [--text] [--day] [--rf-frequency HZ]"));
    EXPECT_NE(help.Out.find("--output OUT.png"), std::string::npos);
    const ToolRun version = RunReportTool({"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_TRUE(version.Out.starts_with("quorvelle-report ")) << version.Out;
}

// Every input the report cannot use whole: one line each on stderr, a picture of what is there
// or exit status 1 when there is nothing, never a crash.
TEST(ReportInputs, EachBadOrPartialInputGetsOneClearLine) {
    TestFolder folder;
    const std::string png = folder.Path("r.png");
    auto report = [&](std::vector<std::string> files, bool text = false) {
        std::vector<std::string> args = {"--output", png};
        if (text) args.push_back("--text");
        for (const std::string& f : files) args.push_back(folder.Path(f));
        return RunReportTool(args);
    };

    struct Fatal {
        std::string Name, Content, Says;
    };
    const std::vector<Fatal> fatal = {
        {"empty.csv", "", "empty.csv: empty file, no header row"},
        {"partial-header.csv", "time,t_s,freq", "ends inside its first line"},
        {"other.csv", "a,b\n1,2\n", "other.csv: not a quorvelle CSV file: no column time or t_s"},
        {"no-ts.csv", "time,x\n00:00:01.000,2\n", "no column t_s in its header row"},
        {"header-only.csv", std::string(kClassicHeader) + "\n", "header-only.csv: no rows"},
    };
    for (const Fatal& f : fatal) {
        WriteText(folder.Path(f.Name), f.Content);
        const ToolRun r = report({f.Name});
        EXPECT_EQ(r.Status, 1) << f.Name;
        EXPECT_EQ(Lines(r.Err), 1) << r.Err;
        EXPECT_TRUE(r.Err.starts_with("quorvelle-report: ")) << r.Err;
        EXPECT_NE(r.Err.find(f.Says), std::string::npos) << r.Err;
    }
    const ToolRun missing = report({"nothing-here.csv"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("nothing-here.csv: cannot open"), std::string::npos);

    // An old file (no fine columns) from two runs of the window, the second killed in the middle
    // of a row, with a cell that is not a number and a row of the wrong length: each said once,
    // the last run drawn.
    std::string old = std::string(kClassicHeader) + "\n";
    for (int k = 0; k < 50; ++k) old += ClassicRow(3600, k, 20.0) + "\n";
    for (int k = 0; k < 120; ++k) {
        old += (k == 30 ? Clock(7200 + k) + "," + std::to_string(k) + ",oops,1,2,3,4,5,6,locked"
                        : ClassicRow(7200, k, 37.0)) +
               "\n";
    }
    old += "02:02:00.000,1,2\n";
    old += "02:02:01.000,121,37.0,1.5,60";
    WriteText(folder.Path("old.csv"), old);
    const ToolRun r = report({"old.csv"}, true);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Err.find("old.csv: the last line is cut off"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("old.csv: 1 row with the wrong number of fields left out (the first at "
                         "line 172)"),
              std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("old.csv: 1 cell that is not a number or a time left out (the first at "
                         "line 82, column freq_error_ppm)"),
              std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("no column pps_edge_frame, card_ppm_fine, pps_residual_us"),
              std::string::npos);
    EXPECT_NE(r.Err.find("old.csv: 2 runs in the file (t_s starts again): the report shows the "
                         "last, from line 52"),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(Lines(r.Err), 5) << r.Err;
    EXPECT_NE(r.Out.find("start: 02:00:00 stream time"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("120 second rows"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("columns: classic only"), std::string::npos) << r.Out;
    EXPECT_EQ(r.Out.find("Allan deviation of the card"), std::string::npos);
    PngPixels pixels;
    ASSERT_TRUE(ReadPngPixels(png, pixels));
    EXPECT_EQ(pixels.Width, 1200);
    EXPECT_EQ(pixels.Height, 800);

    // An I/Q file of another run (another hour): said, and the I/Q panels left out.
    WriteText(folder.Path("iq-elsewhere.csv"), std::string(kPeriodHeader) +
                                                   "\n10:00:03.000,3,1,1,45,-30,0\n"
                                                   "10:00:06.000,6,1,1,46,-30,0\n");
    const ToolRun elsewhere = report({"old.csv", "iq-elsewhere.csv"});
    EXPECT_EQ(elsewhere.Status, 0);
    EXPECT_NE(elsewhere.Err.find("iq-elsewhere.csv: no rows in the time of"), std::string::npos)
        << elsewhere.Err;

    // Numbers the chain may write ("nan", "inf") and absurd ones: drawn around, never a hang.
    std::string odd = std::string(kClassicHeader) + kFineHeader + "\n";
    const char* edges[] = {"100", "inf", "8100", "nan", "1e308", "16100", "-1e308", "24100"};
    for (int k = 0; k < 8; ++k) {
        odd += ClassicRow(0, k, k % 2 == 0 ? 1e308 : -1e308) + "," + edges[k] + ",nan,inf\n";
    }
    WriteText(folder.Path("odd.csv"), odd);
    WriteText(folder.Path("odd-iq.csv"), std::string(kPeriodHeader) +
                                             "\n00:00:01.000,1,1,1,1e308,inf,0\n"
                                             "00:00:02.000,2,1,1,-1e308,-inf,0\n"
                                             "00:00:03.000,3,1,1,nan,1e300,0\n"
                                             "00:00:04.000,4,1,1,170,-20,0\n");
    const ToolRun oddRun = RunReportTool({"--text", "--rf-frequency", "1e6", "--output", png,
                                          folder.Path("odd.csv"), folder.Path("odd-iq.csv")});
    EXPECT_EQ(oddRun.Status, 0) << oddRun.Err;
    EXPECT_NE(oddRun.Out.find("fine PPS edges: 6 of 8 seconds"), std::string::npos) << oddRun.Out;

    // Outputs are checked before anything is read: an unwritable picture, or one that is an input.
    const ToolRun unwritable = RunReportTool(
        {"--output", folder.Path("no/such/folder/r.png"), folder.Path("nothing-here.csv")});
    EXPECT_EQ(unwritable.Status, 1);
    EXPECT_EQ(Lines(unwritable.Err), 1) << unwritable.Err;
    EXPECT_TRUE(unwritable.Err.starts_with("quorvelle-report: --output ")) << unwritable.Err;
    const ToolRun onInput =
        RunReportTool({"--output", folder.Path("old.csv"), folder.Path("old.csv")});
    EXPECT_EQ(onInput.Status, 2);  // bad usage, as in the batch tool
    EXPECT_TRUE(IsUsageErrorLine(onInput.Err, "quorvelle-report")) << onInput.Err;
    EXPECT_NE(onInput.Err.find("is the input file"), std::string::npos);
    EXPECT_EQ(FileText(folder.Path("old.csv")), old);
    // "--" ends the options: a file name may then begin with '-'.
    const ToolRun dashed = RunReportTool({"--output", png, "--", "-s.csv"});
    EXPECT_EQ(dashed.Status, 1);
    EXPECT_EQ(dashed.Err.find("quorvelle-report: -s.csv: cannot open"), 0u) << dashed.Err;
}

// The status pages' report: quorvelle-report's picture, pixel for pixel; of a file still being
// begun (its header and half a row), the reason there is none, not the note on the half row.
TEST(ReportInputs, StatusPageAndDayReportsAreTheTools) {
    TestFolder folder;
    std::string rows = std::string(kClassicHeader) + "\n";
    for (int k = 0; k < 20; ++k) rows += ClassicRow(3600, k, 20.0) + "\n";
    WriteText(folder.Path("s.csv"), rows);
    const ToolRun tool = RunReportTool(
        {"--output", folder.Path("tool.png"), folder.Path("s.csv"), folder.Path("no-iq.csv")});
    ASSERT_EQ(tool.Status, 0) << tool.Err;
    std::string png, error;
    ASSERT_TRUE(ReportPng(folder.Path("s.csv"), folder.Path("no-iq.csv"), png, error)) << error;
    WriteText(folder.Path("page.png"), png);
    PngPixels fromTool, fromPage;
    ASSERT_TRUE(ReadPngPixels(folder.Path("tool.png"), fromTool));
    ASSERT_TRUE(ReadPngPixels(folder.Path("page.png"), fromPage));
    EXPECT_EQ(fromPage.Width, 1200);
    EXPECT_TRUE(fromPage.Rgb == fromTool.Rgb) << "the page's report differs from the tool's";

    WriteText(folder.Path("begun.csv"), std::string(kClassicHeader) + "\n00:00:01.000,1,2");
    EXPECT_FALSE(ReportPng(folder.Path("begun.csv"), "", png, error));
    EXPECT_EQ(error, folder.Path("begun.csv") + ": no rows to report");

    // A finished day's report, on the worker: the tool's --text --day text beside its picture;
    // a day with nothing to report a warning; a text that cannot be written a failure.
    const auto day = [&](const std::string& seconds, const std::string& text) {
        return DayReportFiles{"DAY", folder.Path(seconds), folder.Path("no-iq.csv"),
                              folder.Path("day.png"), folder.Path(text)};
    };
    DayReportWorker worker;
    std::string said = "?";
    worker.Start(day("s.csv", "day.txt"));
    EXPECT_TRUE(worker.Take(said));
    EXPECT_EQ(said, "");
    const ToolRun dayTool = RunReportTool({"--text", "--day", "--output", folder.Path("tool.png"),
                                           folder.Path("s.csv"), folder.Path("no-iq.csv")});
    EXPECT_EQ(dayTool.Out,
              FileText(folder.Path("day.txt")) + "picture: " + folder.Path("tool.png") + "\n");
    EXPECT_EQ(FileText(folder.Path("day.png")), FileText(folder.Path("tool.png")));
    worker.Start(day("begun.csv", "begun.txt"));
    EXPECT_TRUE(worker.Take(said));
    EXPECT_EQ(said,
              "warning: no report of DAY: " + folder.Path("begun.csv") + ": no rows to report");
    worker.Start(day("s.csv", "missing/day.txt"));
    EXPECT_FALSE(worker.Take(said));
    EXPECT_NE(said.find(folder.Path("missing/day.txt")), std::string::npos) << said;
    EXPECT_TRUE(worker.Take(said)) << "taken once";
    EXPECT_FALSE(worker.Finished()) << "nothing waits to be taken";
}

// Times as the CSV files write them: stream time of day counted on past midnight, ISO dates, and
// the axis texts.
// Value axis labels: fixed decimals as the step needs them, 0 without a sign; steps below a
// millionth (a noise-free run's residuals, 2e-12 apart) as mantissa and exponent, which fit
// beside the axis.
TEST(ReportInputs, TickLabelsFitBesideTheAxisAtAnyScale) {
    EXPECT_EQ(ValueTickLabel(0.25, 0.05, 2), "0.25");
    EXPECT_EQ(ValueTickLabel(-1e-17, 0.05, 2), "0.00");
    EXPECT_EQ(ValueTickLabel(8e-12, 2e-12, 12), "8e-12");
    EXPECT_EQ(ValueTickLabel(-2e-12, 2e-12, 12), "-2e-12");
    EXPECT_EQ(ValueTickLabel(1e-25, 2e-12, 12), "0");
    EXPECT_EQ(ValueTickLabel(1.5e-7, 5e-8, 8), "1.5e-7");
}

TEST(ReportInputs, TimesCrossMidnightAndKeepTheirDates) {
    double seconds = 0;
    bool iso = false;
    ASSERT_TRUE(ParseRowTime("2026-12-07T23:59:59.250Z", seconds, iso));
    EXPECT_TRUE(iso);
    EXPECT_EQ(AxisDateText(seconds, true), "2026-12-07");
    EXPECT_EQ(AxisTimeText(seconds + 1, false), "00:00");
    EXPECT_EQ(AxisDateText(seconds + 1, true), "2026-12-08");
    ASSERT_TRUE(ParseRowTime("12:34:56.5", seconds, iso));
    EXPECT_FALSE(iso);
    EXPECT_EQ(seconds, 45296.5);
    for (const char* bad : {"", "24:00:00", "12:34", "12:34:56.", "2026-13-01T00:00:00Z",
                            "2026-12-07T00:00:00", "12:34:56x"}) {
        EXPECT_FALSE(ParseRowTime(bad, seconds, iso)) << bad;
    }

    TestFolder folder;
    std::string text = std::string(kClassicHeader) + "\n";
    for (int k = 0; k < 240; ++k) text += ClassicRow(86400 - 120, k, 5.0) + "\n";
    WriteText(folder.Path("midnight.csv"), text);
    std::vector<CsvRun> runs;
    std::vector<std::string> notes;
    std::string error;
    ASSERT_TRUE(ReadCsvRuns(folder.Path("midnight.csv"), {"freq_error_ppm"}, runs, notes, error));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(runs[0].Time.front(), 86400 - 120);
    EXPECT_EQ(runs[0].Time.back(), 86400 + 119);
    EXPECT_EQ(AxisDateText(runs[0].Time.back(), false), "day 2");
}

// Edges a card makes: a gap of seconds stays a gap, and the phase is the time error against
// exactly 8000 frames per second.
TEST(ReportInputs, CardPhaseCountsSecondsFromTheEdges) {
    const double rate = 8000 * (1 + 500e-6);  // a card 500 ppm fast
    const std::vector<double> edges = {
        100, 100 + rate, NAN, 100 + 3 * rate, 100 + 3.5 * rate, 100 + 7 * rate};
    const std::vector<double> x = CardPhase(edges);
    ASSERT_EQ(x.size(), 8u);
    for (const size_t k : {0u, 1u, 3u, 7u})
        EXPECT_NEAR(x[k], 500e-6 * static_cast<double>(k), 1e-12) << k;
    for (const size_t k : {2u, 4u, 5u, 6u}) EXPECT_TRUE(std::isnan(x[k])) << k;
    // The same card at 44100 frames per second, its edges in those frames.
    std::vector<double> at44k;
    for (const double e : edges) at44k.push_back(e * 44100 / 8000);
    const std::vector<double> x44k = CardPhase(at44k, 44100);
    ASSERT_EQ(x44k.size(), 8u);
    for (const size_t k : {0u, 1u, 3u, 7u}) EXPECT_NEAR(x44k[k], x[k], 1e-12) << k;
    EXPECT_EQ(DeviceRateOf({NAN, 48000, NAN}), 48000);
    EXPECT_EQ(DeviceRateOf({NAN, NAN}), 8000) << "a file without the column is one at 8000";

    const std::vector<double> unwrapped = UnwrapDegrees({170, -170, -10, NAN, 175, -175});
    ASSERT_EQ(unwrapped.size(), 6u);
    EXPECT_DOUBLE_EQ(unwrapped[1], 190);
    EXPECT_DOUBLE_EQ(unwrapped[2], 350);
    EXPECT_TRUE(std::isnan(unwrapped[3]));
    EXPECT_DOUBLE_EQ(unwrapped[4], 175);  // on from -10 across the gap: +185 is -175
    EXPECT_DOUBLE_EQ(unwrapped[5], 185);
    EXPECT_EQ(IntegrationPeriod({2.99975, 5.999875, 9, 12.000125, 15.00025}), 3);
    EXPECT_EQ(IntegrationPeriod({1}), 0);
}

// PPS edges with 2 us of jitter (every tenth second without an edge): the card's Allan deviation
// at tau = 1 s is sqrt(3) x 2 us within 20 %, falls as 1/tau, the gaps cost their terms, and the
// picture draws the fine curves. Edges counted at a card's 192000 frames per second (the CSV
// says so) are turned into time at that rate: the same deviation.
TEST(ReportScenario, FineEdgeJitterGivesTheAllanDeviationItImplies) {
    TestFolder folder;
    WriteFineRun(folder.Path("card.csv"), 300, 37.0, 2e-6, 192000);
    const ToolRun card =
        RunReportTool({"--text", "--output", folder.Path("card.png"), folder.Path("card.csv")});
    ASSERT_EQ(card.Status, 0) << card.Err;
    EXPECT_NE(card.Out.find(", input 192000 frames/s\n"), std::string::npos) << card.Out;
    EXPECT_NEAR(
        TableDeviation(card.Out, "Allan deviation of the card", 1) / (std::sqrt(3.0) * 2e-6), 1.0,
        0.2)
        << card.Out;
    WriteFineRun(folder.Path("fine.csv"), 1800, 37.0, 2e-6);
    const ToolRun r =
        RunReportTool({"--text", "--output", folder.Path("r.png"), folder.Path("fine.csv")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const std::string title = "Allan deviation of the card";
    int64_t terms = 0;
    const double at1 = TableDeviation(r.Out, title, 1, &terms);
    const double at20 = TableDeviation(r.Out, title, 20);
    const double expected = std::sqrt(3.0) * 2e-6;
    EXPECT_NEAR(at1 / expected, 1.0, 0.2) << r.Out;
    EXPECT_NEAR(std::log(at20 / at1) / std::log(20.0), -1.0, 0.1) << r.Out;
    // Differences i, i+1, i+2 that miss the edgeless seconds 7, 17, ...: 7 of every 10.
    int64_t whole = 0;
    for (int i = 0; i + 2 < 1800; ++i) {
        whole += (i % 10 != 7 && (i + 1) % 10 != 7 && (i + 2) % 10 != 7) ? 1 : 0;
    }
    EXPECT_EQ(terms, whole);
    EXPECT_NE(r.Out.find("fine PPS edges: 1620 of 1800 seconds"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("card frequency error, fine: last 37.000000 ppm"), std::string::npos);

    PngPixels png;
    ASSERT_TRUE(ReadPngPixels(folder.Path("r.png"), png));
    ASSERT_EQ(png.Width, 1200);
    EXPECT_GT(CountColour(png, 892, 82, 1180, 382, 200, 0, 0), 100);      // the card's curve
    EXPECT_GT(CountColour(png, 80, 264, 790, 412, 0, 128, 0), 500);       // residuals
    EXPECT_GT(CountColour(png, 0, 0, 1199, 799, 255, 255, 255), 800000);  // mostly white
}

// --adev-csv: the header, one row per tau of the card, the same numbers as the text's table
// (to its 4 digits), MDEV equal to ADEV at tau0 (one second difference per window, the same
// gaps), TDEV = tau / sqrt(3) MDEV, empty cells where the edgeless seconds leave MDEV no window
// of 3 m points, and the TDEV panel drawn. An output that cannot be written
// is one line and status 1 before any work; one that is an input, or the picture, bad usage.
TEST(ReportAdevCsv, OneRowPerTauWithEveryColumnAndTheOutputChecks) {
    TestFolder folder;
    WriteFineRun(folder.Path("fine.csv"), 1800, 37.0, 2e-6);
    const std::string csv = folder.Path("adev.csv"), png = folder.Path("r.png");
    const ToolRun r =
        RunReportTool({"--text", "--adev-csv", csv, "--output", png, folder.Path("fine.csv")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("Allan table: " + csv + "\npicture: " + png + "\n"), std::string::npos);
    std::istringstream lines(FileText(csv));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line,
              "source,tau_s,adev,adev_low,adev_high,terms,edf,noise,mdev,mdev_low,mdev_high,"
              "mdev_terms,mdev_edf,mdev_noise,tdev_s");
    std::vector<double> taus;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
        if (line.ends_with(",")) cells.emplace_back();
        ASSERT_EQ(cells.size(), 15u) << line;
        EXPECT_EQ(cells[0], "card");
        const double tau = std::stod(cells[1]), adev = std::stod(cells[2]);
        taus.push_back(tau);
        int64_t terms = 0;
        const double shown =
            TableDeviation(r.Out, "Allan deviation of the card", static_cast<int>(tau), &terms);
        EXPECT_NEAR(adev / shown, 1.0, 5e-4) << line;
        EXPECT_EQ(std::to_string(terms), cells[5]);
        EXPECT_LT(std::stod(cells[3]), adev);
        EXPECT_GT(std::stod(cells[4]), adev);
        if (tau >= 5) {  // every tenth second has no edge
            EXPECT_EQ(line.substr(line.find(",white PM,")), ",white PM,,,,0,,,");
            continue;
        }
        const double mdev = std::stod(cells[8]), tdev = std::stod(cells[14]);
        EXPECT_LT(std::stod(cells[9]), mdev);
        EXPECT_GT(std::stod(cells[10]), mdev);
        EXPECT_EQ(cells[13], "white PM");
        EXPECT_NEAR(tdev / (tau / std::sqrt(3.0) * mdev), 1.0, 1e-12) << line;
        if (tau == 1) {
            EXPECT_EQ(cells[8], cells[2]);
            EXPECT_EQ(cells[11], cells[5]);
            EXPECT_EQ(cells[7], "white PM");
        }
    }
    EXPECT_EQ(taus, (std::vector<double>{1, 2, 5, 10, 20, 50, 100, 200, 500}));
    PngPixels pixels;
    ASSERT_TRUE(ReadPngPixels(png, pixels));
    EXPECT_GT(CountColour(pixels, 892, 328, 1180, 438, 200, 0, 0), 50);  // the TDEV curve

    const std::string missing = folder.Path("no/such/folder/adev.csv");
    const ToolRun bad = RunReportTool(
        {"--adev-csv", missing, "--output", folder.Path("b.png"), folder.Path("fine.csv")});
    EXPECT_EQ(bad.Status, 1);
    EXPECT_TRUE(bad.Err.starts_with("quorvelle-report: --adev-csv " + missing + ": ")) << bad.Err;
    EXPECT_EQ(Lines(bad.Err), 1) << bad.Err;
    EXPECT_FALSE(std::filesystem::exists(folder.Path("b.png")));
    for (const std::string& same : {folder.Path("fine.csv"), png}) {
        const ToolRun usage =
            RunReportTool({"--adev-csv", same, "--output", png, folder.Path("fine.csv")});
        EXPECT_EQ(usage.Status, 2) << usage.Err;
        EXPECT_TRUE(IsUsageErrorLine(usage.Err, "quorvelle-report")) << usage.Err;
    }
}

}  // namespace qv
