// quorvelle-report over long simulated runs: the Allan deviation of the card with simulated PPS
// jitter, a simulated batch run into a picture and a table, and any number in the inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "report/report_data.h"
#include "report/report_plot.h"
#include "tests/png_pixels.h"
#include "tests/report_files.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

// Lines of printable ASCII: what the report writes for files with ASCII names, whatever is in
// them.
bool PrintableLines(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == '\n' || (c >= ' ' && c <= '~'); });
}

// A --csv file's text with the fine columns (`seconds` rows), for mutating.
std::string FineRunText(int seconds) {
    const std::string path = testing::TempDir() + "report_fuzz_base.csv";
    WriteFineRun(path, seconds, 37.0, 1e-6);
    const std::string text = FileText(path);
    std::remove(path.c_str());
    return text;
}

}  // namespace

// Numbers no run writes, in every place: each gets a text (no buffer of a failed conversion),
// every axis ends (no step that leaves its value as it was), the t_s of a damaged file is said
// and not taken as the run's length. Then mutated files, seeded: a picture or one line, never a
// hang, and only printable text out.
TEST(ReportInputs, AnyNumberGetsATextAndEveryAxisEnds) {
    EXPECT_EQ(Fixed(1e100, 0), "1e+100");
    EXPECT_EQ(Fixed(-1.7976931348623157e308, 4), "-1.7976931348623157e+308");
    EXPECT_EQ(Fixed(1e62, 0).size(), 63u);  // still all its digits
    EXPECT_EQ(Scientific(1e300, 60), "1e+300");
    EXPECT_EQ(AxisTimeText(-1, true), "23:59:59");
    EXPECT_EQ(AxisTimeText(1e300, false).size(), 5u);
    EXPECT_EQ(AxisTimeText(NAN, true), "--:--:--");
    EXPECT_EQ(AxisDateText(1e300, true), "day ?");
    EXPECT_EQ(IntegrationPeriod({0, 1e300, 2e300}), 0);

    TestFolder folder;
    const std::string png = folder.Path("r.png");
    auto report = [&](const std::string& seconds, const std::string& periods = "",
                      std::vector<std::string> extra = {}) {
        WriteText(folder.Path("s.csv"), seconds);
        std::vector<std::string> args = {"--text", "--output", png};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(folder.Path("s.csv"));
        if (!periods.empty()) {
            WriteText(folder.Path("iq.csv"), periods);
            args.push_back(folder.Path("iq.csv"));
        }
        ToolRun r = RunReportTool(args);
        EXPECT_TRUE(PrintableLines(r.Out) && PrintableLines(r.Err)) << r.Out << r.Err;
        return r;
    };
    const std::string header = std::string(kClassicHeader) + "\n";
    auto row = [](const std::string& time, const std::string& ts, const std::string& ppm) {
        return time + "," + ts + "," + ppm + ",1.5,60,12.5,3.2,1700.1,31,locked\n";
    };

    // One row at t_s that no run has: the start is the row's time, the length unknown.
    for (const char* ts : {"1e100", "-1199", "-1e16", "1e70", "1e308", "-1e308"}) {
        const ToolRun r = report(header + row("00:20:00.000", ts, "3"));
        ASSERT_EQ(r.Status, 0) << ts << r.Err;
        EXPECT_NE(r.Out.find("start: 00:20:00 stream time\nlength: unknown (t_s ends at "),
                  std::string::npos)
            << r.Out;
        EXPECT_NE(r.Err.find("is no time since the run's start"), std::string::npos) << r.Err;
    }
    EXPECT_NE(report(header + row("00:20:00.000", "1e100", "3")).Out.find("(t_s ends at 1e+100 s)"),
              std::string::npos);
    // Values that differ in their last bits, at a size where a step of 5 is below their
    // resolution; a run from year 1 to 9999.
    EXPECT_EQ(report(header + row("00:00:01.000", "1", "1e17") +
                     row("00:00:02.000", "2", "100000000000000016"))
                  .Status,
              0);
    const ToolRun ages = report(header + row("0001-01-01T00:00:00.000Z", "1", "3") +
                                row("9999-12-31T23:59:59.000Z", "2", "4"));
    EXPECT_NE(ages.Out.find("start: 0000-12-31 23:59:59 UTC"), std::string::npos) << ages.Out;
    // A radio frequency at the top of the doubles; a byte-order mark before the header.
    std::string periods = std::string(kPeriodHeader) + "\n";
    for (int k = 1; k <= 20; ++k) {
        periods += Clock(k * 3) + "," + std::to_string(k * 3) + ",1,1," +
                   std::to_string(k * 17 % 360 - 180) + ",-30,0\n";
    }
    std::string seconds = header;
    for (int k = 0; k < 64; ++k) seconds += ClassicRow(0, k, 37.0) + "\n";
    const ToolRun rf = report(seconds, periods, {"--rf-frequency", "1e308"});
    EXPECT_NE(rf.Out.find(", RF 1e+308 Hz\n"), std::string::npos) << rf.Out;
    EXPECT_NE(rf.Out.find("(I/Q phase at 1e+308 Hz, tau0 = 3 s"), std::string::npos) << rf.Out;
    const ToolRun marked = report("\xEF\xBB\xBF" + seconds);
    EXPECT_EQ(marked.Status, 0) << marked.Err;
    EXPECT_NE(marked.Out.find("64 second rows"), std::string::npos) << marked.Out;

    // Mutated files: cells swapped for extreme numbers and times, bytes overwritten, lines
    // dropped, doubled or cut.
    const std::vector<std::string> tokens = {"1e308",
                                             "-1e308",
                                             "4.9e-324",
                                             "-0",
                                             "nan",
                                             "inf",
                                             "-inf",
                                             "1e100",
                                             "-1e16",
                                             "1e70",
                                             "9.3e18",
                                             "",
                                             "x",
                                             "1e400",
                                             "100000000000000016",
                                             "9999-12-31T23:59:59.999Z",
                                             "0000-01-01T00:00:00Z",
                                             "23:59:60",
                                             "-1199",
                                             "1e-310"};
    const std::string fineRun = FineRunText(40);
    std::mt19937 random(21);
    auto pick = [&random](size_t n) { return static_cast<size_t>(random() % n); };
    for (int file = 0; file < 40; ++file) {
        std::string text = fineRun, iq = file % 2 == 0 ? periods : "";
        for (int m = 0, mutations = 1 + static_cast<int>(pick(6)); m < mutations; ++m) {
            std::string& target = !iq.empty() && pick(3) == 0 ? iq : text;
            switch (pick(5)) {
                case 0:
                case 1: {  // a cell
                    size_t at = pick(target.size());
                    const size_t begin = target.find_last_of(",\n", at) + 1;
                    const size_t end = target.find_first_of(",\n", begin);
                    if (end == std::string::npos) break;
                    target.replace(begin, end - begin, tokens[pick(tokens.size())]);
                    break;
                }
                case 2:  // a byte
                    target[pick(target.size())] = static_cast<char>(pick(256));
                    break;
                case 3: {  // a line dropped or doubled
                    const size_t begin = target.find('\n', pick(target.size()));
                    const size_t end =
                        begin == std::string::npos ? begin : target.find('\n', begin + 1);
                    if (end == std::string::npos) break;
                    const std::string line = target.substr(begin, end - begin);
                    if (pick(2) == 0) {
                        target.erase(begin, end - begin);
                    } else {
                        target.insert(begin, line);
                    }
                    break;
                }
                default:
                    target.resize(pick(target.size()) + 1);
            }
        }
        const std::vector<std::string> rfOption = {"--rf-frequency",
                                                   file % 4 == 0 ? "1e308" : "10e6"};
        const ToolRun r = report(text, iq, iq.empty() ? std::vector<std::string>{} : rfOption);
        EXPECT_TRUE(r.Status == 0 || r.Status == 1) << file << r.Err;
        if (r.Status == 0) {
            EXPECT_TRUE(r.Out.ends_with("picture: " + png + "\n")) << r.Out;
        }
    }
}

