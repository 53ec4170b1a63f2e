// quorvelle-batch --capture on a small disk that fills up and then has room again: the
// recording gives way first and says so; the read-out log, the I/Q file and the CSV files go on
// until nothing more fits, keep whole rows only, hold the rows they miss and write them, in
// order, once files are deleted; the run ends with status 0 and the rows of a run with room.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "capture/csv_output.h"
#include "tests/csv_rows.h"
#include "tests/readouts.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

// A tmpfs of `megabytes` mounted on `dir` while it lives; Problem() says why not.
class SmallDisk {
public:
    SmallDisk(const std::string& dir, int megabytes) : dir_(dir) {
        if (geteuid() != 0) {
            problem_ = "mounting a tmpfs needs root";
            return;
        }
        const std::string command = "mount -t tmpfs -o size=" + std::to_string(megabytes) +
                                    "m tmpfs '" + dir + "' 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        char text[512] = "";
        const size_t n = pipe != nullptr ? fread(text, 1, sizeof text - 1, pipe) : 0;
        text[n] = '\0';
        if (pipe == nullptr || pclose(pipe) != 0) {
            problem_ = "cannot mount a tmpfs here: " + std::string(text);
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk() {
        if (!mounted_) return;
        if (std::system(("umount '" + dir_ + "'").c_str()) != 0) {
            std::system(("umount -l '" + dir_ + "'").c_str());
        }
    }
    const std::string& Problem() const { return problem_; }

private:
    std::string dir_;
    std::string problem_;
    bool mounted_ = false;
};

// [bytes] free on the disk that holds `dir`.
int64_t FreeBytes(const std::string& dir) {
    struct statvfs s {};
    return statvfs(dir.c_str(), &s) == 0 ? static_cast<int64_t>(s.f_bavail) * s.f_frsize : -1;
}

// A file of `bytes`, or fewer when the disk is full first.
void Fill(const std::string& path, int64_t bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    const std::string block(65536, 'x');
    while (bytes > 0) {
        const ssize_t n = write(fd, block.data(), std::min<int64_t>(bytes, block.size()));
        if (n <= 0) break;
        bytes -= n;
    }
    close(fd);
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The rows without their first cell, the time: wall clock live, stream time over the simulator.
Rows WithoutTimes(Rows rows) {
    for (auto& row : rows) row.erase(row.begin());
    return rows;
}

// `live` begins `full`, the rows of a longer run.
template <typename T>
void ExpectBegins(const std::vector<T>& live, std::vector<T> full, const std::string& what) {
    ASSERT_GE(full.size(), live.size()) << what;
    full.resize(live.size());
    EXPECT_EQ(live, full) << what;
}

TEST(BatchFullDisk, RowsMissedWhileTheDiskIsFullFollowInOrderWhenThereIsRoomAgain) {
    TestFolder folder;
    const std::string dir = folder.Path("disk");
    std::filesystem::create_directories(dir);
    SmallDisk disk(dir, 4);
    if (!disk.Problem().empty()) GTEST_SKIP() << disk.Problem();
    const std::string rec = dir + "/rec.wav", iq = dir + "/iq.txt", csv = dir + "/s.csv",
                      iqCsv = dir + "/p.csv", log = dir + "/log.tsv";
    const std::string filler = dir + "/filler", rest = dir + "/rest";
    // Below the 1 MB floor from the start: the recording stops at the run's first look.
    Fill(filler, FreeBytes(dir) - 900000);

    ChildProcess child;
    const std::string out = folder.Path("out"), err = folder.Path("err");
    std::string error;
    ASSERT_TRUE(child.Start({QUORVELLE_BATCH_BIN, "--capture", "--integration", "1", "--record",
                             rec, "--min-free", "1", "--iq-file", iq, "--csv", csv, "--iq-csv",
                             iqCsv, "--log", log, "--simulate", "60"},
                            {}, out, err, error))
        << error;
    const auto says = [&err](const std::string& part) {
        return [&err, part] { return FileText(err).find(part) != std::string::npos; };
    };
    ASSERT_TRUE(WaitWhileRunning(child, says("the recording " + rec + " stops"), 10s))
        << FileText(err);
    // The rest of the room taken: each file fails when the page it writes in is full.
    Fill(rest, int64_t{1} << 30);
    const std::string full = ": cannot write: No space left on device";
    ASSERT_TRUE(WaitWhileRunning(
        child, [&] { return says(log + full)() && says(csv + full)(); }, 30s))
        << FileText(err);
    std::this_thread::sleep_for(2s);  // rows held meanwhile
    std::filesystem::remove(rest);
    std::filesystem::remove(filler);
    ASSERT_TRUE(WaitWhileRunning(
        child,
        [&] { return says(log + ": written again")() && says(csv + ": written again")(); }, 10s))
        << FileText(err);
    std::this_thread::sleep_for(2s);  // rows written on time again
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Wait(30s), 0) << FileText(err);

    // Each failure and each resumption said once; a file that failed took all it missed.
    const std::string said = FileText(err);
    EXPECT_EQ(Count(said, "the recording " + rec + " stops: "), 1u) << said;
    for (const std::string& path : {log, csv, iq, iqCsv}) {
        const size_t failures = Count(said, path + full);
        EXPECT_EQ(failures, Count(said, path + ": written again; ")) << said;
        EXPECT_LE(failures, 1u) << said;
        EXPECT_EQ(Count(said, path + ": more than"), 0u) << "nothing given up: " << said;
    }
    const std::string listed = FileText(out);
    EXPECT_NE(listed.find("recording: " + rec + " (stopped early: its disk was short of room)"),
              std::string::npos)
        << listed;
    for (const std::string& line : {"I/Q file: " + iq, "CSV: " + csv, "I/Q CSV: " + iqCsv,
                                    "read-out log: " + log}) {
        EXPECT_NE(listed.find(line + "\n"), std::string::npos) << listed;
    }
    const std::vector<std::string> events = LogTexts(log, "CAPTURE");
    for (const std::string& event :
         {"read-out log not written whole: " + log + full, "read-out log " + log + ": written again",
          "CSV file not written whole: " + csv + full, "CSV file " + csv + ": written again"}) {
        EXPECT_EQ(std::count_if(events.begin(), events.end(),
                                [&](const std::string& e) { return e.rfind(event, 0) == 0; }),
                  1)
            << event;
    }

    // Every row whole and in its place: the rows of the same run on a disk with room, but for
    // their times (wall clock here, stream time there).
    const Rows seconds = ReadCsv(csv, kSecondColumns), periods = ReadCsv(iqCsv, kPeriodColumns);
    ASSERT_GE(seconds.size(), 8u);
    const std::string roomy = folder.Path("roomy");
    const ToolRun batch = RunProgram(
        {QUORVELLE_BATCH_BIN, "--quiet", "--integration", "1", "--iq-file", roomy + ".txt", "--csv",
         roomy + ".csv", "--iq-csv", roomy + "-p.csv", "--log", roomy + ".tsv", "--simulate",
         std::to_string(seconds.size() + 2)},
        {}, roomy + ".out", roomy + ".err", 60s);
    ASSERT_EQ(batch.Status, 0) << batch.Err;
    ExpectBegins(WithoutTimes(seconds), WithoutTimes(ReadCsv(roomy + ".csv", kSecondColumns)),
                 "--csv");
    ExpectBegins(WithoutTimes(periods), WithoutTimes(ReadCsv(roomy + "-p.csv", kPeriodColumns)),
                 "--iq-csv");
    for (const char* readout : {"IDFREQERROR", "IDTIMINGERROR", "IDCLICKPHASE"}) {
        ExpectBegins(LogTexts(log, readout), LogTexts(roomy + ".tsv", readout), readout);
    }
    const std::string text = FileText(iq);
    ASSERT_EQ(text.rfind(IqTextHeader(), 0), 0u) << text;
    ASSERT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
    const std::string roomyText = FileText(roomy + ".txt");
    std::vector<std::string> records = IqTextRecords(text.substr(0, text.size() - 2)),
                             roomyRecords = IqTextRecords(roomyText.substr(0, roomyText.size() - 2));
    EXPECT_EQ(records.size(), periods.size());
    for (auto* list : {&records, &roomyRecords}) {
        for (std::string& r : *list) r = r.substr(8);  // after the time of day
    }
    ExpectBegins(records, roomyRecords, "--iq-file");
}

}  // namespace

}  // namespace qv
