// The CSV files for plotting (--csv, --iq-csv): read as a CSV reader reads them, their numbers
// agree with the read-outs and the I/Q file; their place among the batch tool's output checks;
// the file's rows stay whole when writes fail; rows appended by a later run; the frames a live
// capture drops counted in the period that holds them.
#include "capture/csv_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "capture/live_chain.h"
#include "common/time_of_day.h"
#include "tests/chain_fixture.h"
#include "tests/csv_rows.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

// A value agrees with a read-out whose mask shows `decimals` decimals: within half a step of
// the last digit (and a little more for the binary value of the read-out's decimal text).
void ExpectShownAs(const std::string& field, const std::string& readout, int decimals) {
    const double half = 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9);
    EXPECT_NEAR(Field(field), static_cast<double>(Number(readout)), half) << readout;
}

TEST(CsvFiles, BatchRowsAgreeWithTheReadoutsTheIqFileAndTheStreamTime) {
    TestFolder folder;
    const std::string csv = folder.Path("seconds.csv"), iqCsv = folder.Path("iq.csv");
    const std::string log = folder.Path("log.tsv"), iq = folder.Path("iq.txt");
    const ToolRun r = RunBatchTool({"--quiet", "--integration", "2", "--start-time", "23:59:55",
                                    "--log", log, "--iq-file", iq, "--csv", csv, "--iq-csv", iqCsv,
                                    "--simulate", "14", "--ppm", "25"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("CSV: " + csv + "\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("I/Q CSV: " + iqCsv + "\n"), std::string::npos) << r.Out;

    // Seconds: one row per second's end, in the order of the read-outs' lines in the log.
    const Rows seconds = ReadCsv(csv, kSecondColumns);
    ASSERT_GE(seconds.size(), 13u);
    std::map<std::string, std::string> shown;  // the read-outs as they stand
    size_t row = 0;
    for (const LogLine& line : ReadLog(log)) {
        shown[line.Name] = line.Text;
        if (line.Name != "IDAUDIOLEVEL") continue;  // the last of a second's three
        ASSERT_LT(row, seconds.size());
        const std::vector<std::string>& s = seconds[row++];
        EXPECT_EQ(s[0], line.Time) << "the time the read-outs were set";
        // The stream time is the frame's index / 8000 s after the start time, past midnight.
        const double t = Field(s[1]);
        EXPECT_EQ(s[0], FormatTimeWithMilliseconds((23 * 3600 + 59 * 60 + 55) * 1000LL +
                                                   std::llround(t * 8000) / 8));
        ExpectShownAs(s[2], shown["IDFREQERROR"], 2);
        ExpectShownAs(s[3], shown["IDTIMINGERROR"], 2);
        ExpectShownAs(s[4], shown["IDAUDIOLEVEL"], 1);
        ExpectShownAs(s[5], shown["IDCLICKPHASE"], 3);
        ExpectShownAs(s[6], shown["IDCLICKLEVEL"], 3);
        ExpectShownAs(s[7], shown["IDLOCKFREQOUT"], 3);
        EXPECT_EQ(s[8], shown["IDCLICKPEAK"].substr(shown["IDCLICKPEAK"].find("= ") + 2));
    }
    EXPECT_EQ(row, seconds.size());
    // t_s steps by one second of 8000 frames; the card runs 25 ppm fast, and the clock loop
    // moves an edge by a frame or so. Only the second in which the loop aligns itself with the
    // first PPS edge is shorter.
    EXPECT_GT(Field(seconds[1][1]) - Field(seconds[0][1]), 0);
    EXPECT_LE(Field(seconds[1][1]) - Field(seconds[0][1]), 1);
    for (size_t k = 2; k < seconds.size(); ++k) {
        EXPECT_NEAR(Field(seconds[k][1]) - Field(seconds[k - 1][1]), 1, 0.001) << k;
    }

    // Periods: one row per record of the I/Q file, with its time, the sums it rounds, and the
    // phase and level of the sums as the chart plots them.
    const Rows periods = ReadCsv(iqCsv, kPeriodColumns);
    const std::vector<std::string> records = TextLines(iq);
    ASSERT_EQ(records.size(), periods.size() + 3) << "header, records, closing empty line";
    for (size_t k = 0; k < periods.size(); ++k) {
        const std::vector<std::string>& p = periods[k];
        const std::string& record = records[k + 2];
        const size_t comma1 = record.find(','), comma2 = record.find(',', comma1 + 1);
        EXPECT_EQ(p[0].substr(0, 8), record.substr(0, 8));
        EXPECT_EQ(p[0].size(), 12u);
        const double i = Field(p[2]), q = Field(p[3]);
        EXPECT_NEAR(i, std::stod(record.substr(comma1 + 1)), 0.5e-7 + 1e-9) << record;
        EXPECT_NEAR(q, std::stod(record.substr(comma2 + 1)), 0.5e-7 + 1e-9) << record;
        EXPECT_NEAR(Field(p[4]), std::atan2(q, i) * 180 / M_PI, 1e-9);
        EXPECT_NEAR(Field(p[5]), 10 * std::log10((i * i + q * q) / (8000.0 * 2 * 2 * 8000)), 1e-9);
        EXPECT_EQ(p[6], "0") << "a recording drops nothing";
        if (k > 0) {
            EXPECT_NEAR(Field(p[1]) - Field(periods[k - 1][1]), 2, 0.001);
        }
    }
}

TEST(CsvFiles, BatchChecksTheCsvFilesWithTheOtherOutputsAndReportsWriteFailures) {
    TestFolder folder;
    const std::string input = folder.Path("in.wav"), log = folder.Path("log.tsv");
    RunSimulatorTool({"--seconds", "1", input});
    const std::string missing = folder.Path("missing/x.csv");
    struct Case {
        std::vector<std::string> Args;
        int Status;
        std::string Says;
    };
    for (const Case& c : std::vector<Case>{
             {{"--csv", folder.Path("a"), "--iq-file", folder.Path("a"), input},
              2,
              "--iq-file " + folder.Path("a") + " and --csv " + folder.Path("a") + " are one file"},
             {{"--iq-csv", input, input}, 2, "--iq-csv " + input + " is the input recording"},
             {{"--csv", folder.Path("b"), "--iq-csv", folder.Path("b"), input}, 2, "one file"},
             {{"--log", log, "--iq-csv", missing, input},
              1,
              "quorvelle-batch: --iq-csv " + missing + ": cannot create: No such file"},
         }) {
        const ToolRun r = RunBatchTool(c.Args);
        EXPECT_EQ(r.Status, c.Status) << r.Err;
        EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
        EXPECT_FALSE(std::filesystem::exists(log)) << "checked before anything is written";
    }

    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string csv = folder.Path("s.csv");
    const ToolRun r = RunBatchTool({"--quiet", "--log", log, "--csv", csv, "--iq-csv", "/dev/full",
                                    "--integration", "1", "--simulate", "4"});
    EXPECT_EQ(r.Status, 1) << "an output that could not be written";
    const std::string failure = "/dev/full: cannot write: No space left on device";
    // Said once when it happens, and at the end with the count of rows the file lacks (the
    // header among them).
    const std::string lost = failure + "; 5 rows never written";
    EXPECT_EQ(r.Err, "quorvelle-batch: " + failure +
                         " (the run goes on)\nquorvelle-batch: " + lost + "\n");
    EXPECT_EQ(LogTexts(log, "CAPTURE"),
              (std::vector<std::string>{"CSV file not written whole: " + failure,
                                        "CSV file not written whole: " + lost}));
    EXPECT_NE(r.Out.find("CSV: " + csv + "\n"), std::string::npos) << r.Out;
    EXPECT_EQ(r.Out.find("I/Q CSV:"), std::string::npos) << r.Out;
    EXPECT_EQ(ReadCsv(csv, kSecondColumns).size(), 4u) << "the other file is whole";
}

TEST(CsvFiles, RowsStayWholeWhenWritesFailAndTheRowsHeldFollowWhenThereIsRoom) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file size limit to stand in for a full disk";
#else
    TestFolder folder;
    const std::string path = folder.Path("rows.csv");
    const std::vector<std::string> columns = {"a", "b"};
    std::vector<std::string> failures, resumptions;
    std::string error;
    {
        CsvFile file;
        file.WriteFailed = [&failures](const std::string& f) { failures.push_back(f); };
        file.WriteResumed = [&resumptions](const std::string& r) { resumptions.push_back(r); };
        ASSERT_TRUE(file.Open(path, columns, CsvStart::Truncate, error)) << error;
        file.WriteRow({"1", "x"});
        {
            // A file size limit lets the next row in only in part, as a full disk would.
            FileSizeLimit full(12);  // [bytes] "a,b\n1,x\n" and 4 more
            file.WriteRow({"2", "too long"});
            file.WriteRow({"3", "held"});
            EXPECT_TRUE(file.HasFailed());
        }
        EXPECT_EQ(FileText(path), "a,b\n1,x\n") << "no part of a row is left";
        file.WriteRow({"4", "y"});  // the disk has room again: the rows held go first
        EXPECT_TRUE(file.Close(error)) << error;
        EXPECT_FALSE(file.HasFailed()) << "the file lacks nothing";
    }
    EXPECT_EQ(failures, std::vector<std::string>{path + ": cannot write: File too large"});
    EXPECT_EQ(resumptions, std::vector<std::string>{
                               path + ": written again; 2 rows held meanwhile are in it now"});
    EXPECT_EQ(FileText(path), "a,b\n1,x\n2,too long\n3,held\n4,y\n");

    // Appended to by a later run: no second header. A file of other rows is refused untouched.
    {
        CsvFile file;
        ASSERT_TRUE(file.Open(path, columns, CsvStart::Append, error)) << error;
        file.WriteRow({"5", "z"});
        EXPECT_TRUE(file.Close(error)) << error;
    }
    const std::string rows = "a,b\n1,x\n2,too long\n3,held\n4,y\n5,z\n";
    EXPECT_EQ(FileText(path), rows);
    CsvFile other;  // "a": a header that only begins the file's first line "a,b"
    EXPECT_FALSE(other.Open(path, {"a"}, CsvStart::Append, error));
    EXPECT_EQ(error.rfind(path + ": holds something else", 0), 0u) << error;
    EXPECT_EQ(FileText(path), rows);
    CsvFile empty;
    WriteText(path, "");
    ASSERT_TRUE(empty.Open(path, columns, CsvStart::Append, error)) << error;
    EXPECT_TRUE(empty.Close(error));
    EXPECT_EQ(FileText(path), "a,b\n") << "an empty file gets the header";
#endif
}

TEST(CsvFiles, NumbersReadBackExactlyAndTextsAndTimesAreWhatReadersExpect) {
    for (long double v : {8001 / 8000.0L, 1700.0L, 31.0L, -0.5L, 1e-7L, 0.1L, 2 / 3.0L,
                          -237.59999999999999L, 59.99755993479996774L, 1e300L * 1e10L}) {
        const std::string text = CsvNumber(v);
        EXPECT_EQ(std::strtold(text.c_str(), nullptr), v) << text;
        EXPECT_EQ(text.find_first_of(", "), std::string::npos) << text;
    }
    EXPECT_EQ(CsvNumber(8001 / 8000.0L), "1.000125");
    EXPECT_EQ(CsvNumber(1700), "1700");
    EXPECT_EQ(CsvText("locked"), "locked");
    EXPECT_EQ(CsvText("no edge, weak"), "\"no edge, weak\"");
    EXPECT_EQ(CsvText("a \"b\""), "\"a \"\"b\"\"\"");

    EXPECT_EQ(FormatIsoUtc(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(FormatIsoUtc(1796661001250), "2026-12-07T16:30:01.250Z");
    EXPECT_EQ(FormatIsoUtc(-1), "1969-12-31T23:59:59.999Z");
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    EXPECT_TRUE(std::regex_match(FormatIsoUtc(UnixMillisecondsNow()), iso));
}

// A file of the columns an earlier version wrote (without the fine ones) is refused for
// appending, untouched, with a message that says what is missing and what to do.
TEST(CsvFiles, AFileOfTheEarlierColumnsIsRefusedWithWhatToDo) {
    TestFolder folder;
    const std::string path = folder.Path("old.csv");
    const std::string old =
        "time,t_s,freq_error_ppm,timing_error_us,audio_level_pct,click_phase_deg,"
        "click_level_pct,lock_freq_hz,click_position,status\n"
        "00:00:01.000,1,0,0,60,,,,,clock-settling\n";
    WriteText(path, old);
    CsvOutputs outputs;
    std::string error;
    EXPECT_FALSE(outputs.Open(path, "", CsvStart::Append, nullptr, error));
    EXPECT_EQ(error, path +
                         ": holds rows of an earlier layout, without the columns "
                         "pps_edge_frame,card_ppm_fine,pps_residual_us,pps_series,"
                         "pps_slip_frames; give a new file for "
                         "this run's rows");
    EXPECT_EQ(FileText(path), old);
    // A first line that only shares a start with ours is something else.
    WriteText(path, "time,t_s,freq\n");
    EXPECT_FALSE(outputs.Open(path, "", CsvStart::Append, nullptr, error));
    EXPECT_EQ(error.rfind(path + ": holds something else", 0), 0u) << error;
}

// The window opens --csv before Start tells the card's rate: a file that holds only the header
// of that open takes the rate's columns; one with earlier rows keeps them and gets no more.
TEST(CsvFiles, TheColumnsFollowARateKnownOnlyAtStartWhileTheFileHoldsNoRow) {
    const auto JoinedHeader = [](const std::vector<std::string>& columns) {
        std::string line;
        for (const std::string& c : columns) line += (line.empty() ? "" : ",") + c;
        return line + "\n";
    };
    TestFolder folder;
    const std::string fresh = folder.Path("fresh.csv"), used = folder.Path("used.csv");
    std::string error;
    CsvOutputs outputs;
    ASSERT_TRUE(outputs.Open(fresh, "", CsvStart::Append, nullptr, error)) << error;
    ASSERT_TRUE(outputs.SetDeviceRate(48000, error)) << error;
    outputs.Close();
    EXPECT_EQ(FileText(fresh), JoinedHeader(SecondColumns(48000)));
    EXPECT_EQ(SecondColumns(48000).back(), "device_rate_hz");

    const std::string earlier = JoinedHeader(kSecondColumns) + "00:00:01.000,1,0,0,60,,,,,x,,,,,\n";
    WriteText(used, earlier);
    ASSERT_TRUE(outputs.Open(used, "", CsvStart::Append, nullptr, error)) << error;
    EXPECT_FALSE(outputs.SetDeviceRate(44100, error));
    EXPECT_EQ(error.rfind(used + ": holds rows of other columns", 0), 0u) << error;
    EXPECT_NE(error.find("no --csv rows"), std::string::npos) << error;
    EXPECT_FALSE(outputs.Seconds.IsOpen());
    EXPECT_EQ(FileText(used), earlier);
}

// The live chain counts the frames of each gap in the period that holds it, whether or not
// "Save I,Q to file?" is on; the click columns stay empty until the lock has read the click.
TEST(CsvFiles, DroppedFramesGoToThePeriodThatHoldsThemAndClickColumnsWaitForAReading) {
    StartedChain c;
    ReadIntegrationTime(c.M, "1");
    c.M.Front.SecondIndex = 5000;  // the first second ends before the click position comes
    ReadoutLog log;
    std::ostringstream err;
    LiveChain chain(c.M, log, err, "quorvelle-test");
    const std::vector<Frame> block(kFramesPerBlock, Frame{0, 0});
    for (int k = 0; k < 200; ++k) {  // 3.2 s: periods close near 1, 2 and 3 s
        if (k == 80) chain.CaptureGap(k * kFramesPerBlock, 256, 0);
        if (k == 100) chain.CaptureGap(k * kFramesPerBlock, 100, 1);
        chain.CaptureFrames(block.data(), kFramesPerBlock);
    }
    ASSERT_EQ(c.Host.periods.size(), 3u);
    EXPECT_EQ(c.Host.periods[0].DroppedFrames, 0);
    EXPECT_EQ(c.Host.periods[1].DroppedFrames, 356);
    EXPECT_EQ(c.Host.periods[2].DroppedFrames, 0);
    EXPECT_EQ(PeriodRow("t", c.Host.periods[1])[6], "356");

    ASSERT_GE(c.Host.seconds.size(), 2u);
    EXPECT_FALSE(c.Host.seconds[0].Click.Read);
    const std::vector<std::string> first = SecondRow("t", c.M, c.Host.seconds[0]);
    EXPECT_EQ(first[1], "0.374875") << "2999 output samples, one frame each";
    EXPECT_EQ(std::vector<std::string>(first.begin() + 5, first.begin() + 9),
              std::vector<std::string>(4, ""));
    EXPECT_EQ(first[9], StatusName(c.M)) << "the signal's state, never empty";
    EXPECT_NE(first[9], "");
    const std::vector<std::string> second = SecondRow("t", c.M, c.Host.seconds[1]);
    EXPECT_EQ(second[7], "1700");
    EXPECT_EQ(second[8], "31");
}

}  // namespace

}  // namespace qv