// The whole chain: a simulated run through quorvelle-batch's CSV files into the report, with the
// signal's Allan deviation from the I/Q phase.
TEST(ReportScenario, SimulatedBatchRunBecomesAPictureAndATable) {
    TestFolder folder;
    const ToolRun batch =
        RunBatchTool({"--quiet", "--csv", folder.Path("s.csv"), "--iq-csv", folder.Path("iq.csv"),
                      "--integration", "2", "--start-time", "23:57:00", "--simulate", "300"});
    ASSERT_EQ(batch.Status, 0) << batch.Err;
    const ToolRun r =
        RunReportTool({"--text", "--rf-frequency", "10e6", "--output", folder.Path("r.png"),
                       folder.Path("s.csv"), folder.Path("iq.csv")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("start: 23:57:00 stream time"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("integration period 2 s"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("click position 31"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("picture: " + folder.Path("r.png")), std::string::npos);
    const std::string signal =
        "Allan deviation of the signal (I/Q phase at 10000000 Hz, tau0 = 2 s";
    ASSERT_NE(r.Out.find(signal), std::string::npos) << r.Out;
    const double at2 = TableDeviation(r.Out, signal, 2);
    EXPECT_GT(at2, 1e-12) << r.Out;  // the simulated carrier wanders: a deviation, but a small one
    EXPECT_LT(at2, 1e-7) << r.Out;
    EXPECT_TRUE(std::isfinite(TableDeviation(r.Out, signal, 20))) << r.Out;

    PngPixels png;
    ASSERT_TRUE(ReadPngPixels(folder.Path("r.png"), png));
    ASSERT_EQ(png.Width, 1200);
    ASSERT_EQ(png.Height, 800);
    EXPECT_GT(CountColour(png, 80, 82, 790, 214, 255, 0, 0), 100);   // classic frequency error
    EXPECT_GT(CountColour(png, 80, 82, 790, 214, 0, 128, 0), 1000);  // fine, three pixels high
    EXPECT_GT(CountColour(png, 80, 446, 790, 578, 255, 0, 0), 300);  // phase
    EXPECT_GT(CountColour(png, 80, 628, 790, 760, 0, 0, 255), 300);  // level
    EXPECT_GT(CountColour(png, 892, 82, 1180, 382, 0, 0, 255), 30);  // signal Allan curve
}

// The acceptance check through the real chain: 2 us of simulated PPS jitter gives the card an
// Allan deviation of sqrt(3) x 2 us at tau = 1 s (within 20 %: the estimate's own spread over
// 900 s is about 5 %, the edge estimator adds its own small error) that falls as 1/tau over
// 1 .. 20 s (the least-squares slope of the log-log points within 0.1 of -1).
TEST(ReportScenario, SimulatedPpsJitterShowsInTheCardsAllanDeviation) {
    TestFolder folder;
    const ToolRun batch =
        RunBatchTool({"--quiet", "--csv", folder.Path("s.csv"), "--simulate", "900", "--ppm", "37",
                      "--pps-jitter", "2e-6", "--seed", "2"});
    ASSERT_EQ(batch.Status, 0) << batch.Err;
    const ToolRun r =
        RunReportTool({"--text", "--output", folder.Path("r.png"), folder.Path("s.csv")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");  // every column there, nothing left out
    const std::string title = "Allan deviation of the card";
    EXPECT_NEAR(TableDeviation(r.Out, title, 1) / (std::sqrt(3.0) * 2e-6), 1.0, 0.2) << r.Out;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const std::vector<int> taus = {1, 2, 5, 10, 20};
    for (const int tau : taus) {
        const double x = std::log(tau), y = std::log(TableDeviation(r.Out, title, tau));
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double n = static_cast<double>(taus.size());
    EXPECT_NEAR((n * sxy - sx * sy) / (n * sxx - sx * sx), -1.0, 0.1) << r.Out;
}

}  // namespace qv
