// quorvelle-batch --capture on a small disk that fills up and then has room again: the
// recording gives way first and says so; the read-out log, the I/Q file and the CSV files go on
// until nothing more fits, keep whole rows only, hold the rows they miss and write them, in
// order, once files are deleted; the run ends with status 0 and the rows of a run with room.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "capture/csv_output.h"
#include "tests/csv_rows.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

// A tmpfs of `megabytes` mounted on `dir` while it lives.
struct SmallDisk {
    SmallDisk(const std::string& dir, int megabytes) : Dir(dir) {
        const std::string size = std::to_string(megabytes) + "m tmpfs '" + dir + "' 2>/dev/null";
        Mounted = geteuid() == 0 && std::system(("mount -t tmpfs -o size=" + size).c_str()) == 0;
    }
    ~SmallDisk() {
        if (Mounted && std::system(("umount '" + Dir + "'").c_str()) != 0)
            std::system(("umount -l '" + Dir + "'").c_str());
    }
    std::string Dir;
    bool Mounted = false;
};

// A file of `bytes`, or fewer when the disk is full first.
void Fill(const std::string& path, int64_t bytes) {
    std::ofstream file(path, std::ios::binary);
    const std::string block(4096, 'x');
    for (; bytes > 0 && file.write(block.data(), block.size()).flush(); bytes -= 4096) {
    }
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(BatchFullDisk, RowsMissedWhileTheDiskIsFullFollowInOrderWhenThereIsRoomAgain) {
    TestFolder folder;
    const std::string dir = folder.Path("disk"), roomy = folder.Path("roomy.csv");
    std::filesystem::create_directories(dir);
    SmallDisk disk(dir, 4);
    if (!disk.Mounted) GTEST_SKIP() << "cannot mount a tmpfs here (it needs root)";
    const std::string rec = dir + "/rec.wav", iq = dir + "/iq.txt", csv = dir + "/s.csv",
                      iqCsv = dir + "/p.csv", log = dir + "/log.tsv";
    // Below the 1 MB floor from the start: the recording stops at the run's first look.
    Fill(dir + "/filler", static_cast<int64_t>(std::filesystem::space(dir).available) - 900000);
    ChildProcess child;
    const std::string out = folder.Path("out"), err = folder.Path("err");
    std::string error;
    ASSERT_TRUE(child.Start(
        {QUORVELLE_BATCH_BIN, "--capture", "--integration", "1", "--record", rec, "--min-free", "1",
         "--iq-file", iq, "--csv", csv, "--iq-csv", iqCsv, "--log", log, "--simulate", "60"},
        {}, out, err, error))
        << error;
    auto says = [&err](const std::string& a, const std::string& b) {
        return [&err, a, b] { return Count(FileText(err), a) > 0 && Count(FileText(err), b) > 0; };
    };
    const std::string stops = "the recording " + rec + " stops: ";
    ASSERT_TRUE(WaitWhileRunning(child, says(stops, stops), 10s)) << FileText(err);
    // The rest of the room taken: each file fails once the page it writes in is full.
    Fill(dir + "/rest", int64_t{1} << 30);
    const std::string full = ": cannot write: No space left on device", again = ": written again";
    ASSERT_TRUE(WaitWhileRunning(child, says(log + full, csv + full), 30s)) << FileText(err);
    std::this_thread::sleep_for(2s);  // rows held meanwhile
    std::filesystem::remove(dir + "/rest");
    std::filesystem::remove(dir + "/filler");
    ASSERT_TRUE(WaitWhileRunning(child, says(log + again, csv + again), 10s)) << FileText(err);
    std::this_thread::sleep_for(2s);  // rows written on time again
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Wait(30s), 0) << FileText(err);

    // Each failure and each resumption said once, on stderr and as a CAPTURE line; a file that
    // failed took all it missed, and nothing was given up.
    const std::string said = FileText(err), listed = FileText(out);
    std::string events;
    for (const std::string& e : LogTexts(log, "CAPTURE")) events += e + "\n";
    EXPECT_EQ(Count(said, stops), 1u) << said;
    for (const std::string& path : {log, csv, iq, iqCsv}) {
        EXPECT_EQ(Count(said, path + full), Count(said, path + again)) << said;
        EXPECT_LE(Count(said, path + full), 1u) << said;
        EXPECT_EQ(Count(events, path + full) + Count(events, path + again),
                  Count(said, path + full) + Count(said, path + again))
            << events;
    }
    EXPECT_EQ(Count(said, "given up"), 0u) << said;
    EXPECT_EQ(Count(listed, "recording: " + rec + " (stopped early"), 1u) << listed;
    EXPECT_EQ(Count(listed, "CSV: " + csv) + Count(listed, "I/Q file: " + iq), 2u) << listed;

    // Every row whole and in its place: the rows of the same run on a disk with room, but for
    // their times (wall clock here, stream time there); a read-out line for each of them.
    Rows seconds = ReadCsv(csv, kSecondColumns), periods = ReadCsv(iqCsv, kPeriodColumns);
    ASSERT_GE(seconds.size(), 8u);
    const ToolRun batch = RunProgram({QUORVELLE_BATCH_BIN, "--quiet", "--csv", roomy, "--simulate",
                                      std::to_string(seconds.size() + 2)},
                                     {}, roomy + ".out", roomy + ".err", 60s);
    ASSERT_EQ(batch.Status, 0) << batch.Err;
    Rows expected = ReadCsv(roomy, kSecondColumns);
    expected.resize(seconds.size());
    for (auto* rows : {&seconds, &expected}) {
        for (auto& row : *rows) row.erase(row.begin());
    }
    EXPECT_EQ(seconds, expected);
    EXPECT_EQ(LogTexts(log, "IDFREQERROR").size(), seconds.size());
    const std::string records = FileText(iq);
    EXPECT_EQ(IqTextRecords(records.substr(0, records.size() - 2)).size(), periods.size());
}

}  // namespace

}  // namespace qv
