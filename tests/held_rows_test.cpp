// Rows held while a file cannot take them: each reaches the file whole or not at all, in order
// and once, a failure and its end are each one change, and the memory held stays bounded with
// what was given up counted.
#include "files/held_rows.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "files/iq_file.h"
#include "tests/test_files.h"
#include "tools/batch_run.h"

namespace qv {

namespace {

// A file on a disk with `Room` bytes left: a write takes what fits and, like AppendWholeRecord,
// cuts a line left in part off again.
struct SmallDisk {
    std::string Text;
    size_t Room = 0;  // [bytes]

    HeldRows::WriteFn Writer() {
        return [this](std::string_view rows, size_t& written) {
            const size_t fits = std::min(Room, rows.size());
            const size_t lineEnd = rows.substr(0, fits).rfind('\n');
            written = fits == rows.size() ? fits : lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
            Text.append(rows.substr(0, written));
            Room -= written;
            return written == rows.size() ? 0 : ENOSPC;
        };
    }
};

TEST(HeldRows, RowsReachTheFileWholeInOrderOnceWhenThereIsRoomAgain) {
    SmallDisk disk;
    disk.Room = 10;  // "row 1\n" and 4 bytes
    HeldRows held;
    int code = -1;
    EXPECT_EQ(held.Write("row 1\n", disk.Writer(), code), HeldChange::None);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(held.Write("row 2\n", disk.Writer(), code), HeldChange::Failed);
    EXPECT_EQ(code, ENOSPC);
    EXPECT_EQ(held.Write("row 3\nrow 4\n", disk.Writer(), code), HeldChange::None) << "said once";
    EXPECT_EQ(disk.Text, "row 1\n") << "no part of a row";
    EXPECT_TRUE(held.Failing());
    EXPECT_EQ(held.HeldLines(), 3);

    // Room for row 2 and part of the block after it: the block's first line goes, its second
    // stays held and is not written twice.
    disk.Room = 15;
    EXPECT_EQ(held.Retry(disk.Writer(), code), HeldChange::None);
    EXPECT_EQ(disk.Text, "row 1\nrow 2\nrow 3\n");
    EXPECT_EQ(held.HeldLines(), 1);

    disk.Room = 1000;
    EXPECT_EQ(held.Write("row 5\n", disk.Writer(), code), HeldChange::Resumed);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(disk.Text, "row 1\nrow 2\nrow 3\nrow 4\nrow 5\n");
    EXPECT_EQ(held.LateLines(), 3) << "rows 2 to 4 came late, row 5 on time";
    EXPECT_EQ(held.LostLines(), 0);
    EXPECT_EQ(ResumedText("a.csv", held, "rows"),
              "a.csv: written again; 3 rows held meanwhile are in it now");
    EXPECT_EQ(held.Write("row 6\n", disk.Writer(), code), HeldChange::None);
    EXPECT_FALSE(held.EverDropped());
}

TEST(HeldRows, BeyondTheBoundTheOldestAreGivenUpCountedAndSaidOnce) {
    SmallDisk disk;  // full from the start
    HeldRows held(12);  // [bytes] four rows of three
    int code = 0;
    EXPECT_EQ(held.Write("r0\n", disk.Writer(), code), HeldChange::Failed);
    for (int k = 1; k < 4; ++k) {
        EXPECT_EQ(held.Write("r" + std::to_string(k) + "\n", disk.Writer(), code), HeldChange::None);
    }
    EXPECT_EQ(held.Write("r4\n", disk.Writer(), code), HeldChange::Dropping);
    EXPECT_EQ(held.Write("r5\n", disk.Writer(), code), HeldChange::None) << "said once";
    EXPECT_EQ(held.HeldLines(), 4);
    EXPECT_EQ(held.DroppedLines(), 2);
    EXPECT_EQ(held.LostLines(), 6);
    EXPECT_EQ(DroppingText("iq.txt", held, "records"),
              "iq.txt: more than 12 bytes of records held: the oldest are given up");

    disk.Room = 100;
    EXPECT_EQ(held.Retry(disk.Writer(), code), HeldChange::Resumed);
    EXPECT_EQ(disk.Text, "r2\nr3\nr4\nr5\n") << "the newest kept, in order";
    EXPECT_EQ(ResumedText("iq.txt", held, "records"),
              "iq.txt: written again; 4 records held meanwhile are in it now; 2 records given "
              "up (more than 12 bytes held)");

    // A new failure counts afresh; the file still lacks what was given up before.
    disk.Room = 0;
    EXPECT_EQ(held.Write("r6\n", disk.Writer(), code), HeldChange::Failed);
    EXPECT_EQ(held.DroppedLines(), 0);
    EXPECT_TRUE(held.EverDropped());
}

// The I/Q file of quorvelle-batch on a disk that fills up: the file keeps its whole records,
// takes those it missed when there is room again, in order, and ends as if written in one go;
// each failure and each resumption is one line on stderr and one CAPTURE text, mid-run or,
// when the room comes back only then, at the end.
TEST(HeldRows, TheIqFileTakesTheRecordsItMissedWhenThereIsRoomAgain) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file size limit to stand in for a full disk";
#else
    TestFolder folder;
    for (const bool roomMidRun : {true, false}) {
        const std::string path = folder.Path(roomMidRun ? "mid.txt" : "end.txt");
        std::ostringstream err;
        IqOutput iq(err);
        std::string text = IqTextHeader();
        std::vector<std::string> said;
        auto append = [&](int k) {
            const std::string record = IqRecord("00:00:0" + std::to_string(k), 1000 + k, 2000 + k);
            text += record;
            if (!iq.Append(record)) said.push_back(iq.LogText());
        };
        const std::string failure = path + ": cannot write: File too large";
        {
            // Mid-run: the header and two records of 36 bytes fit. At the end: not even the
            // header.
            FileSizeLimit full(roomMidRun ? IqTextHeader().size() + 2 * 36 + 10 : 10);
            if (!iq.Create(path)) said.push_back(iq.LogText());
            for (int k = 0; k < 6; ++k) append(k);
            EXPECT_EQ(FileText(path), text.substr(0, FileText(path).size()));
            EXPECT_EQ(FileText(path).size(), roomMidRun ? IqTextHeader().size() + 2 * 36 : 0u);
        }
        if (roomMidRun) append(6);
        EXPECT_TRUE(iq.Finish()) << err.str();
        EXPECT_TRUE(iq.Written());
        EXPECT_EQ(FileText(path), text + "\r\n");
        EXPECT_EQ(iq.Records(), roomMidRun ? 7 : 6);
        std::vector<std::string> expected = {"I/Q file not written: " + failure};
        std::string lines = "quorvelle-batch: " + failure + " (the run goes on)\n";
        if (roomMidRun) {
            const std::string resumed = path + ": written again; 4 records held meanwhile are in it now";
            expected.push_back("I/Q file " + resumed);
            lines += "quorvelle-batch: " + resumed + "\n";
        } else {
            lines += "quorvelle-batch: " + path + ": written whole at the end\n";
        }
        EXPECT_EQ(said, expected);
        EXPECT_EQ(err.str(), lines);
    }
#endif
}

}  // namespace

}  // namespace qv
