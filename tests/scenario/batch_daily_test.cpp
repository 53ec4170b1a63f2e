// quorvelle-batch --daily: a simulated minute across midnight split into two day folders that
// together hold the run's rows, records and lines byte for byte, each in the day of its time; a
// file found in a day folder kept; each day reported on its own rows, as quorvelle-report --day
// reports them; a live run across a UTC midnight (the wall clock moved by the test) split the
// same way; the options it refuses and a folder it cannot write.
#include "tools/batch_daily.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/time_of_day.h"
#include "files/iq_file.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tools/batch_run.h"

namespace qv {

namespace {

// The text after its first line: a CSV file's rows without the header every day repeats.
std::string Rows(const std::string& text) {
    const size_t end = text.find('\n');
    return end == std::string::npos ? "" : text.substr(end + 1);
}

// 7 s periods from 23:59:30: the one closing just before 00:00:05 began before midnight.
const std::vector<std::string> kMinuteOverMidnight = {
    "--integration", "7", "--start-time", "23:59:30", "--quiet", "--simulate", "60"};

// The t_s cells of a CSV file's rows.
std::vector<double> SecondsSinceStart(const std::string& path) {
    std::vector<double> ts;
    for (const std::string& row : TextLines(path)) {
        if (row.starts_with("time,")) continue;
        ts.push_back(std::strtod(row.c_str() + row.find(',') + 1, nullptr));
    }
    return ts;
}

std::vector<std::string> WithSimulation(std::vector<std::string> options) {
    options.insert(options.end(), kMinuteOverMidnight.begin(), kMinuteOverMidnight.end());
    return options;
}

TEST(BatchDaily, DayFolderIsTheUtcDateAndItsNamesOneSet) {
    EXPECT_EQ(DayFolder("d", 0), "d/1970/01/01");
    EXPECT_EQ(DayFolder("d", -1), "d/1969/12/31");
    EXPECT_EQ(DayFolder("d/", 1709164800000), "d/2024/02/29");  // a leap day's first ms
    EXPECT_EQ(DayFolder("d", 1709164800000 - 1), "d/2024/02/28");

    // One taken name moves the whole fresh set to the next number; appended, the plain names
    // stay. The switch comes with the first millisecond of the next day, not before.
    TestFolder folder;
    int64_t now = 1709164800000 - 1;
    const std::vector<std::string> names = {kDailyLogName, kDailySecondsName};
    DayFolders fresh(folder.Path("d"), names, [&now] { return now; });
    DayFolders appended(
        folder.Path("d"), names, [&now] { return now; }, DayStart::Append);
    std::string error;
    std::filesystem::create_directories(folder.Path("d/2024/02/28"));
    WriteText(folder.Path("d/2024/02/28/seconds.csv"), "");
    ASSERT_TRUE(fresh.Open(error)) << error;
    ASSERT_TRUE(appended.Open(error)) << error;
    EXPECT_EQ(fresh.Path(kDailyLogName), folder.Path("d/2024/02/28/readouts-2.tsv"));
    EXPECT_EQ(appended.Path(kDailySecondsName), folder.Path("d/2024/02/28/seconds.csv"));
    EXPECT_FALSE(fresh.DayChanged());
    now += 1;
    EXPECT_TRUE(fresh.DayChanged());
    ASSERT_TRUE(fresh.Open(error)) << error;
    EXPECT_EQ(fresh.Path(kDailyLogName), folder.Path("d/2024/02/29/readouts.tsv"));
    EXPECT_FALSE(fresh.DayChanged());
}

TEST(BatchDaily, DaysTogetherAreTheRunWithoutDaily) {
    TestFolder folder;
    const std::string log = folder.Path("log.tsv"), iq = folder.Path("iq.txt"),
                      csv = folder.Path("seconds.csv"), iqCsv = folder.Path("periods.csv");
    const ToolRun whole = RunBatchTool(
        WithSimulation({"--log", log, "--iq-file", iq, "--csv", csv, "--iq-csv", iqCsv}));
    ASSERT_EQ(whole.Status, 0) << whole.Err;

    // A station that ran on the second day before: its file there is kept, and this run's files
    // of that day take the next number, all of them.
    const std::string dir = folder.Path("days"), first = dir + "/1970/01/01",
                      second = dir + "/1970/01/02";
    std::filesystem::create_directories(second);
    WriteText(second + "/iq.txt", "an earlier run\n");
    const ToolRun daily = RunBatchTool(WithSimulation({"--daily", dir}));
    ASSERT_EQ(daily.Status, 0) << daily.Err;
    EXPECT_EQ(FileText(second + "/iq.txt"), "an earlier run\n");
    EXPECT_NE(daily.Out.find("day: " + first + "\n"), std::string::npos) << daily.Out;
    EXPECT_NE(daily.Out.find("day: " + second + "\n"), std::string::npos) << daily.Out;

    // Byte for byte, the headers once.
    const std::string seconds1 = FileText(first + "/seconds.csv");
    const std::string periods1 = FileText(first + "/periods.csv");
    const std::string periods2 = FileText(second + "/periods-2.csv");
    EXPECT_EQ(seconds1 + Rows(FileText(second + "/seconds-2.csv")), FileText(csv));
    EXPECT_EQ(periods1 + Rows(periods2), FileText(iqCsv));
    EXPECT_EQ(FileText(first + "/readouts.tsv") + FileText(second + "/readouts-2.tsv"),
              FileText(log));
    // Each I/Q file whole: its header, its records, the closing CR LF.
    const std::string iq1 = FileText(first + "/iq.txt"), iq2 = FileText(second + "/iq-2.txt");
    const std::string header = IqTextHeader();
    ASSERT_TRUE(iq1.starts_with(header) && iq1.ends_with("\r\n\r\n")) << iq1;
    ASSERT_TRUE(iq2.starts_with(header) && iq2.ends_with("\r\n\r\n")) << iq2;
    EXPECT_EQ(iq1.substr(0, iq1.size() - 2) + iq2.substr(header.size()), FileText(iq));
    // The summary counts the records of every day's file, as a run without --daily counts its
    // one file's.
    const auto records = [](const std::string& path) {
        const std::string text = FileText(path);
        return IqTextRecords(text.substr(0, text.size() - 2));  // without the closing CR LF
    };
    std::ostringstream err;
    IqOutput days(err);
    for (const std::string& day : {first + "/iq.txt", second + "/iq-2.txt"}) {
        ASSERT_TRUE(days.Create(day + ".again"));
        for (const std::string& record : records(day)) ASSERT_TRUE(days.Append(record + "\r\n"));
        ASSERT_TRUE(days.Finish());
    }
    EXPECT_EQ(days.Records(), static_cast<int64_t>(records(iq).size()));

    // Every row in the day of its time; the period across midnight only in the later day.
    for (const std::string& row : TextLines(first + "/seconds.csv")) {
        if (row.starts_with("time,")) continue;
        EXPECT_TRUE(row.starts_with("23:59:")) << row;
    }
    ASSERT_TRUE(Rows(periods2).starts_with("00:00:04.")) << periods2;
    const double closedAt = std::strtod(Rows(periods2).c_str() + 13, nullptr);  // its t_s
    EXPECT_LT(closedAt - 7, 30);  // it began before midnight, 30 s into the run
    EXPECT_EQ(IqTextRecords(iq2.substr(0, iq2.size() - 2)).front().substr(0, 8), "00:00:04");

    // Each day's report; the run's last day at its end.
    for (const std::string& picture : {first + "/report.png", second + "/report-2.png"}) {
        EXPECT_TRUE(FileText(picture).starts_with("\x89PNG")) << picture;
    }
    const std::string text = FileText(first + "/report.txt");
    EXPECT_NE(text.find("ppm"), std::string::npos) << text;
    EXPECT_EQ(text.find("picture:"), std::string::npos) << text;
    // Each day on its own: the run's start on the first, the midnight on the next, and each
    // day's length; made on the run's side thread, byte for byte what quorvelle-report makes
    // of the day's files afterwards.
    EXPECT_NE(text.find("start: 23:59:30 stream time\nlength: 29 s "), std::string::npos) << text;
    const std::string later = FileText(second + "/report-2.txt");
    EXPECT_NE(later.find("start: 00:00:00 stream time\nlength: 29 s "), std::string::npos) << later;
    const ToolRun again = RunReportTool({"--text", "--day", "--output", folder.Path("again.png"),
                                         second + "/seconds-2.csv", second + "/periods-2.csv"});
    ASSERT_EQ(again.Status, 0) << again.Err;
    EXPECT_EQ(again.Out, later + "picture: " + folder.Path("again.png") + "\n");
    EXPECT_EQ(FileText(folder.Path("again.png")), FileText(second + "/report-2.png"));
}

// Sets an environment variable for the test's run, as it was afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedVariable() { Set(old_); }

private:
    void Set(const std::string& value) {
#ifdef _WIN32
        _putenv_s(name_, value.c_str());
#else
        setenv(name_, value.c_str(), 1);
#endif
    }
    const char* name_;
    std::string old_;  // empty: none, which the clock reads as no offset
};

TEST(BatchDaily, LiveRunAcrossUtcMidnight) {
    TestFolder folder;
    const std::string dir = folder.Path("station");
    // The wall clock moved to 6 s before the next UTC midnight: a 14 s live run crosses it.
    const int64_t now = UnixMillisecondsNow();
    const int64_t midnight = (DayOf(now) + 1) * kMillisecondsPerDay;
    const ScopedVariable clock(kWallClockOffsetVariable,
                               std::to_string(static_cast<double>(midnight - 6000 - now) / 1000));
    const ToolRun r = RunBatchTool({"--daily", dir, "--quiet", "--capture", "--simulate", "14"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::string first = DayFolder(dir, midnight - 1), second = DayFolder(dir, midnight);
    EXPECT_EQ(r.Out, "day: " + first + "\nday: " + second + "\n");

    // The rows of the two days: each in the day of its UTC date, none lost and none twice (the
    // t_s of consecutive rows a second or an integration period apart, after the first second,
    // which the clock loop ends at the first PPS edge).
    const std::string dateOf[] = {FormatIsoUtc(midnight - 1).substr(0, 11),
                                  FormatIsoUtc(midnight).substr(0, 11)};
    for (const char* name : {kDailySecondsName, kDailyPeriodsName}) {
        std::vector<double> ts;
        for (int day = 0; day < 2; ++day) {
            const std::string path = InFolder(day == 0 ? first : second, name);
            const std::vector<std::string> rows = TextLines(path);
            // (a period may close only after midnight when the run is slow to start)
            if (std::string(name) == kDailySecondsName) {
                EXPECT_GE(rows.size(), 2u) << path;
            }
            for (const std::string& row : rows) {
                if (row.starts_with("time,")) continue;
                EXPECT_TRUE(row.starts_with(dateOf[day])) << row;
            }
            const std::vector<double> more = SecondsSinceStart(path);
            ts.insert(ts.end(), more.begin(), more.end());
        }
        const double step = std::string(name) == kDailySecondsName ? 1 : 3;
        for (size_t i = 2; i < ts.size(); ++i) {
            EXPECT_NEAR(ts[i] - ts[i - 1], step, 0.1) << name << " row " << i;
        }
        EXPECT_NEAR(ts.back() - ts.front(), 14, 5) << name;
    }
    for (const std::string& day : {first, second}) {
        EXPECT_FALSE(TextLines(day + "/readouts.tsv").empty()) << day;
        EXPECT_TRUE(FileText(day + "/iq.txt").ends_with("\r\n\r\n")) << day;
        EXPECT_TRUE(FileText(day + "/report.png").starts_with("\x89PNG")) << day;
        EXPECT_NE(FileText(day + "/report.txt").find(" UTC\n"), std::string::npos) << day;
    }
}

TEST(BatchDaily, LiveDaysAreUtcDates) {
    TestFolder folder;
    const std::string dir = folder.Path("station");
    const int64_t started = UnixMillisecondsNow();
    const ToolRun r = RunBatchTool({"--daily", dir, "--quiet", "--capture", "--simulate", "2"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::string day = DayFolder(dir, started);
    EXPECT_FALSE(TextLines(day + "/readouts.tsv").empty());
    EXPECT_TRUE(TextLines(day + "/seconds.csv").front().starts_with("time,t_s,"));
    EXPECT_TRUE(FileText(day + "/iq.txt").starts_with(IqTextHeader()));
}

TEST(BatchDaily, RefusedOptionsAndUnwritableFolder) {
    TestFolder folder;
    const std::string dir = folder.Path("days");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--daily", dir, "--csv", folder.Path("x.csv"), "--simulate",
                                   "5"},
          std::vector<std::string>{"--daily", dir, "a.wav", "b.wav"}}) {
        const ToolRun r = RunBatchTool(args);
        EXPECT_EQ(r.Status, 2);
        EXPECT_TRUE(IsUsageErrorLine(r.Err, "quorvelle-batch")) << r.Err;
        EXPECT_FALSE(std::filesystem::exists(dir));
    }
    // A folder under a file: one line, the status of an output that cannot be written.
    WriteText(folder.Path("file"), "");
    const ToolRun r =
        RunBatchTool({"--daily", folder.Path("file") + "/days", "--quiet", "--simulate", "5"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Err.starts_with("quorvelle-batch: --daily ")) << r.Err;
    EXPECT_EQ(r.Err.find('\n'), r.Err.size() - 1) << r.Err;

    // The next day's folder cannot be made at midnight: said once, the finished day whole and
    // reported, the run to its end with the status of a file not written.
    const std::string second = dir + "/1970/01/02";
    std::filesystem::create_directories(dir + "/1970/01");
    WriteText(second, "");
    const ToolRun midnight = RunBatchTool(WithSimulation({"--daily", dir}));
    EXPECT_EQ(midnight.Status, 1);
    EXPECT_TRUE(midnight.Err.starts_with("quorvelle-batch: --daily " + second +
                                         ": cannot create the folder: "))
        << midnight.Err;
    EXPECT_EQ(midnight.Err.find('\n'), midnight.Err.size() - 1) << midnight.Err;
    EXPECT_TRUE(FileText(dir + "/1970/01/01/iq.txt").ends_with("\r\n\r\n"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/1970/01/01/report.txt"));
}

}  // namespace

}  // namespace qv
