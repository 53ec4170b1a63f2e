// quorvelle-batch killed outright in a live run: the I/Q file on the disk holds its header and
// whole records only, every record of the periods that had closed; the CSV files hold whole
// rows, which Python's csv module reads as numbers with the UTC date and time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "files/iq_file.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

// Reads both CSV files as a script would (csv.reader, float()) and prints their row counts; a
// row that is not whole, or a field that does not read, fails an assertion.
constexpr const char* kCsvReader = R"(
import csv, re, sys
def rows(path, header, numbers):
    with open(path, newline='') as f:
        table = list(csv.reader(f))
    assert table[0] == header.split(','), table[0]
    for row in table[1:]:
        assert len(row) == len(table[0]), row
        assert re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z', row[0]), row
        [float(row[k]) for k in numbers]
    t = [float(row[1]) for row in table[1:]]
    assert all(b > a for a, b in zip(t, t[1:])), t
    return len(table) - 1
print(rows(sys.argv[1], sys.argv[2], range(1, 9)), rows(sys.argv[3], sys.argv[4], range(1, 7)))
)";

// Rows after the header, with LF after each; ADD_FAILURE for a row cut short.
size_t WholeRows(const std::string& text) {
    if (!text.empty() && text.back() != '\n') ADD_FAILURE() << "a row cut short: " << text;
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    return lines > 0 ? lines - 1 : 0;
}

TEST(BatchKilled, IqFileKeepsTheHeaderAndEveryClosedPeriodAndTheCsvFilesWholeRows) {
    TestFolder folder;
    const std::string iq = folder.Path("iq.txt");
    const std::string csv = folder.Path("seconds.csv"), iqCsv = folder.Path("iq.csv");
    ChildProcess child;
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(child.Start({QUORVELLE_BATCH_BIN, "--quiet", "--integration", "1", "--iq-file", iq,
                             "--csv", csv, "--iq-csv", iqCsv, "--capture", "--simulate", "600"},
                            {}, folder.Path("out"), folder.Path("err"), error))
        << error;
    // Wait for three one-second periods to close, then kill in the middle of the next.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    size_t seen = 0;
    while (seen < 3 && child.Running() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // Lines ended so far, less the header's two (a record being written may show in part).
        const std::string text = FileText(iq);
        size_t lines = 0;
        for (size_t at = text.find("\r\n"); at != std::string::npos;
             at = text.find("\r\n", at + 2)) {
            ++lines;
        }
        seen = lines > 2 ? lines - 2 : 0;
    }
    ASSERT_TRUE(child.Running()) << FileText(folder.Path("err"));
    ASSERT_GE(seen, 3u);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    child.Signal(SIGKILL);
    const double ran =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(child.Wait(std::chrono::seconds(10)), -1);

    // Every period closed before the kill; a capture that stalled and caught up may have closed
    // several since, but a paced one never more than its running time holds.
    const std::vector<std::string> records = IqTextRecords(FileText(iq));
    EXPECT_GE(records.size(), seen);
    EXPECT_LE(static_cast<double>(records.size()), ran + 1);
    ASSERT_FALSE(records.empty());
    EXPECT_FALSE(records.back().empty());  // no closing CR LF: the run did not end normally

    // A row per period and per second, every one whole; the kill may fall between a period's
    // record and its row.
    const size_t periodRows = WholeRows(FileText(iqCsv));
    EXPECT_LE(periodRows, records.size() + 1);
    EXPECT_GE(periodRows + 1, records.size());
    const size_t seconds = WholeRows(FileText(csv));
    EXPECT_GE(seconds + 1, records.size());
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no python3 to read the files";
    const ToolRun python = RunProgram(
        {"/usr/bin/python3", "-c", kCsvReader, csv,
         "time,t_s,freq_error_ppm,timing_error_us,audio_level_pct,click_phase_deg,"
         "click_level_pct,lock_freq_hz,click_position,status,pps_edge_frame,card_ppm_fine,"
         "pps_residual_us,pps_series,pps_slip_frames",
         iqCsv, "time,t_s,i,q,phase_deg,level_db,dropped_frames"},
        {}, folder.Path("py.out"), folder.Path("py.err"), std::chrono::seconds(30));
    EXPECT_EQ(python.Status, 0) << python.Err;
    EXPECT_EQ(python.Out, std::to_string(seconds) + " " + std::to_string(periodRows) + "\n");
}

}  // namespace

}  // namespace qv
